#include "platform/win32/windows_api.h"

#include <shlobj.h>
#include <shlwapi.h>

namespace platform {

using win32::SystemFunction;
using win32::Utf16;
using win32::Wide;

HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, char16_t* path) {
    static const auto call = SystemFunction<decltype(&::SHGetFolderPathW)>(L"shell32.dll", "SHGetFolderPathW");
    return call != nullptr ? call(win32::Win(owner), csidl, win32::Win(token), flags, Wide(path)) : E_FAIL;
}

BOOL PathFileExistsW(const char16_t* path) {
    static const auto call = SystemFunction<decltype(&::PathFileExistsW)>(L"shlwapi.dll", "PathFileExistsW");
    return call != nullptr ? call(Wide(path)) : FALSE;
}

BOOL PathRemoveFileSpecW(char16_t* path) {
    static const auto call = SystemFunction<decltype(&::PathRemoveFileSpecW)>(L"shlwapi.dll", "PathRemoveFileSpecW");
    return call != nullptr ? call(Wide(path)) : FALSE;
}

char16_t* PathAddBackslashW(char16_t* path) {
    static const auto call = SystemFunction<decltype(&::PathAddBackslashW)>(L"shlwapi.dll", "PathAddBackslashW");
    return call != nullptr ? Utf16(call(Wide(path))) : nullptr;
}

char16_t* PathRemoveBackslashW(char16_t* path) {
    static const auto call = SystemFunction<decltype(&::PathRemoveBackslashW)>(L"shlwapi.dll", "PathRemoveBackslashW");
    return call != nullptr ? Utf16(call(Wide(path))) : nullptr;
}

}  // namespace platform
