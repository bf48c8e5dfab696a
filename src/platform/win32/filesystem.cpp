#include "platform/win32/windows_api.h"

#include <aclapi.h>

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

BOOL CreateDirectoryW(const char16_t* path, void* securityAttributes) {
    return ::CreateDirectoryW(win32::Wide(path), static_cast<::SECURITY_ATTRIBUTES*>(securityAttributes));
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
