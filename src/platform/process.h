// Process, module, child-process and heap operations. The fatal stop has a header of its own.
#pragma once

#include "platform/types.h"

namespace platform {

inline constexpr DWORD SEE_MASK_NOCLOSEPROCESS = 0x00000040;
inline constexpr int SW_SHOW = 5;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr int TokenUser = 1;
inline constexpr int TokenElevation = 20;

/// The shell's launch record, field for field as Windows lays it out: 60 bytes with 4-byte
/// pointers. The win32 backend hands it to the shell as it is.
struct SHELLEXECUTEINFOW {
    DWORD cbSize;
    DWORD fMask;
    HWND hwnd;
    const char16_t* lpVerb;
    const char16_t* lpFile;
    const char16_t* lpParameters;
    const char16_t* lpDirectory;
    int nShow;
    HMODULE hInstApp;
    void* lpIDList;
    const char16_t* lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIconOrMonitor;
    HANDLE hProcess;
};
static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOW) == 60);

/// GetTokenInformation's TokenElevation answer: non-zero for an elevated token (SYSTEM, an elevated
/// administrator), zero for a standard user's and for an administrator's filtered token under UAC.
struct TOKEN_ELEVATION {
    DWORD TokenIsElevated;
};

/// Pseudo-handle of the current process; never needs closing.
HANDLE GetCurrentProcess();

/// Non-zero on success, and then `*wow64` tells whether the process runs under WOW64.
/// `*wow64` is untouched on failure.
BOOL IsWow64Process(HANDLE process, BOOL* wow64);

/// Full path of `module` (null: the program) into `buffer` of `size` characters. Returns the
/// characters written without the terminator; `size` when the path was cut short (the buffer
/// then holds `size` - 1 characters and a terminator); 0 on failure.
DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size);

/// Starts `info->lpFile` with the record's verb, parameters, folder and show state. Non-zero
/// when it started; with SEE_MASK_NOCLOSEPROCESS `info->hProcess` then holds its handle.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);

/// WAIT_OBJECT_0 when `handle` is signalled, WAIT_TIMEOUT after `milliseconds`, WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

/// Non-zero with `*exitCode` set; on failure `*exitCode` is untouched.
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);

/// Closes a process, file or token handle. Non-zero on success.
BOOL CloseHandle(HANDLE handle);

/// Opens the access token of `process`. Non-zero on success, with `*token` to be closed.
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);

/// Copies one class of a token's information (TokenUser: a TOKEN_USER, then the SID it points
/// to; TokenElevation: a TOKEN_ELEVATION) into `information`. Non-zero on success; `*returnLength` is the size needed
/// either way, and a buffer that is too small fails with ERROR_INSUFFICIENT_BUFFER.
BOOL GetTokenInformation(HANDLE token, int informationClass, void* information, DWORD length, DWORD* returnLength);

DWORD GetCurrentProcessId();

/// The calling thread's last error, as the most recent failing operation here left it.
DWORD GetLastError();
/// Sets the calling thread's last error (the owners put back the error their close may change).
void SetLastError(DWORD error);

/// The C runtime heap behind the strings' memory manager (malloc, realloc, free): null when
/// out of memory; a failed RuntimeRealloc leaves the block as it was.
void* RuntimeAlloc(DWORD size);
void* RuntimeRealloc(void* block, DWORD size);
void RuntimeFree(void* block);

/// The general heap (string descriptors, the version buffer): null when out of memory.
void* GeneralAlloc(DWORD size);
void GeneralFree(void* block);

/// Keeps every DLL loaded after this call to the system folder. Called first at start-up.
void RestrictDllSearchPath();

}  // namespace platform
