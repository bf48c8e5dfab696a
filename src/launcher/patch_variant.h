#pragma once

#include <cstdint>

#include "strings/fixed_path_string.h"

namespace orvane {

/// The legacy versions of the patch tool: 6.0.1.x, 6.0.2.x and 6.6.17.253.
bool IsLegacyTool(std::uint16_t major, std::uint16_t minor, std::uint16_t build, std::uint16_t revision);

/// The file version of the tool's fixed version record.
struct ToolVersion {
    std::uint16_t major, minor, build, revision;
};

struct PatchChoice {
    FixedPathString patchPath;
    bool useLegacy;
    /// Whether the tool's version was read (only when the legacy file exists), and what it was.
    bool versionRead;
    ToolVersion version;
};

/// "patch.rkv.old" in `launcherFolder` when it exists and the tool at `toolPath` is a legacy
/// version, else "patch.rkv". The tool's version is read only when the legacy file exists; a
/// failure to read it is logged (two lines) and falls back to "patch.rkv". Does not check
/// that the chosen file exists.
PatchChoice ChoosePatchFile(const FixedPathString& launcherFolder, const FixedPathString& toolPath);

}  // namespace orvane
