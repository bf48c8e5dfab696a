// Runs a command line and prints the child's whole 32-bit exit code, which a shell would cut to
// its low 8 bits. Built twice:
//
//   exit_code_runner <command line>   prints  0x<8 hex digits> <unsigned decimal> <signed decimal>
//   timed_runner <command line>       prints that line, then
//                                     elapsed_us=<N> created=<T> exited=<T>
//
// Everything after the runner's own name goes unchanged to CreateProcessW. elapsed_us is the wall
// time from just before CreateProcessW to the return of the wait (what a deployment system that
// starts the program and waits for it would see); created and exited are the child's own creation
// and exit times from GetProcessTimes, in FILETIME ticks (100 ns since 1601, UTC), so that its end
// can be set against other time stamps such as a file's. The runner exits with 0 on success, 2
// when no command was given and 1 when the child could not be started or awaited (a message then
// goes to stderr).
//
// With RUNNER_HOLD=<file> in the environment the child is created suspended, its process id is
// written to <file>, and it runs only once <file>.go exists (at most 60 s later): a test can prepare
// what depends on the id, such as a log file of the name the child will choose.
//
// With RUNNER_LIMITED=1 the child runs with the filtered token of an administrator under UAC (the
// linked token of the runner's own, elevated one), as a double-click would start it.

#include <windows.h>

#include <cstdio>

#ifndef RUNNER_TIMED
#define RUNNER_TIMED 0
#endif
#ifndef RUNNER_NAME
#define RUNNER_NAME "exit_code_runner"
#endif

namespace {

void Print(DWORD stream, const char* text, int length) {
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), text, static_cast<DWORD>(length), &written, nullptr);
}

int Fail(const char* what) {
    char line[128];
    const int length = std::snprintf(line, sizeof(line), RUNNER_NAME ": %s failed, error %lu\n", what,
                                     static_cast<unsigned long>(GetLastError()));
    Print(STD_ERROR_HANDLE, line, length);
    return 1;
}

/// What follows the first argument of a command line, by the C runtime's rule for argv[0]: up to
/// the closing quote when it starts with one, else up to the first blank; blanks after it skipped.
const wchar_t* AfterProgramName(const wchar_t* p) {
    const wchar_t end = *p == L'"' ? L'"' : L' ';
    if (*p == L'"') {
        ++p;
    }
    while (*p != L'\0' && *p != end && !(end == L' ' && *p == L'\t')) {
        ++p;
    }
    if (*p == L'"') {
        ++p;
    }
    while (*p == L' ' || *p == L'\t') {
        ++p;
    }
    return p;
}

/// Writes the suspended child's id to the hold file and waits for the go file; false on failure.
bool HoldUntilReleased(const wchar_t* holdFile, DWORD processId) {
    char text[16];
    const int length = std::snprintf(text, sizeof(text), "%lu", static_cast<unsigned long>(processId));
    HANDLE file = CreateFileW(holdFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool wrote = file != INVALID_HANDLE_VALUE && WriteFile(file, text, length, &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    if (!wrote) {
        return false;
    }
    wchar_t goFile[MAX_PATH + 4];
    if (lstrlenW(holdFile) >= MAX_PATH) {
        return false;
    }
    lstrcpyW(goFile, holdFile);
    lstrcatW(goFile, L".go");
    for (int waited = 0; waited < 6000; ++waited) {
        if (GetFileAttributesW(goFile) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        Sleep(10);
    }
    SetLastError(ERROR_TIMEOUT);
    return false;
}

/// A primary token of the runner's linked (filtered) token; null when there is none.
HANDLE LimitedToken() {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) {
        return nullptr;
    }
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    const BOOL read = GetTokenInformation(own, TokenLinkedToken, &linked, sizeof(linked), &size);
    CloseHandle(own);
    if (!read) {
        return nullptr;
    }
    HANDLE primary = nullptr;
    if (!DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                          &primary)) {
        primary = nullptr;
    }
    CloseHandle(linked.LinkedToken);
    return primary;
}

unsigned long long Ticks(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

int wmain(int, wchar_t**) {
    const wchar_t* rest = AfterProgramName(GetCommandLineW());
    if (*rest == L'\0') {
        static constexpr char usage[] = "usage: " RUNNER_NAME " <command line>\n";
        Print(STD_ERROR_HANDLE, usage, sizeof(usage) - 1);
        return 2;
    }
    // CreateProcessW may write into the command line it is given; the process's own is not ours.
    const int length = lstrlenW(rest);
    auto* command = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
    if (command == nullptr) {
        return Fail("HeapAlloc");
    }
    lstrcpyW(command, rest);

    LARGE_INTEGER frequency;
    LARGE_INTEGER started;
    LARGE_INTEGER ended;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child{};
    QueryPerformanceCounter(&started);
    wchar_t holdFile[MAX_PATH];
    const DWORD holdLength = GetEnvironmentVariableW(L"RUNNER_HOLD", holdFile, MAX_PATH);
    const bool hold = holdLength > 0 && holdLength < MAX_PATH;
    wchar_t limitedText[4];
    const bool limited = GetEnvironmentVariableW(L"RUNNER_LIMITED", limitedText, 4) == 1 && limitedText[0] == L'1';
    HANDLE token = limited ? LimitedToken() : nullptr;
    if (limited && token == nullptr) {
        return Fail("taking the filtered token");
    }
    const DWORD flags = hold ? CREATE_SUSPENDED : 0;
    const BOOL childStarted =
        limited ? CreateProcessAsUserW(token, nullptr, command, nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                                       &startup, &child)
                : CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &child);
    if (token != nullptr) {
        CloseHandle(token);
    }
    if (!childStarted) {
        return Fail("CreateProcessW");
    }
    if (hold) {
        if (!HoldUntilReleased(holdFile, child.dwProcessId)) {
            TerminateProcess(child.hProcess, 1);
            return Fail("holding the child");
        }
        ResumeThread(child.hThread);
    }
    CloseHandle(child.hThread);
    if (WaitForSingleObject(child.hProcess, INFINITE) != WAIT_OBJECT_0) {
        return Fail("WaitForSingleObject");
    }
    QueryPerformanceCounter(&ended);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(child.hProcess, &exitCode)) {
        return Fail("GetExitCodeProcess");
    }
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (RUNNER_TIMED && !GetProcessTimes(child.hProcess, &created, &exited, &kernel, &user)) {
        return Fail("GetProcessTimes");
    }
    CloseHandle(child.hProcess);

    char text[192];
    int textLength =
        std::snprintf(text, sizeof(text), "0x%08lX %lu %ld\n", static_cast<unsigned long>(exitCode),
                      static_cast<unsigned long>(exitCode), static_cast<long>(static_cast<LONG>(exitCode)));
    if (RUNNER_TIMED) {
        const unsigned long long elapsedUs = static_cast<unsigned long long>(ended.QuadPart - started.QuadPart) *
                                             1000000ull / static_cast<unsigned long long>(frequency.QuadPart);
        textLength +=
            std::snprintf(text + textLength, sizeof(text) - textLength, "elapsed_us=%llu created=%llu exited=%llu\n",
                          elapsedUs, Ticks(created), Ticks(exited));
    }
    Print(STD_OUTPUT_HANDLE, text, textLength);
    return 0;
}
