#include "platform/win32/windows_api.h"

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cstddef>

static_assert(sizeof(platform::FILETIME) == sizeof(::FILETIME) && alignof(platform::FILETIME) == alignof(::FILETIME));
static_assert(offsetof(platform::FILETIME, dwLowDateTime) == offsetof(::FILETIME, dwLowDateTime));
static_assert(offsetof(platform::FILETIME, dwHighDateTime) == offsetof(::FILETIME, dwHighDateTime));

#define SAME_INFO_FIELD(field)                                             \
    static_assert(offsetof(platform::BY_HANDLE_FILE_INFORMATION, field) == \
                      offsetof(::BY_HANDLE_FILE_INFORMATION, field) &&     \
                  sizeof(platform::BY_HANDLE_FILE_INFORMATION::field) == sizeof(::BY_HANDLE_FILE_INFORMATION::field))
static_assert(sizeof(platform::BY_HANDLE_FILE_INFORMATION) == sizeof(::BY_HANDLE_FILE_INFORMATION));
SAME_INFO_FIELD(dwFileAttributes);
SAME_INFO_FIELD(ftCreationTime);
SAME_INFO_FIELD(ftLastWriteTime);
SAME_INFO_FIELD(dwVolumeSerialNumber);
SAME_INFO_FIELD(nNumberOfLinks);
SAME_INFO_FIELD(nFileIndexLow);
#undef SAME_INFO_FIELD

// Handed to Windows as it is.
static_assert(sizeof(platform::SECURITY_ATTRIBUTES) == sizeof(::SECURITY_ATTRIBUTES));
static_assert(offsetof(platform::SECURITY_ATTRIBUTES, nLength) == offsetof(::SECURITY_ATTRIBUTES, nLength));
static_assert(offsetof(platform::SECURITY_ATTRIBUTES, lpSecurityDescriptor) ==
              offsetof(::SECURITY_ATTRIBUTES, lpSecurityDescriptor));
static_assert(offsetof(platform::SECURITY_ATTRIBUTES, bInheritHandle) ==
              offsetof(::SECURITY_ATTRIBUTES, bInheritHandle));

namespace {

using PreciseTimeFunction = VOID(WINAPI*)(::FILETIME*);
PreciseTimeFunction preciseTime = nullptr;

// The caller gets a plain function pointer, but kernel32's export is __stdcall on i686; called
// through a pointer of the default convention it would leave the stack unbalanced. This bridge
// has the caller's convention and makes the call with the right one.
void CallPreciseTime(platform::FILETIME* time) { preciseTime(reinterpret_cast<::FILETIME*>(time)); }

}  // namespace

namespace platform {

using win32::Win;

BOOL CreateDirectoryW(const char16_t* path, SECURITY_ATTRIBUTES* securityAttributes) {
    return ::CreateDirectoryW(win32::Wide(path), reinterpret_cast<::SECURITY_ATTRIBUTES*>(securityAttributes));
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(const char16_t* text, DWORD revision, void** descriptor) {
    return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(win32::Wide(text), revision, descriptor, nullptr);
}

UINT GetSystemWindowsDirectoryW(char16_t* buffer, UINT size) {
    return ::GetSystemWindowsDirectoryW(win32::Wide(buffer), size);
}

void GetSystemTimeAsFileTime(FILETIME* time) { ::GetSystemTimeAsFileTime(reinterpret_cast<::FILETIME*>(time)); }

SystemTimeFunction FindGetSystemTimePreciseAsFileTime() {
    // Windows 8 and later only: looked up, never imported.
    preciseTime = win32::SystemFunction<PreciseTimeFunction>(L"kernel32.dll", "GetSystemTimePreciseAsFileTime");
    return preciseTime != nullptr ? &CallPreciseTime : nullptr;
}

HANDLE CreateFileW(const char16_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flagsAndAttributes) {
    return win32::Ours(
        ::CreateFileW(win32::Wide(path), access, share, nullptr, disposition, flagsAndAttributes, nullptr));
}

NTSTATUS NtCreateFile(HANDLE* file, DWORD access, HANDLE rootDirectory, const char16_t* name, DWORD share,
                      DWORD disposition, DWORD options) {
    // In ntdll, which every process has loaded: looked up, so that the import table stays as it is.
    static const auto call = win32::SystemFunction<decltype(&::NtCreateFile)>(L"ntdll.dll", "NtCreateFile");
    if (call == nullptr) {
        return static_cast<NTSTATUS>(0xC0000001);  // STATUS_UNSUCCESSFUL
    }
    ::USHORT bytes = 0;
    while (name[bytes / sizeof(char16_t)] != 0) {
        bytes += sizeof(char16_t);
    }
    ::UNICODE_STRING text{bytes, bytes, const_cast<::PWSTR>(win32::Wide(name))};
    ::OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, Win(rootDirectory), nullptr);
    ::IO_STATUS_BLOCK io{};
    ::HANDLE opened = nullptr;
    // What CreateFileW adds to every open of its own: synchronous I/O, so that ReadFile and WriteFile
    // keep and move the file position themselves, and FILE_READ_ATTRIBUTES, without which
    // GetFileInformationByHandle is refused on a handle opened for writing alone.
    const NTSTATUS status =
        call(&opened, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
             share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status == STATUS_SUCCESS) {
        *file = win32::Ours(opened);
    }
    return status;
}

BOOL SetFileInformationByHandle(HANDLE file, const char16_t* newPath) {
    alignas(::FILE_RENAME_INFO) std::uint8_t record[sizeof(::FILE_RENAME_INFO) + MAX_PATH * sizeof(wchar_t)];
    auto* info = reinterpret_cast<::FILE_RENAME_INFO*>(record);
    auto* name = reinterpret_cast<char16_t*>(record + offsetof(::FILE_RENAME_INFO, FileName));
    ::DWORD units = 0;
    do {
        if (units == MAX_PATH) {
            ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return FALSE;
        }
        name[units] = newPath[units];
    } while (newPath[units++] != 0);
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = (units - 1) * sizeof(wchar_t);
    return ::SetFileInformationByHandle(Win(file), ::FileRenameInfo, info,
                                        offsetof(::FILE_RENAME_INFO, FileName) + units * sizeof(wchar_t));
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    return ::GetFileInformationByHandle(Win(file), reinterpret_cast<::BY_HANDLE_FILE_INFORMATION*>(info));
}

DWORD GetSecurityInfo(HANDLE object, int objectType, DWORD securityInfo, PSID* owner, PSID* group, void** dacl,
                      void** sacl, void** securityDescriptor) {
    return ::GetSecurityInfo(Win(object), static_cast<::SE_OBJECT_TYPE>(objectType), securityInfo,
                             reinterpret_cast<::PSID*>(owner), reinterpret_cast<::PSID*>(group),
                             reinterpret_cast<::PACL*>(dacl), reinterpret_cast<::PACL*>(sacl), securityDescriptor);
}

BOOL IsWellKnownSid(PSID sid, int type) {
    return ::IsWellKnownSid(reinterpret_cast<::PSID>(sid), static_cast<::WELL_KNOWN_SID_TYPE>(type));
}

BOOL EqualSid(PSID first, PSID second) {
    return ::EqualSid(reinterpret_cast<::PSID>(first), reinterpret_cast<::PSID>(second));
}

void* LocalFree(void* memory) { return ::LocalFree(memory); }

BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
    return ::ReadFile(Win(file), buffer, size, Win(read), nullptr);
}

BOOL WriteFileAtEnd(HANDLE file, const void* data, DWORD size, DWORD* written) {
    DWORD total = 0;
    ::LARGE_INTEGER noMove{};
    BOOL ok = ::SetFilePointerEx(Win(file), noMove, nullptr, FILE_END);
    // A disk file takes everything in one call; the loop is for anything that takes less.
    while (ok && total < size) {
        ::DWORD chunk = 0;
        ok = ::WriteFile(Win(file), static_cast<const std::uint8_t*>(data) + total, size - total, &chunk, nullptr);
        if (ok && chunk == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);  // success without progress would loop forever
            ok = FALSE;
        }
        total += chunk;
    }
    if (written != nullptr) {
        *written = total;
    }
    return ok;
}

}  // namespace platform
