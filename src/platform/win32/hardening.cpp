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
        win32::Kernel32Export<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        win32::dllSearchLimitedToSystem = true;
        return;
    }
    // Without it, at least take the current folder (where a deployment may have put anything)
    // out of the search order. The program's own folder stays in it: LoadSystemLibrary keeps it
    // out of the search for the dependencies of what it loads.
    ::SetDllDirectoryW(L"");
}

[[noreturn]] void FatalStop() {
    // TerminateProcess on ourselves stops every thread on the spot on all Windows from 6.0:
    // no unwinding, no exit handlers, no error-reporting window. The C runtime's abort() would
    // show a dialog in a GUI program and exit with 3, which callers would read as one of our own
    // exit codes; __fastfail exists only from Windows 8. The status is the one __fastfail and
    // the stack-cookie checks end a process with, so it reads as "stopped on corrupted memory".
    static_assert(FATAL_STOP_EXIT_CODE == STATUS_STACK_BUFFER_OVERRUN);
    ::TerminateProcess(::GetCurrentProcess(), FATAL_STOP_EXIT_CODE);
    // Not reached; should it ever be, an invalid instruction still ends the process.
    __builtin_trap();
}

}  // namespace platform
