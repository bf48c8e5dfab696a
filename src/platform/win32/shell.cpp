#include "platform/win32/windows_api.h"

#include <shlobj.h>
#include <shlwapi.h>

namespace platform {

using win32::Utf16;
using win32::Wide;

HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, char16_t* path) {
    return ::SHGetFolderPathW(win32::Win(owner), csidl, win32::Win(token), flags, Wide(path));
}

BOOL PathFileExistsW(const char16_t* path) { return ::PathFileExistsW(Wide(path)); }

BOOL PathRemoveFileSpecW(char16_t* path) { return ::PathRemoveFileSpecW(Wide(path)); }

char16_t* PathAddBackslashW(char16_t* path) { return Utf16(::PathAddBackslashW(Wide(path))); }

char16_t* PathRemoveBackslashW(char16_t* path) { return Utf16(::PathRemoveBackslashW(Wide(path))); }

}  // namespace platform
