// Paths as the wide strings the Windows file calls take, and the C
// runtime's error numbers for Windows error codes.
#pragma once

namespace bankstitcher {

// A UTF-8 path as the wide string the Windows file calls take, converted as
// the C runtime converts it; nullptr (errno ENAMETOOLONG) when it is too long.
// The string lives until the next call.
const wchar_t* wide_path(const char* path);

// True for a name that, as Windows resolves it, names a named pipe
// (\\.\pipe\NAME, \\?\pipe\NAME, \\?\GLOBALROOT\Device\NamedPipe\NAME, in any
// letter case) or a device (\\.\COM1): every other name, a file on a drive
// however spelled (\\.\C:\dir\file, \\.\\C:\dir\file, \\.\pipe\..\C:\file), on a
// share or on a volume, is a file to look up.
bool names_pipe_or_device(const char* path);

// The C runtime's errno for a Windows error code.
int errno_for(unsigned long windows_error);

}  // namespace bankstitcher
