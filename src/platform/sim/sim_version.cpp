// Files' version resources. A file given a version carries a resource laid out as Windows
// lays out its root block: the VS_VERSION_INFO header (length, value length, type, the key
// "VS_VERSION_INFO", padding to 32 bits) and then the VS_FIXEDFILEINFO at offset 40.
#include <algorithm>
#include <cstring>

#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"
#include "platform/version.h"

namespace sim::detail {
namespace {

constexpr char16_t ROOT_KEY[] = u"VS_VERSION_INFO";
constexpr std::size_t FIXED_OFFSET = 40;
constexpr std::size_t ROOT_LENGTH = FIXED_OFFSET + sizeof(platform::VS_FIXEDFILEINFO);  // 92
// Like Windows, the size asked for is larger than the resource itself.
constexpr platform::DWORD RESOURCE_SIZE = 128;

void PutWord(std::uint8_t* at, std::uint16_t value) { std::memcpy(at, &value, sizeof value); }
std::uint16_t GetWord(const std::uint8_t* at) {
    std::uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// ShortRecord reports the length given as its `error` (below 52), so tests can pick it.
std::uint16_t RecordLength(const VersionEntry& entry) {
    if (entry.failure != VersionFailure::ShortRecord) return sizeof(platform::VS_FIXEDFILEINFO);
    return static_cast<std::uint16_t>(std::min<DWORD>(entry.error, sizeof(platform::VS_FIXEDFILEINFO) - 1));
}

void BuildResource(const VersionEntry& entry, std::uint8_t* out) {
    std::memset(out, 0, RESOURCE_SIZE);
    PutWord(out, ROOT_LENGTH);
    PutWord(out + 2, RecordLength(entry));
    PutWord(out + 4, 0);
    std::memcpy(out + 6, ROOT_KEY, sizeof ROOT_KEY);
    platform::VS_FIXEDFILEINFO fixed{};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = entry.versionMS;
    fixed.dwFileVersionLS = entry.versionLS;
    fixed.dwProductVersionMS = entry.versionMS;
    fixed.dwProductVersionLS = entry.versionLS;
    fixed.dwFileFlagsMask = 0x3F;
    fixed.dwFileOS = 0x00040004;  // VOS_NT_WINDOWS32
    fixed.dwFileType = 1;         // VFT_APP
    std::memcpy(out + FIXED_OFFSET, &fixed, sizeof fixed);
}

// The resource of an existing file, or the error that the size and copy calls report.
struct Lookup {
    DWORD error = 0;
    std::u16string path;
    VersionEntry entry;
};

Lookup Find(const char16_t* file, VersionFailure stage) {
    Lookup found;
    if (BeyondLegacyLimit(file, LEGACY_PATH_LIMIT)) {
        found.error = platform::ERROR_PATH_NOT_FOUND;
        return found;
    }
    ResolvedPath r = Resolve(file);
    if (r.error != 0) {
        found.error = r.error;
        return found;
    }
    Kind kind = KindOf(r.host);
    if (kind == Kind::Missing) {
        found.error = MissingError(r);
        return found;
    }
    found.path = r.full;
    auto it = M().versions.find(r.full);
    if (it != M().versions.end()) found.entry = it->second;
    if (found.entry.failure == stage) {
        found.error = found.entry.error;
    } else if (!found.entry.hasVersion || kind != Kind::File) {
        // No resource section at all, or resources of other types only.
        found.error = found.entry.hasResources && kind == Kind::File ? platform::ERROR_RESOURCE_TYPE_NOT_FOUND
                                                                     : platform::ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    return found;
}

}  // namespace
}  // namespace sim::detail

namespace sim {

using namespace detail;

void SetFileVersion(const std::u16string& windowsPath, DWORD versionMS, DWORD versionLS) {
    VersionEntry& entry = M().versions[Resolve(windowsPath.c_str(), false).full];
    entry.hasVersion = true;
    entry.versionMS = versionMS;
    entry.versionLS = versionLS;
}

void FailVersion(const std::u16string& windowsPath, VersionFailure stage, DWORD error) {
    VersionEntry& entry = M().versions[Resolve(windowsPath.c_str(), false).full];
    entry.failure = stage;
    entry.error = error;
}

void GiveResourcesWithoutVersion(const std::u16string& windowsPath) {
    M().versions[Resolve(windowsPath.c_str(), false).full].hasResources = true;
}

int VersionSizeCalls() { return M().versionSizeCalls; }

}  // namespace sim

namespace platform {

using namespace sim::detail;
using sim::VersionFailure;

DWORD GetFileVersionInfoSizeW(const char16_t* file, DWORD* handle) {
    DWORD error = 0;
    bool injected = Enter("GetFileVersionInfoSizeW", TextOf(file), &error);
    ++M().versionSizeCalls;
    if (handle != nullptr) *handle = 0;
    Lookup found = injected ? Lookup{error, {}, {}} : Find(file, VersionFailure::Size);
    if (found.error != 0) {
        SetLastError(found.error);
        return 0;
    }
    return RESOURCE_SIZE;
}

// A buffer smaller than the size GetFileVersionInfoSizeW gave is refused rather than filled
// with a cut resource: nothing is ever written past `size` bytes.
BOOL GetFileVersionInfoW(const char16_t* file, DWORD /*handle*/, DWORD size, void* data) {
    DWORD error = 0;
    Lookup found = Enter("GetFileVersionInfoW", TextOf(file), &error) ? Lookup{error, {}, {}}
                   : data == nullptr                                  ? Lookup{ERROR_INVALID_PARAMETER, {}, {}}
                                                                      : Find(file, VersionFailure::Info);
    if (found.error == 0 && size < RESOURCE_SIZE) found.error = ERROR_INSUFFICIENT_BUFFER;
    if (found.error != 0) {
        SetLastError(found.error);
        return FALSE;
    }
    BuildResource(found.entry, static_cast<std::uint8_t*>(data));
    M().versionBlocks[data] = found.path;
    return TRUE;
}

BOOL VerQueryValueW(const void* block, const char16_t* subBlock, void** buffer, UINT* length) {
    DWORD error = 0;
    auto fail = [](DWORD code) {
        SetLastError(code);
        return FALSE;
    };
    Machine& m = M();
    const auto filledFrom = m.versionBlocks.find(block);
    if (Enter("VerQueryValueW", filledFrom != m.versionBlocks.end() ? filledFrom->second : std::u16string(), &error)) {
        return fail(error);
    }
    if (block == nullptr || buffer == nullptr || length == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (filledFrom != m.versionBlocks.end()) {
        auto entry = m.versions.find(filledFrom->second);
        if (entry != m.versions.end() && entry->second.failure == VersionFailure::Query)
            return fail(entry->second.error);
    }
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    if (GetWord(bytes) < ROOT_LENGTH || std::memcmp(bytes + 6, ROOT_KEY, sizeof ROOT_KEY) != 0) {
        return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
    if (subBlock == nullptr || std::u16string(subBlock) != u"\\") return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
    *buffer = const_cast<std::uint8_t*>(bytes + FIXED_OFFSET);
    *length = GetWord(bytes + 2);
    if (filledFrom != m.versionBlocks.end()) {
        auto entry = m.versions.find(filledFrom->second);
        if (entry != m.versions.end() && entry->second.failure == VersionFailure::RecordPastEnd) {
            *buffer = const_cast<std::uint8_t*>(bytes + RESOURCE_SIZE - entry->second.error);
        }
    }
    return TRUE;
}

}  // namespace platform
