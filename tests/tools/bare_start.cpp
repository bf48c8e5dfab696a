// The least a launcher can do: start the patch tool elevated through the shell and wait for it.
// The benchmark under Wine measures the launcher's whole run against this program's.
//
//   bare_start <tool> <working folder> <parameters>
//
// Three arguments in the usual quoting (CommandLineToArgvW's rules); the third is handed to the tool
// unchanged as its parameters (the launcher's begin with a space and hold quotes). The launch
// record is the launcher's: "runas", the process handle kept, SW_SHOW. Exits with the tool's exit
// code, or with 5 when the tool could not be started and 1 when the arguments are not as above.
// No registry, no log, no version check, no C runtime streams.

#include <windows.h>

#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 4) {
        return 1;
    }

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"runas";
    info.lpFile = arguments[1];
    info.lpParameters = arguments[3];
    info.lpDirectory = arguments[2];
    info.nShow = SW_SHOW;
    if (!ShellExecuteExW(&info)) {
        return 5;
    }
    DWORD exitCode = 0;
    const DWORD wait = WaitForSingleObject(info.hProcess, 6000000);
    if (wait != WAIT_OBJECT_0) {
        exitCode = wait;
    } else {
        GetExitCodeProcess(info.hProcess, &exitCode);
    }
    CloseHandle(info.hProcess);
    return static_cast<int>(exitCode);
}
