// What an exit code means to a fleet: success or not, the Application event's ID, and the outcome
// in a few words. The rows follow the exit-code table that the deployment guide and the Intune
// return codes are generated from; that table's check reads them from run_outcome.cpp.
#pragma once

#include <cstdint>

#include "launcher/launch_result.h"

namespace orvane {

/// The Windows Installer codes a tool may pass on: success in other words, and with a restart.
inline constexpr LaunchResult TOOL_SUCCESS_NO_ACTION = 1707;
inline constexpr LaunchResult TOOL_SUCCESS_REBOOT_REQUIRED = 3010;
inline constexpr LaunchResult TOOL_SUCCESS_REBOOT_INITIATED = 1641;
inline constexpr LaunchResult TOOL_ANOTHER_INSTALL_RUNNING = 1618;

struct RunOutcome {
    LaunchResult code;
    std::uint16_t eventId;  ///< 1 to 1000, so that the system's generic message file shows its text
    bool succeeded;
    bool fromTool;  ///< the tool's own exit code, passed on; else one of the launcher's codes
    const char16_t* words;
};

/// The row of `code` as the tool's own exit code (`fromTool`) or as the launcher's, or the row
/// for any other tool exit code. A tool that exits with one of the launcher's numbers (2, 3, 5,
/// 258, 0xFFFFFFFF) gets the row for any other: the exit code cannot tell them apart, the event
/// can.
const RunOutcome& OutcomeOf(LaunchResult code, bool fromTool);

}  // namespace orvane
