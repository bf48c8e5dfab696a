// Folders, the clock, and the raw file primitives that the log stream is built on.
#pragma once

#include "platform/types.h"

namespace platform {

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
inline constexpr DWORD FILE_SHARE_DELETE = 0x00000004;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x00000400;
/// CreateFileW opens a link (symbolic link, junction) itself instead of what it points to.
inline constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
/// CreateFileW may open a folder.
inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
/// CreateFileW: the file will be read once from start to end (a hint for the cache).
inline constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
inline constexpr DWORD FILE_READ_ATTRIBUTES = 0x00000080;
inline constexpr DWORD READ_CONTROL = 0x00020000;
inline constexpr int SE_FILE_OBJECT = 1;
inline constexpr DWORD OWNER_SECURITY_INFORMATION = 0x00000001;
inline constexpr int WinLocalSystemSid = 22;
inline constexpr int WinBuiltinAdministratorsSid = 26;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

/// Creates one folder; fails with ERROR_PATH_NOT_FOUND when its parent is missing and with
/// ERROR_ALREADY_EXISTS when anything of that name exists. Non-zero on success.
BOOL CreateDirectoryW(const char16_t* path, void* securityAttributes);

/// The current system time.
void GetSystemTimeAsFileTime(FILETIME* time);

using SystemTimeFunction = void (*)(FILETIME* time);

/// GetSystemTimePreciseAsFileTime, looked up by name in kernel32; null where the system lacks it.
SystemTimeFunction FindGetSystemTimePreciseAsFileTime();

/// Opens or creates a file (no security attributes, no template); `flagsAndAttributes` as Windows
/// takes them. Returns INVALID_HANDLE_VALUE on failure, GetLastError telling why
/// (ERROR_SHARING_VIOLATION when another handle's sharing excludes this access, ERROR_ACCESS_DENIED
/// for a folder without FILE_FLAG_BACKUP_SEMANTICS).
HANDLE CreateFileW(const char16_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flagsAndAttributes);

/// Attributes, link count and identity of an open file or folder. Non-zero on success; `*info`
/// is unspecified on failure.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);

/// The parts of an open object's security descriptor that `securityInfo` names. ERROR_SUCCESS or
/// the error; on success `*owner` points into `*securityDescriptor`, which the caller frees with
/// LocalFree. `group`, `dacl` and `sacl` may be null.
DWORD GetSecurityInfo(HANDLE object, int objectType, DWORD securityInfo, PSID* owner, PSID* group, void** dacl,
                      void** sacl, void** securityDescriptor);

/// Non-zero when `sid` is the well-known identifier `type` (WinLocalSystemSid, ...).
BOOL IsWellKnownSid(PSID sid, int type);
/// Non-zero when both identifiers are the same.
BOOL EqualSid(PSID first, PSID second);
/// Frees memory the system handed out (a security descriptor); null on success.
void* LocalFree(void* memory);

/// Reads up to `size` bytes from the current position. Non-zero on success; `*read` is 0 at the end.
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read);

/// Moves to the current end of the file, then writes `size` bytes. Non-zero when all were written.
BOOL WriteFileAtEnd(HANDLE file, const void* data, DWORD size, DWORD* written);

}  // namespace platform
