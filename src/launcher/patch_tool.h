#pragma once

#include "launcher/launch_result.h"
#include "strings/fixed_path_string.h"

namespace orvane {

/// Milliseconds the launcher waits for the tool: 100 minutes.
inline constexpr std::uint32_t TOOL_WAIT_MILLISECONDS = 6000000;

/// Starts the tool elevated ("runas") in `workFolder` with " /encfile "<patchPath>"" (and, when
/// `useLegacy`, " /var scriptdir "<workFolder>""), waits up to 100 minutes and returns 0, the
/// tool's exit code, RESULT_START_FAILED, or the wait's result (RESULT_WAIT_TIMED_OUT,
/// RESULT_WAIT_FAILED). A failed GetExitCodeProcess gives RESULT_UNKNOWN. The process handle is
/// closed on every path. `toolExited`, when given, tells whether the result is the tool's own
/// exit code (which may equal one of the launcher's codes).
LaunchResult RunPatchTool(const FixedPathString& toolPath, const FixedPathString& patchPath,
                          const FixedPathString& workFolder, bool useLegacy, bool* toolExited = nullptr);

}  // namespace orvane
