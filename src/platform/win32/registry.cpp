#include "platform/win32/windows_api.h"

// Windows spells the root as a cast to HKEY, which no constant expression may contain. Read with
// HKEY standing for ULONG_PTR, the same definition yields its number, compared here with ours.
#pragma push_macro("HKEY")
#define HKEY ULONG_PTR
static_assert(platform::HKEY_LOCAL_MACHINE_VALUE == HKEY_LOCAL_MACHINE);
#pragma pop_macro("HKEY")

namespace platform {

using win32::Win;

LONG RegOpenKeyExW(HKEY root, const char16_t* subKey, DWORD options, DWORD access, HKEY* result) {
    // Windows clears the handle when the open fails; callers are promised it stays as it was.
    ::HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExW(Win(root), win32::Wide(subKey), options, access, &opened);
    if (status == ERROR_SUCCESS) {
        *result = reinterpret_cast<HKEY>(opened);
    }
    return status;
}

LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type, std::uint8_t* data,
                      DWORD* byteCount) {
    return ::RegQueryValueExW(Win(key), win32::Wide(name), Win(reserved), Win(type), data, Win(byteCount));
}

LONG RegCreateKeyExW(HKEY root, const char16_t* subKey, DWORD access, HKEY* result, DWORD* disposition) {
    ::HKEY created = nullptr;
    ::DWORD how = 0;
    const LONG status = ::RegCreateKeyExW(Win(root), win32::Wide(subKey), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                          nullptr, &created, &how);
    if (status == ERROR_SUCCESS) {
        *result = reinterpret_cast<HKEY>(created);
        *disposition = how;
    }
    return status;
}

LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD type, const std::uint8_t* data, DWORD byteCount) {
    return ::RegSetValueExW(Win(key), win32::Wide(name), 0, type, data, byteCount);
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(Win(key)); }

}  // namespace platform
