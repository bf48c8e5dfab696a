// The process itself and the tool it starts: WOW64 answer, module file name, scripted child
// processes behind ShellExecuteExW, their waits and exit codes.
#include <algorithm>

#include "platform/process.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim {

using namespace detail;

void SetWow64Answer(bool fails, BOOL flag, DWORD error) {
    M().wow64Fails = fails;
    M().wow64Flag = flag;
    M().wow64Error = error;
}

void SetModuleFileName(const std::u16string& path) {
    M().moduleFileName = path;
    M().moduleFails = false;
}

void FailModuleFileName(DWORD error) {
    M().moduleFails = true;
    M().moduleError = error;
}

void ScriptTool(const ToolScript& script) { M().script = script; }

void OnLaunch(std::function<void()> whileRunning) { M().onLaunch = std::move(whileRunning); }

namespace detail {
std::u16string ProcessTarget(platform::HANDLE handle) {
    const auto found = M().processes.find(reinterpret_cast<std::uintptr_t>(handle));
    return found != M().processes.end() ? found->second.file : std::u16string();
}
}  // namespace detail
const std::vector<Launch>& Launches() { return M().launches; }
const std::vector<DWORD>& Waits() { return M().waits; }
int OpenProcessHandles() { return static_cast<int>(M().processes.size()); }
int ProcessHandleCloses() { return M().processHandleCloses; }

}  // namespace sim

namespace platform {

using namespace sim::detail;

namespace {

ProcessHandle* FindProcess(HANDLE handle) {
    auto it = M().processes.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == M().processes.end() ? nullptr : &it->second;
}

constexpr std::uintptr_t SE_ERR_ACCESSDENIED = 5;
constexpr std::uintptr_t SUCCESS_INSTANCE = 42;  // any value above 32 means success

}  // namespace

HANDLE GetCurrentProcess() {
    DWORD unused = 0;
    Enter("GetCurrentProcess", &unused);
    return CURRENT_PROCESS;
}

BOOL IsWow64Process(HANDLE process, BOOL* wow64) {
    DWORD error = 0;
    if (Enter("IsWow64Process", HandleTarget(process), &error)) return Fail(error);
    Machine& m = M();
    if (process != CURRENT_PROCESS && FindProcess(process) == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (wow64 == nullptr) return Fail(ERROR_NOACCESS);
    if (m.wow64Fails) return Fail(m.wow64Error);
    *wow64 = m.wow64Flag;
    return TRUE;
}

// Windows 6.0 and later: a path that does not fit is cut to size - 1 characters plus the
// terminator, the call returns size and says ERROR_INSUFFICIENT_BUFFER. Nothing is written
// at or past `size`.
DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size) {
    DWORD error = 0;
    if (Enter("GetModuleFileNameW", module == nullptr ? sim::OWN_MODULE : u"", &error)) {
        SetLastError(error);
        return 0;
    }
    Machine& m = M();
    if (module != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (m.moduleFails) {
        SetLastError(m.moduleError);
        return 0;
    }
    if (size == 0 || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::u16string& path = m.moduleFileName;
    if (path.size() >= size) {
        std::copy_n(path.begin(), size - 1, buffer);
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}

// The script decides whether the start works; the file itself is not looked at, so tests of
// the start need not make the tool. A record of the wrong size is refused, as the shell does.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    DWORD error = 0;
    bool injected = Enter("ShellExecuteExW", info != nullptr ? TextOf(info->lpFile) : std::u16string(), &error);
    if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    Machine& m = M();
    sim::Launch launch{};
    launch.cbSize = info->cbSize;
    launch.fMask = info->fMask;
    launch.hwndNull = info->hwnd == nullptr;
    launch.verbNull = info->lpVerb == nullptr;
    launch.parametersNull = info->lpParameters == nullptr;
    launch.directoryNull = info->lpDirectory == nullptr;
    launch.verb = TextOf(info->lpVerb);
    launch.file = TextOf(info->lpFile);
    launch.parameters = TextOf(info->lpParameters);
    launch.directory = TextOf(info->lpDirectory);
    launch.nShow = info->nShow;
    launch.otherFieldsZero = info->hInstApp == nullptr && info->lpIDList == nullptr && info->lpClass == nullptr &&
                             info->hkeyClass == nullptr && info->dwHotKey == 0 && info->hIconOrMonitor == nullptr &&
                             info->hProcess == nullptr;
    m.launches.push_back(launch);

    info->hProcess = nullptr;
    DWORD startError = injected                                             ? error
                       : info->cbSize != sizeof(SHELLEXECUTEINFOW)          ? ERROR_ACCESS_DENIED
                       : info->lpFile == nullptr                            ? ERROR_FILE_NOT_FOUND
                       : BeyondLegacyLimit(info->lpFile, LEGACY_PATH_LIMIT) ? ERROR_FILE_NOT_FOUND
                       : m.script.startFails                                ? m.script.startError
                                                                            : ERROR_SUCCESS;
    if (startError != ERROR_SUCCESS) {
        info->hInstApp = reinterpret_cast<HMODULE>(startError <= 32 ? startError : SE_ERR_ACCESSDENIED);
        return Fail(startError);
    }
    info->hInstApp = reinterpret_cast<HMODULE>(SUCCESS_INSTANCE);
    if ((info->fMask & SEE_MASK_NOCLOSEPROCESS) && !m.script.noProcessHandle) {
        std::uintptr_t value = NewHandleValue();
        m.processes[value] = ProcessHandle{m.script, launch.file};
        info->hProcess = reinterpret_cast<HANDLE>(value);
    }
    if (m.onLaunch) m.onLaunch();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    DWORD error = 0;
    bool injected = Enter("WaitForSingleObject", ProcessTarget(handle), &error);
    Machine& m = M();
    m.waits.push_back(milliseconds);
    if (injected) {
        SetLastError(error);
        return WAIT_FAILED;
    }
    if (m.files.count(reinterpret_cast<std::uintptr_t>(handle)) != 0) return WAIT_OBJECT_0;
    ProcessHandle* process = FindProcess(handle);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (process->script.waitResult == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
    return process->script.waitResult;
}

// A process whose wait times out is still running: its exit code reads STILL_ACTIVE (259).
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
    DWORD error = 0;
    if (Enter("GetExitCodeProcess", ProcessTarget(process), &error)) return Fail(error);
    ProcessHandle* found = FindProcess(process);
    if (found == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (exitCode == nullptr) return Fail(ERROR_NOACCESS);
    if (found->script.exitCodeFails) return Fail(found->script.exitCodeError);
    *exitCode = found->script.waitResult == WAIT_TIMEOUT ? STILL_ACTIVE : found->script.exitCode;
    return TRUE;
}

}  // namespace platform
