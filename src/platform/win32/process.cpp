#include "platform/win32/windows_api.h"

#include <shellapi.h>

#include <cstddef>

// The launch record goes to the shell as it is, so it must be Windows' record byte for byte.
#define SAME_FIELD(ours, theirs)                                                                          \
    static_assert(offsetof(platform::SHELLEXECUTEINFOW, ours) == offsetof(::SHELLEXECUTEINFOW, theirs) && \
                  sizeof(platform::SHELLEXECUTEINFOW::ours) == sizeof(::SHELLEXECUTEINFOW::theirs))
static_assert(sizeof(platform::SHELLEXECUTEINFOW) == sizeof(::SHELLEXECUTEINFOW));
// The shell's headers pack their records to 1 byte (the 32-bit layout has no gaps anyway); ours
// being aligned more strictly is harmless to a reader that expects less.
static_assert(alignof(platform::SHELLEXECUTEINFOW) >= alignof(::SHELLEXECUTEINFOW));
SAME_FIELD(cbSize, cbSize);
SAME_FIELD(fMask, fMask);
SAME_FIELD(hwnd, hwnd);
SAME_FIELD(lpVerb, lpVerb);
SAME_FIELD(lpFile, lpFile);
SAME_FIELD(lpParameters, lpParameters);
SAME_FIELD(lpDirectory, lpDirectory);
SAME_FIELD(nShow, nShow);
SAME_FIELD(hInstApp, hInstApp);
SAME_FIELD(lpIDList, lpIDList);
SAME_FIELD(lpClass, lpClass);
SAME_FIELD(hkeyClass, hkeyClass);
SAME_FIELD(dwHotKey, dwHotKey);
SAME_FIELD(hIconOrMonitor, hIcon);
SAME_FIELD(hIconOrMonitor, hMonitor);
SAME_FIELD(hProcess, hProcess);

// The logic reads GetTokenInformation's answer through these records.
static_assert(sizeof(platform::TOKEN_USER) == sizeof(::TOKEN_USER));
static_assert(offsetof(platform::TOKEN_USER, User.Sid) == offsetof(::TOKEN_USER, User.Sid));
static_assert(offsetof(platform::TOKEN_USER, User.Attributes) == offsetof(::TOKEN_USER, User.Attributes));
static_assert(sizeof(platform::TOKEN_ELEVATION) == sizeof(::TOKEN_ELEVATION));
static_assert(offsetof(platform::TOKEN_ELEVATION, TokenIsElevated) == offsetof(::TOKEN_ELEVATION, TokenIsElevated));
#undef SAME_FIELD

namespace platform {

using win32::Win;

HANDLE GetCurrentProcess() { return win32::Ours(::GetCurrentProcess()); }

// IsWow64Process and GetExitCodeProcess store their answer only on success: Windows does not
// promise to leave it alone when it fails, and callers are promised exactly that.
BOOL IsWow64Process(HANDLE process, BOOL* wow64) {
    ::BOOL answer = FALSE;
    const BOOL ok = ::IsWow64Process(Win(process), &answer);
    if (ok) {
        *wow64 = answer;
    }
    return ok;
}

DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size) {
    return ::GetModuleFileNameW(Win(module), win32::Wide(buffer), size);
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    static const auto call = win32::SystemFunction<decltype(&::ShellExecuteExW)>(L"shell32.dll", "ShellExecuteExW");
    return call != nullptr ? call(reinterpret_cast<::SHELLEXECUTEINFOW*>(info)) : FALSE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(Win(handle), milliseconds);
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
    ::DWORD code = 0;
    const BOOL ok = ::GetExitCodeProcess(Win(process), &code);
    if (ok) {
        *exitCode = code;
    }
    return ok;
}

BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(Win(handle)); }

BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    ::HANDLE opened = nullptr;
    if (!::OpenProcessToken(Win(process), access, &opened)) {
        return FALSE;
    }
    *token = win32::Ours(opened);
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, int informationClass, void* information, DWORD length, DWORD* returnLength) {
    return ::GetTokenInformation(Win(token), static_cast<::TOKEN_INFORMATION_CLASS>(informationClass), information,
                                 length, Win(returnLength));
}

DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }

DWORD GetLastError() { return ::GetLastError(); }

void SetLastError(DWORD error) { ::SetLastError(error); }

}  // namespace platform
