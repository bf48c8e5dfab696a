#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

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
    // A DLL every process has (kernel32) is taken as it is, without loading it again.
    if (const ::HMODULE loaded = ::GetModuleHandleW(path)) {
        return loaded;
    }
    // Flags 0 would resolve the DLL's own imports through the process's search order, which
    // without the restriction still starts with the program's folder. The altered order starts
    // with the DLL's folder instead: the system folder, where all of its dependencies are.
    // Windows without SetDefaultDllDirectories rejects the LOAD_LIBRARY_SEARCH flags.
    const ::DWORD flags = dllSearchLimitedToSystem ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH;
    return ::LoadLibraryExW(path, nullptr, flags);
}

}  // namespace

::FARPROC SystemExport(const wchar_t* dllName, const char* name) {
    const ::HMODULE module = LoadSystemLibrary(dllName);
    return module != nullptr ? ::GetProcAddress(module, name) : nullptr;
}

}  // namespace platform::win32
