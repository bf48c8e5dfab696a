// Version resources of files. On Windows these live in version.dll, which is loaded at run
// time from the system folder by its full path.
#pragma once

#include "platform/types.h"

namespace platform {

/// Size in bytes of `file`'s version resource; 0 on failure (GetLastError tells why, 1812
/// when the file has none). `*handle`, when given, is set to 0.
DWORD GetFileVersionInfoSizeW(const char16_t* file, DWORD* handle);

/// Copies the version resource into `data` of `size` bytes. Non-zero on success.
BOOL GetFileVersionInfoW(const char16_t* file, DWORD handle, DWORD size, void* data);

/// Finds `subBlock` inside a resource that GetFileVersionInfoW copied. For "\" it points
/// `*buffer` at the VS_FIXEDFILEINFO inside `block` and sets `*length` to the bytes that record
/// has there. Non-zero on success.
BOOL VerQueryValueW(const void* block, const char16_t* subBlock, void** buffer, UINT* length);

}  // namespace platform
