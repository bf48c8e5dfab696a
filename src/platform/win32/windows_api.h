// Private to the win32 backend: the one place where the platform's own declarations meet
// <windows.h>. The platform headers come first on purpose: <windows.h> defines TRUE, MAX_PATH,
// ERROR_SUCCESS and the like as macros, which would rewrite the platform's constants of the
// same names if they were parsed after it.
#pragma once

#include "platform/crypto.h"
#include "platform/eventlog.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/types.h"
#include "platform/version.h"

#include <windows.h>

#include <type_traits>

// The platform's aliases are handed to Windows by pointer, so each must have Windows' size and
// alignment; only the spelling of the type differs (unsigned int against unsigned long).
static_assert(sizeof(wchar_t) == 2 && sizeof(char16_t) == 2, "UTF-16 text is passed through unconverted");
static_assert(sizeof(platform::DWORD) == sizeof(::DWORD) && alignof(platform::DWORD) == alignof(::DWORD));
static_assert(sizeof(platform::LONG) == sizeof(::LONG) && alignof(platform::LONG) == alignof(::LONG));
static_assert(sizeof(platform::BOOL) == sizeof(::BOOL) && alignof(platform::BOOL) == alignof(::BOOL));
static_assert(sizeof(platform::UINT) == sizeof(::UINT) && alignof(platform::UINT) == alignof(::UINT));
static_assert(sizeof(platform::HRESULT) == sizeof(::HRESULT));
static_assert(sizeof(platform::WORD) == sizeof(::WORD));
static_assert(std::is_signed_v<platform::LONG> && std::is_unsigned_v<platform::DWORD>);
static_assert(std::is_same_v<platform::UINT, ::UINT> && std::is_same_v<platform::BOOL, ::BOOL>);
static_assert(sizeof(platform::HANDLE) == sizeof(::HANDLE) && sizeof(platform::HKEY) == sizeof(::HKEY) &&
              sizeof(platform::HMODULE) == sizeof(::HMODULE) && sizeof(platform::HWND) == sizeof(::HWND));

namespace platform::win32 {

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline char16_t* Utf16(wchar_t* text) { return reinterpret_cast<char16_t*>(text); }

inline ::DWORD* Win(platform::DWORD* value) { return reinterpret_cast<::DWORD*>(value); }
inline ::HANDLE Win(platform::HANDLE handle) { return reinterpret_cast<::HANDLE>(handle); }
inline ::HKEY Win(platform::HKEY key) { return reinterpret_cast<::HKEY>(key); }
inline ::HMODULE Win(platform::HMODULE module) { return reinterpret_cast<::HMODULE>(module); }
inline ::HWND Win(platform::HWND window) { return reinterpret_cast<::HWND>(window); }
inline platform::HANDLE Ours(::HANDLE handle) { return reinterpret_cast<platform::HANDLE>(handle); }

/// GetProcAddress's answer as the function type it really has (null stays null). The detour
/// through void(*)() keeps -Wcast-function-type quiet: that type converts to any other.
template <typename Function>
Function ProcAs(::FARPROC address) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

/// True once RestrictDllSearchPath has limited every DLL search to the system folder
/// (SetDefaultDllDirectories); false on Windows without that function.
extern bool dllSearchLimitedToSystem;

/// The one way to a function of a system DLL: loads the DLL by its full path in the system
/// folder (its dependencies from there too; a DLL already loaded, such as kernel32, is only
/// found) and looks the function up; null when it cannot be had (the last error then says why).
/// shell32, shlwapi and version.dll are reached this way, not imported: Windows resolves an
/// import, and the imports of that DLL in turn, before any code of ours runs and searches the
/// program's own folder first for any of them that is not a KnownDLL. Functions newer than
/// Windows 6.0 are reached this way too: importing them would stop the program from starting on
/// systems without them.
::FARPROC SystemExport(const wchar_t* dllName, const char* name);

template <typename Function>
Function SystemFunction(const wchar_t* dllName, const char* name) {
    return ProcAs<Function>(SystemExport(dllName, name));
}

}  // namespace platform::win32
