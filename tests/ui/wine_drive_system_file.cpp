// The real file and device seam, compiled with five of its functions renamed so that the
// test-only drive provider (wine_drive.cpp) can stand in front of them. Everything else is the
// product's own code, unchanged.
#define create_file system_create_file
#define close_handle system_close_handle
#define device_io_control system_device_io_control
#define read_file system_read_file
#define write_file system_write_file
#include "os/win32/file.cpp"
