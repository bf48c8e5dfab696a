#pragma once

#include "launcher/launch_result.h"

namespace orvane {

/// The whole run: opens the log, finds the install folder and the tool, chooses the patch
/// file, runs the tool, closes the log. Returns the process exit code.
LaunchResult RunLaunchSequence();

}  // namespace orvane
