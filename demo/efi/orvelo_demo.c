// The boot program of the demo installer image: the firmware starts it from
// EFI/BOOT/BOOTX64.EFI on the drive's EFI system partition. It prints one line on the console and
// powers the machine off, which is all a test needs to see that a written drive boots.
//
// Built freestanding for the Windows x86-64 target, so that every function uses the Microsoft
// calling convention the firmware expects, and linked as an EFI application with no runtime
// library at all. Only the few firmware structures used here are declared, each up to the last
// member we touch, laid out as the UEFI standard has them on 64-bit machines.

typedef unsigned long long UINTN;
typedef unsigned long long UINT64;
typedef unsigned int UINT32;
typedef unsigned short CHAR16;
typedef UINTN EFI_STATUS;
typedef void* EFI_HANDLE;

#define EFIAPI __attribute__((ms_abi))

typedef struct {
    UINT64 Signature;
    UINT32 Revision;
    UINT32 HeaderSize;
    UINT32 CRC32;
    UINT32 Reserved;
} EFI_TABLE_HEADER;

typedef struct SIMPLE_TEXT_OUTPUT SIMPLE_TEXT_OUTPUT;
struct SIMPLE_TEXT_OUTPUT {
    EFI_STATUS(EFIAPI* Reset)(SIMPLE_TEXT_OUTPUT* self, unsigned char extended_verification);
    EFI_STATUS(EFIAPI* OutputString)(SIMPLE_TEXT_OUTPUT* self, const CHAR16* text);
};

typedef enum {
    EfiResetCold = 0,
    EfiResetWarm = 1,
    EfiResetShutdown = 2,
} EFI_RESET_TYPE;

typedef struct {
    EFI_TABLE_HEADER Hdr;
    void* GetTime;
    void* SetTime;
    void* GetWakeupTime;
    void* SetWakeupTime;
    void* SetVirtualAddressMap;
    void* ConvertPointer;
    void* GetVariable;
    void* GetNextVariableName;
    void* SetVariable;
    void* GetNextHighMonotonicCount;
    void(EFIAPI* ResetSystem)(EFI_RESET_TYPE type, EFI_STATUS status, UINTN data_size, void* data);
} EFI_RUNTIME_SERVICES;

typedef struct {
    EFI_TABLE_HEADER Hdr;
    CHAR16* FirmwareVendor;
    UINT32 FirmwareRevision;
    EFI_HANDLE ConsoleInHandle;
    void* ConIn;
    EFI_HANDLE ConsoleOutHandle;
    SIMPLE_TEXT_OUTPUT* ConOut;
    EFI_HANDLE StandardErrorHandle;
    SIMPLE_TEXT_OUTPUT* StdErr;
    EFI_RUNTIME_SERVICES* RuntimeServices;
} EFI_SYSTEM_TABLE;

// The firmware's text console takes UCS-2 with CR LF line ends.
static const CHAR16 kGreeting[] = u"\r\nOrvelo installer demo\r\n";

EFI_STATUS EFIAPI efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* system) {
    (void)image;
    system->ConOut->OutputString(system->ConOut, kGreeting);
    system->RuntimeServices->ResetSystem(EfiResetShutdown, 0, 0, 0);
    // ResetSystem does not return; should a firmware get this wrong, stay here rather than hand
    // back to a boot manager that would try the next device.
    for (;;) {
        __asm__ volatile("hlt");
    }
}
