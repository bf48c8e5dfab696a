#include "platform/win32/windows_api.h"

#include <cstddef>

#define SAME_FIELD(field) \
    static_assert(offsetof(platform::VS_FIXEDFILEINFO, field) == offsetof(::VS_FIXEDFILEINFO, field))
static_assert(sizeof(platform::VS_FIXEDFILEINFO) == sizeof(::VS_FIXEDFILEINFO));
static_assert(alignof(platform::VS_FIXEDFILEINFO) == alignof(::VS_FIXEDFILEINFO));
SAME_FIELD(dwSignature);
SAME_FIELD(dwStrucVersion);
SAME_FIELD(dwFileVersionMS);
SAME_FIELD(dwFileVersionLS);
SAME_FIELD(dwProductVersionMS);
SAME_FIELD(dwProductVersionLS);
SAME_FIELD(dwFileFlagsMask);
SAME_FIELD(dwFileFlags);
SAME_FIELD(dwFileOS);
SAME_FIELD(dwFileType);
SAME_FIELD(dwFileSubtype);
SAME_FIELD(dwFileDateMS);
SAME_FIELD(dwFileDateLS);
#undef SAME_FIELD

namespace {

// version.dll is not one of the KnownDLLs, so a load by bare name, or an import, would search
// the program's own folder first, where a deployment share may hold anything. It is loaded once,
// on first use, by its full path in the system folder.
struct VersionLibrary {
    bool tried = false;
    ::DWORD loadError = ERROR_SUCCESS;  // why the load or a lookup failed, given back on every call
    ::DWORD(WINAPI* getSize)(LPCWSTR, LPDWORD) = nullptr;
    ::BOOL(WINAPI* getInfo)(LPCWSTR, ::DWORD, ::DWORD, LPVOID) = nullptr;
    ::BOOL(WINAPI* queryValue)(LPCVOID, LPCWSTR, LPVOID*, PUINT) = nullptr;
};

VersionLibrary library;

// One lookup after the other: the first that fails leaves its reason as the last error.
template <typename Function>
bool Find(Function& function, const char* name) {
    function = platform::win32::SystemFunction<Function>(L"version.dll", name);
    return function != nullptr;
}

void LoadVersionLibrary() {
    library.tried = true;
    if (!Find(library.getSize, "GetFileVersionInfoSizeW") || !Find(library.getInfo, "GetFileVersionInfoW") ||
        !Find(library.queryValue, "VerQueryValueW")) {
        library.loadError = ::GetLastError();
        library.getSize = nullptr;
        library.getInfo = nullptr;
        library.queryValue = nullptr;
    }
}

/// True when the three functions are at hand; otherwise the last error says why they are not.
bool VersionLibraryReady() {
    if (!library.tried) {
        LoadVersionLibrary();
    }
    if (library.getSize == nullptr) {
        ::SetLastError(library.loadError);
        return false;
    }
    return true;
}

}  // namespace

namespace platform {

using win32::Wide;
using win32::Win;

DWORD GetFileVersionInfoSizeW(const char16_t* file, DWORD* handle) {
    if (!VersionLibraryReady()) {
        if (handle != nullptr) {
            *handle = 0;
        }
        return 0;
    }
    return library.getSize(Wide(file), Win(handle));
}

BOOL GetFileVersionInfoW(const char16_t* file, DWORD handle, DWORD size, void* data) {
    if (!VersionLibraryReady()) {
        return FALSE;
    }
    return library.getInfo(Wide(file), handle, size, data);
}

BOOL VerQueryValueW(const void* block, const char16_t* subBlock, void** buffer, UINT* length) {
    if (!VersionLibraryReady()) {
        return FALSE;
    }
    return library.queryValue(block, Wide(subBlock), buffer, length);
}

}  // namespace platform
