// The shell's folder lookup and the light-weight path functions, with the behaviour of the
// shell's own (shlwapi) versions. These edit text only: like Windows they know "\" as the
// separator and treat "/" as an ordinary character; only PathFileExistsW, which asks the file
// system, accepts both.
#include <cstring>

#include "platform/shell.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim {

using namespace detail;

void SetCommonAppData(const std::u16string& path) {
    M().commonAppData = path;
    M().commonAppDataFails = false;
    M().commonAppDataUnterminated = false;
}

void SetCommonAppDataUnterminated(const std::u16string& path) {
    SetCommonAppData(path.size() >= platform::MAX_PATH ? path : path + std::u16string(platform::MAX_PATH, u'x'));
    M().commonAppDataUnterminated = true;
}

void FailCommonAppData(HRESULT result) {
    M().commonAppDataFails = true;
    M().commonAppDataResult = result;
}

}  // namespace sim

namespace platform {

using namespace sim::detail;

namespace {

constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr int CSIDL_FLAG_MASK = 0xFF00;

std::size_t Length(const char16_t* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// PathIsRoot for a text that ends with a backslash: "\", "X:\" and "\\" are roots; "\\server\"
// and "\\server\share\" are not (their root forms have no trailing backslash).
bool IsRootWithBackslash(const char16_t* path, std::size_t length) {
    if (length == 1) return true;
    if (length == 2) return path[0] == u'\\';
    return length == 3 && path[1] == u':';
}

// A failure scheduled by FailCall as an HRESULT: a Win32 code becomes HRESULT_FROM_WIN32, a
// value that already is an HRESULT stays, 0 becomes E_FAIL.
HRESULT AsHresult(DWORD error) {
    if (error == 0) return E_FAIL;
    if (error & 0x80000000u) return static_cast<HRESULT>(error);
    return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

}  // namespace

HRESULT SHGetFolderPathW(HWND /*owner*/, int csidl, HANDLE /*token*/, DWORD /*flags*/, char16_t* path) {
    DWORD error = 0;
    const bool commonAppData = (csidl & ~CSIDL_FLAG_MASK) == CSIDL_COMMON_APPDATA;
    if (Enter("SHGetFolderPathW", commonAppData ? sim::COMMON_APPDATA : u"", &error)) return AsHresult(error);
    if (path == nullptr || !commonAppData) return E_INVALIDARG;
    Machine& m = M();
    if (m.commonAppDataFails) return m.commonAppDataResult;
    // A configured folder that would not fit is reported as a failure, never written past the
    // caller's MAX_PATH characters.
    if (m.commonAppDataUnterminated) {
        std::memcpy(path, m.commonAppData.c_str(), MAX_PATH * sizeof(char16_t));
        return S_OK;
    }
    if (m.commonAppData.size() >= MAX_PATH) return AsHresult(ERROR_FILENAME_EXCED_RANGE);
    std::memcpy(path, m.commonAppData.c_str(), (m.commonAppData.size() + 1) * sizeof(char16_t));
    return S_OK;
}

BOOL PathFileExistsW(const char16_t* path) {
    DWORD error = 0;
    if (Enter("PathFileExistsW", TextOf(path), &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (path == nullptr) return FALSE;
    if (BeyondLegacyLimit(path, LEGACY_PATH_LIMIT)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    ResolvedPath r = Resolve(path);
    if (r.error != 0) {
        SetLastError(r.error);
        return FALSE;
    }
    Kind kind = KindOf(r.host);
    if (kind == Kind::Missing) {
        SetLastError(MissingError(r));
        return FALSE;
    }
    if (r.trailingSeparator && kind != Kind::Folder) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return TRUE;
}

// Cuts at the last backslash, except that the backslash of a drive root ("C:\") and a single
// leading one ("\dir" -> "\") stay; the two leading backslashes of a UNC name count as one
// leading element, so "\\server\share" becomes "\\server" and "\\server" becomes "\\". Text
// without a backslash is removed whole ("file" -> ""), after a drive it goes ("C:file" -> "C:").
BOOL PathRemoveFileSpecW(char16_t* path) {
    DWORD error = 0;
    if (Enter("PathRemoveFileSpecW", TextOf(path), &error) || path == nullptr) return FALSE;
    char16_t* cut = path;
    char16_t* p = path;
    if (*p == u'\\') cut = ++p;
    if (*p == u'\\') cut = ++p;
    while (*p != 0) {
        if (*p == u'\\') {
            cut = p;
        } else if (*p == u':') {
            cut = ++p;
            if (*p == u'\\') ++cut;
            if (*p == 0) break;
        }
        ++p;
    }
    if (*cut == 0) return FALSE;
    *cut = 0;
    return TRUE;
}

// Refuses (null, text untouched) once the text has MAX_PATH - 1 characters, whether or not it
// already ends with a backslash: that is where the shell's own version stops, one character
// earlier than the room alone would demand. An empty text gets no backslash.
char16_t* PathAddBackslashW(char16_t* path) {
    DWORD error = 0;
    if (Enter("PathAddBackslashW", TextOf(path), &error) || path == nullptr) return nullptr;
    std::size_t length = Length(path);
    if (length >= MAX_PATH - 1) return nullptr;
    char16_t* end = path + length;
    if (length != 0 && end[-1] != u'\\') {
        *end++ = u'\\';
        *end = 0;
    }
    return end;
}

// Returns the removed backslash's address (now the terminator); when nothing was removed, the
// address of the last character, or of the terminator of an empty text, as the shell does.
char16_t* PathRemoveBackslashW(char16_t* path) {
    DWORD error = 0;
    if (Enter("PathRemoveBackslashW", TextOf(path), &error) || path == nullptr) return nullptr;
    std::size_t length = Length(path);
    if (length == 0) return path;
    char16_t* last = path + length - 1;
    if (*last == u'\\' && !IsRootWithBackslash(path, length)) *last = 0;
    return last;
}

}  // namespace platform
