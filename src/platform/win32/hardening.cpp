#include "platform/win32/windows_api.h"

namespace platform {

namespace win32 {
bool dllSearchLimitedToSystem = false;
}  // namespace win32

void RestrictDllSearchPath() {
    // SetDefaultDllDirectories exists from Windows 8, and on 6.0/6.1 only with an update; an
    // import would keep the program from starting without it, so it is looked up by name.
    using SetDefaultDllDirectoriesFunction = ::BOOL(WINAPI*)(::DWORD);
    const auto setDefaultDllDirectories =
        win32::SystemFunction<SetDefaultDllDirectoriesFunction>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        win32::dllSearchLimitedToSystem = true;
        return;
    }
    // Without it, at least take the current folder (where a deployment may have put anything)
    // out of the search order. The program's own folder stays in it: SystemExport keeps it
    // out of the search for the dependencies of what it loads.
    ::SetDllDirectoryW(L"");
}

}  // namespace platform
