#include "platform/win32/windows_api.h"

#include <cstddef>

static_assert(sizeof(platform::FILETIME) == sizeof(::FILETIME) && alignof(platform::FILETIME) == alignof(::FILETIME));
static_assert(offsetof(platform::FILETIME, dwLowDateTime) == offsetof(::FILETIME, dwLowDateTime));
static_assert(offsetof(platform::FILETIME, dwHighDateTime) == offsetof(::FILETIME, dwHighDateTime));

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
    preciseTime = win32::Kernel32Export<PreciseTimeFunction>("GetSystemTimePreciseAsFileTime");
    return preciseTime != nullptr ? &CallPreciseTime : nullptr;
}

HANDLE CreateFileW(const char16_t* path, DWORD access, DWORD share, DWORD disposition, DWORD attributes) {
    return win32::Ours(::CreateFileW(win32::Wide(path), access, share, nullptr, disposition, attributes, nullptr));
}

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
