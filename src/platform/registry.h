// Registry operations used by the installation lookup.
#pragma once

#include "platform/types.h"

namespace platform {

/// HKEY_LOCAL_MACHINE's handle value, sign-extended on 64-bit as Windows defines it; kept as a
/// number so the win32 backend can check it against Windows at compile time.
inline constexpr std::uintptr_t HKEY_LOCAL_MACHINE_VALUE =
    static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000002)));
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(HKEY_LOCAL_MACHINE_VALUE);

inline constexpr DWORD KEY_QUERY_VALUE = 0x0001;
inline constexpr DWORD KEY_SET_VALUE = 0x0002;
inline constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr DWORD KEY_WOW64_64KEY = 0x0100;
inline constexpr DWORD KEY_WOW64_32KEY = 0x0200;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

/// Opens `subKey` under `root` with `access` (a view flag picks the 32- or 64-bit view).
/// Returns 0 and sets `*result`, or a Windows error code and leaves `*result` untouched.
LONG RegOpenKeyExW(HKEY root, const char16_t* subKey, DWORD options, DWORD access, HKEY* result);

/// Reads value `name` raw, without adding or checking a terminator. In: `*byteCount` is the
/// room in `data`. Returns 0 with `*type` and `*byteCount` (bytes stored) set and the bytes
/// copied; ERROR_MORE_DATA when the value does not fit (the buffer's contents are then
/// undefined); ERROR_FILE_NOT_FOUND when there is no such value.
LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type, std::uint8_t* data,
                      DWORD* byteCount);

/// Opens `subKey` under `root` with `access`, creating it and every missing key above it first
/// (non-volatile, no class, the security each inherits from its parent). Returns 0 and sets
/// `*result` and `*disposition` (REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY), or a Windows
/// error code (ERROR_ACCESS_DENIED without the right to create or write) and leaves both untouched.
LONG RegCreateKeyExW(HKEY root, const char16_t* subKey, DWORD access, HKEY* result, DWORD* disposition);

/// Stores value `name` as `type` with the `byteCount` bytes at `data` (a string's bytes include
/// its terminator), replacing any value of that name. 0 or a Windows error code.
LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD type, const std::uint8_t* data, DWORD byteCount);

/// Closes a key that RegOpenKeyExW or RegCreateKeyExW opened.
LONG RegCloseKey(HKEY key);

}  // namespace platform
