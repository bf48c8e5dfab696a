// Shell folders and the light-weight path functions. Paths are edited in place and never
// grow by more than one character.
#pragma once

#include "platform/types.h"

namespace platform {

inline constexpr int CSIDL_COMMON_APPDATA = 0x0023;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr DWORD MAX_PATH = 260;

/// Writes the folder `csidl` (no trailing backslash) into `path` of MAX_PATH characters.
/// S_OK on success; any other value leaves `path` undefined.
HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, char16_t* path);

/// Non-zero when a file or a folder of that path exists.
BOOL PathFileExistsW(const char16_t* path);

/// Removes the last element and the backslash before it, keeping a drive root ("C:\").
/// Non-zero when something was removed.
BOOL PathRemoveFileSpecW(char16_t* path);

/// Appends a backslash unless the text already ends with one. Returns the terminator's
/// address, or null when the result would not fit in MAX_PATH characters.
char16_t* PathAddBackslashW(char16_t* path);

/// Removes one trailing backslash, except from a root such as "C:\". Returns the address of the
/// backslash that was removed, or of the last character when none was.
char16_t* PathRemoveBackslashW(char16_t* path);

}  // namespace platform
