// The high-contrast switch for the test build of the window. Wine answers SPI_GETHIGHCONTRAST
// with "off" whatever the user chose, so this build redirects its own import of
// SystemParametersInfoW to a function that, for that one request, answers from where Windows
// keeps the switch: bit HCF_HIGHCONTRASTON of the Flags value (decimal text) under the user's
// key "Control Panel\Accessibility\HighContrast". Every other request goes to the system
// unchanged. The product asks the system directly; only the answer differs.
#include "high_contrast_switch.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

using SystemParametersInfoFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT);

SystemParametersInfoFunction system_parameters_info = nullptr;

bool switched_on_in_registry() {
    wchar_t flags[16] = {};
    DWORD size = sizeof flags;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Accessibility\\HighContrast", L"Flags",
                     RRF_RT_REG_SZ, nullptr, flags, &size) != ERROR_SUCCESS) {
        return false;
    }
    return (std::wcstoul(flags, nullptr, 10) & HCF_HIGHCONTRASTON) != 0;
}

BOOL WINAPI test_system_parameters_info(UINT action, UINT ui_param, PVOID pv_param, UINT win_ini) {
    const BOOL result = system_parameters_info(action, ui_param, pv_param, win_ini);
    if (action == SPI_GETHIGHCONTRAST && result && ui_param == sizeof(HIGHCONTRASTW) &&
        switched_on_in_registry()) {
        static_cast<HIGHCONTRASTW*>(pv_param)->dwFlags |= HCF_HIGHCONTRASTON;
    }
    return result;
}

}  // namespace

bool redirect_high_contrast_switch() {
    auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* const nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
        if (_stricmp(reinterpret_cast<const char*>(base + module->Name), "user32.dll") != 0) {
            continue;
        }
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) {
                continue;
            }
            const auto* by_name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name),
                            "SystemParametersInfoW") != 0) {
                continue;
            }
            DWORD protection = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE,
                                &protection)) {
                return false;
            }
            system_parameters_info =
                reinterpret_cast<SystemParametersInfoFunction>(slot->u1.Function);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(&test_system_parameters_info);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}
