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
/// On a folder: passing through it to what it holds.
inline constexpr DWORD FILE_TRAVERSE = 0x00000020;
inline constexpr DWORD READ_CONTROL = 0x00020000;
inline constexpr DWORD DELETE = 0x00010000;
inline constexpr int SE_FILE_OBJECT = 1;
inline constexpr DWORD OWNER_SECURITY_INFORMATION = 0x00000001;
inline constexpr int WinLocalSystemSid = 22;
inline constexpr int WinBuiltinAdministratorsSid = 26;

// NtCreateFile's dispositions and options, and its answers.
inline constexpr DWORD FILE_OPEN = 0x00000001;
inline constexpr DWORD FILE_CREATE = 0x00000002;
inline constexpr DWORD FILE_NON_DIRECTORY_FILE = 0x00000040;
/// A link at the name is opened itself, never followed.
inline constexpr DWORD FILE_OPEN_REPARSE_POINT = 0x00200000;
inline constexpr NTSTATUS STATUS_SUCCESS = 0;
inline constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = static_cast<NTSTATUS>(0xC0000035);

inline constexpr DWORD SDDL_REVISION_1 = 1;
inline constexpr DWORD ERROR_INVALID_OWNER = 1307;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

/// The security a new object is created with, field for field as Windows lays it out.
struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
};

/// Creates one folder, with the security descriptor of `securityAttributes` when it has one (set in
/// the same step: the folder never exists without it), else with what the parent passes on. Fails
/// with ERROR_PATH_NOT_FOUND when its parent is missing, with ERROR_ALREADY_EXISTS when anything of
/// that name exists, and with ERROR_INVALID_OWNER when the descriptor names an owner the caller's
/// token may not give. Non-zero on success.
BOOL CreateDirectoryW(const char16_t* path, SECURITY_ATTRIBUTES* securityAttributes);

/// A self-relative security descriptor from its text form (`revision` SDDL_REVISION_1) into
/// `*descriptor`, which the caller frees with LocalFree. Non-zero on success.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(const char16_t* text, DWORD revision, void** descriptor);

/// The shared Windows folder ("C:\Windows"), never a user's own, into `buffer` of `size`
/// characters. The length written without the terminator; the size needed when `size` is too
/// small; 0 on failure.
UINT GetSystemWindowsDirectoryW(char16_t* buffer, UINT size);

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

/// Opens or creates the file `name` (one path element) inside the folder open as `rootDirectory`,
/// however that folder has been renamed or replaced by name since it was opened: normal attributes,
/// case-insensitive, and, like a handle from CreateFileW, usable with ReadFile and WriteFileAtEnd and
/// with FILE_READ_ATTRIBUTES besides `access`.
/// `disposition` FILE_CREATE or FILE_OPEN; `options` as Windows takes them. STATUS_SUCCESS with
/// `*file` set, or the error status (STATUS_OBJECT_NAME_COLLISION: FILE_CREATE and the name
/// exists, as anything, a link included) with `*file` untouched. ntdll's, looked up at run time.
NTSTATUS NtCreateFile(HANDLE* file, DWORD access, HANDLE rootDirectory, const char16_t* name, DWORD share,
                      DWORD disposition, DWORD options);

/// The FileRenameInfo class only: gives the open file or folder `file` (the object itself, a link
/// included, never what it points to) the full path `newPath` on the same volume, and fails with
/// ERROR_ALREADY_EXISTS when anything has that name: nothing is ever replaced, nothing copied. The
/// handle must have DELETE access. Non-zero on success.
BOOL SetFileInformationByHandle(HANDLE file, const char16_t* newPath);

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
