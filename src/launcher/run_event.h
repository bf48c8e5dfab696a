#pragma once

#include "launcher/launch_result.h"
#include "launcher/run_record.h"

namespace orvane {

/// Event source name, and where Windows looks its registration up.
inline constexpr const char16_t* EVENT_SOURCE = u"Orvane.Launcher";
inline constexpr const char16_t* EVENT_SOURCE_KEY =
    u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Orvane.Launcher";

/// Reports the run as one Application event: information for a success code, error otherwise,
/// with the ID OutcomeOf gives (`toolExited`: `result` is the tool's own exit code), and a text that begins with the
/// exit code in decimal and hex and the outcome in words, then the patch file, its SHA-256, the tool's version and
/// `logPath`. Registers the source first when its key is absent and the run may create it, with the system's generic
/// message file, so that Event Viewer shows the text. Every failure is ignored.
void ReportRunEvent(const RunRecord& record, LaunchResult result, bool toolExited, const char16_t* logPath);

}  // namespace orvane
