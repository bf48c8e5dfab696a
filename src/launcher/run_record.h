// The run record: what a fleet's detection rules and inventory read of a run, in
// HKLM\SOFTWARE\Velmor\Orvane.Launcher (the 64-bit view on 64-bit Windows). Under
// Patches\<SHA-256 of a patch file> the latest outcome of every patch file that stood beside the
// launcher; at the key itself the same values for the last run, whatever its outcome.
#pragma once

#include <cstdint>

#include "launcher/file_hash.h"
#include "launcher/launch_result.h"
#include "launcher/patch_variant.h"
#include "strings/fixed_path_string.h"

namespace orvane {

/// The record's exit code while the tool runs (Windows' STILL_ACTIVE). A run that never ends its
/// record (killed, crashed, stopped) leaves it so: never a success.
inline constexpr LaunchResult RESULT_STARTED = 259;

/// "a.b.c.d" and the terminator.
inline constexpr std::uint32_t VERSION_TEXT_UNITS = 24;
/// "YYYY-MM-DDTHH:MM:SSZ" and the terminator, with room for a year of five digits.
inline constexpr std::uint32_t ISO_TIME_UNITS = 24;

/// The UTC time of FILETIME ticks in ISO 8601 to the second.
void IsoTimeText(std::int64_t fileTimeTicks, char16_t (&out)[ISO_TIME_UNITS]);

class RunRecord {
public:
    /// `use64BitView`: the view the product's key was read from, and the record's.
    explicit RunRecord(bool use64BitView);

    /// Notes the chosen patch file and the tool's version, and hashes each patch file present
    /// in `launcherFolder` ("patch.rkv", "patch.rkv.old"). Writes nothing. A file that cannot be
    /// hashed gets no record of its own.
    void NotePatches(const FixedPathString& launcherFolder, const PatchChoice& choice);

    /// Writes `result` (RESULT_STARTED before the tool starts) with the run's other values under
    /// Patches\<hash> of each hashed file and at the key itself, with LastPatchSha256 there.
    /// `logPath` is the log written, or empty. Every failure is ignored: a run without the right
    /// to write HKLM has no record, and the record never changes the run.
    void Write(LaunchResult result, const char16_t* logPath) const;

    bool Use64BitView() const { return use64BitView; }
    /// The file handed to the tool, or empty before NotePatches.
    const char16_t* PatchFile() const { return patchFile.Text(); }
    /// The chosen file's hash, or empty when it was not hashed.
    const char16_t* PatchHash() const;
    /// "a.b.c.d", or empty when the tool's version was not read.
    const char16_t* ToolVersionText() const { return toolVersion; }

private:
    static constexpr int PATCH_FILES = 2;

    bool use64BitView;
    int chosen = -1;  ///< the index of the chosen file in `hashes`
    char16_t hashes[PATCH_FILES][SHA256_TEXT_UNITS] = {};
    char16_t toolVersion[VERSION_TEXT_UNITS] = {};
    FixedPathString patchFile;
};

}  // namespace orvane
