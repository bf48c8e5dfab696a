// Runs a command line and prints the child's whole 32-bit exit code, which a shell would cut to
// its low 8 bits.
//
//   exit_code_runner <command line>
//
// Everything after the runner's own name is passed unchanged to CreateProcessW. On success the
// runner prints one line "0x<8 hex digits> <unsigned decimal> <signed decimal>", e.g.
// "0xC0000409 3221226505 -1073740791", and exits with 0. It exits with 2 when no command was given
// and with 1 when the child could not be started or awaited (a message then goes to stderr).

#include <windows.h>

#include <cstdio>

namespace {

void Print(DWORD stream, const char* text, int length) {
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), text, static_cast<DWORD>(length), &written, nullptr);
}

int Fail(const char* what) {
    char line[128];
    const int length = std::snprintf(line, sizeof(line), "exit_code_runner: %s failed, error %lu\n", what,
                                     static_cast<unsigned long>(GetLastError()));
    Print(STD_ERROR_HANDLE, line, length);
    return 1;
}

/// The rest of the command line after its first argument (the runner's own name), by the rules
/// the C runtime uses for argv[0]: up to the closing quote when it starts with one, else to the
/// first blank.
wchar_t* SkipProgramName(wchar_t* commandLine) {
    wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') {
            ++p;
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t') {
            ++p;
        }
    }
    while (*p == L' ' || *p == L'\t') {
        ++p;
    }
    return p;
}

}  // namespace

int wmain(int, wchar_t**) {
    // CreateProcessW may write into the command line, and the process's own copy is not ours to
    // change, so it gets a copy.
    const wchar_t* rest = SkipProgramName(GetCommandLineW());
    if (*rest == L'\0') {
        static constexpr char usage[] = "usage: exit_code_runner <command line>\n";
        Print(STD_ERROR_HANDLE, usage, sizeof(usage) - 1);
        return 2;
    }
    const int length = lstrlenW(rest);
    auto* command = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
    if (command == nullptr) {
        return Fail("HeapAlloc");
    }
    lstrcpyW(command, rest);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        return Fail("CreateProcessW");
    }
    CloseHandle(child.hThread);
    if (WaitForSingleObject(child.hProcess, INFINITE) != WAIT_OBJECT_0) {
        return Fail("WaitForSingleObject");
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(child.hProcess, &exitCode)) {
        return Fail("GetExitCodeProcess");
    }
    CloseHandle(child.hProcess);

    char line[64];
    const int lineLength =
        std::snprintf(line, sizeof(line), "0x%08lX %lu %ld\n", static_cast<unsigned long>(exitCode),
                      static_cast<unsigned long>(exitCode), static_cast<long>(static_cast<LONG>(exitCode)));
    Print(STD_OUTPUT_HANDLE, line, lineLength);
    return 0;
}
