#include "launcher/patch_variant.h"

#include <cstring>

#include "launcher/messages.h"
#include "launcher/process_objects.h"
#include "log/log_write.h"
#include "platform/owners.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/version.h"

namespace orvane {

namespace {

/// Reads the file version from the tool's fixed version record. Each failure logs its own
/// line with the error of the failing call; the caller logs the fallback.
bool ReadToolVersion(const FixedPathString& toolPath, ToolVersion& version) {
    const platform::DWORD size = platform::GetFileVersionInfoSizeW(toolPath.Text(), nullptr);
    if (size == 0) {
        LogWrite(msg::VERSION_SIZE_FAILED, platform::GetLastError());
        return false;
    }
    const platform::ScopedHeapBlock block(platform::GeneralAlloc(size));
    void* buffer = block.Get();
    if (buffer == nullptr) {
        LogWrite(msg::MEMORY_ALLOCATION_FAILED, platform::GetLastError());
        return false;
    }
    if (platform::GetFileVersionInfoW(toolPath.Text(), 0, size, buffer) == 0) {
        LogWrite(msg::VERSION_INFO_FAILED, platform::GetLastError());
        return false;
    }
    void* found = nullptr;
    platform::UINT length = 0;
    if (platform::VerQueryValueW(buffer, u"\\", &found, &length) == 0) {
        LogWrite(msg::VERSION_QUERY_FAILED, platform::GetLastError());
        return false;
    }
    // The record is read only when it lies whole inside the buffer; a shorter one (a damaged
    // resource) would make us read past it.
    const auto* start = static_cast<const unsigned char*>(buffer);
    const auto* record = static_cast<const unsigned char*>(found);
    if (length < sizeof(platform::VS_FIXEDFILEINFO) || record < start || size < sizeof(platform::VS_FIXEDFILEINFO) ||
        record > start + (size - sizeof(platform::VS_FIXEDFILEINFO))) {
        LogWrite(msg::VERSION_QUERY_FAILED, platform::ERROR_INVALID_DATA);
        return false;
    }
    platform::DWORD versionMS;
    platform::DWORD versionLS;
    std::memcpy(&versionMS, record + offsetof(platform::VS_FIXEDFILEINFO, dwFileVersionMS), sizeof versionMS);
    std::memcpy(&versionLS, record + offsetof(platform::VS_FIXEDFILEINFO, dwFileVersionLS), sizeof versionLS);
    version = ToolVersion{static_cast<std::uint16_t>(versionMS >> 16), static_cast<std::uint16_t>(versionMS & 0xFFFF),
                          static_cast<std::uint16_t>(versionLS >> 16), static_cast<std::uint16_t>(versionLS & 0xFFFF)};
    return true;
}

}  // namespace

bool IsLegacyTool(std::uint16_t major, std::uint16_t minor, std::uint16_t build, std::uint16_t revision) {
    if (major != 6) return false;
    if (minor == 0) return build == 1 || build == 2;
    return minor == 6 && build == 17 && revision == 253;
}

PatchChoice ChoosePatchFile(const FixedPathString& launcherFolder, const FixedPathString& toolPath) {
    bool useLegacy = false;
    bool versionRead = false;
    ToolVersion version{};
    FixedPathString candidate(launcherFolder);
    candidate.AppendPath(LEGACY_PATCH_FILE_NAME.Text());
    if (platform::PathFileExistsW(candidate.Text()) != 0) {
        versionRead = ReadToolVersion(toolPath, version);
        if (versionRead) {
            useLegacy = IsLegacyTool(version.major, version.minor, version.build, version.revision);
        } else {
            LogWrite(msg::VERSION_DEFAULTING);
        }
    }
    PatchChoice choice{FixedPathString(launcherFolder), useLegacy, versionRead, version};
    choice.patchPath.AppendPath(useLegacy ? LEGACY_PATCH_FILE_NAME.Text() : PATCH_FILE_NAME.Text());
    return choice;
}

}  // namespace orvane
