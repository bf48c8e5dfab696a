#include "platform/win32/windows_api.h"

namespace platform::win32 {

::HMODULE LoadSystemLibrary(const wchar_t* dllName) {
    wchar_t path[MAX_PATH + 32];
    const ::UINT folderLength = ::GetSystemDirectoryW(path, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH) {
        if (folderLength != 0) {
            ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        }
        return nullptr;
    }
    ::UINT n = folderLength;
    path[n++] = L'\\';
    for (const wchar_t* c = dllName; *c != L'\0'; ++c) {
        if (n == MAX_PATH + 31) {
            ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return nullptr;
        }
        path[n++] = *c;
    }
    path[n] = L'\0';
    return ::LoadLibraryExW(path, nullptr, 0);
}

::FARPROC SystemExport(const wchar_t* dllName, const char* name) {
    const ::HMODULE module = LoadSystemLibrary(dllName);
    return module != nullptr ? ::GetProcAddress(module, name) : nullptr;
}

}  // namespace platform::win32
