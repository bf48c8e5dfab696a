#pragma once

#include "strings/fixed_path_string.h"

namespace orvane {

/// Fills the new, empty `launcherFolder` with the folder of the launcher's own executable,
/// ending with a backslash. When the module path fails (empty) or is cut short (the cut path),
/// no folder is derived and nothing is reported.
void FindLauncherFolder(FixedPathString& launcherFolder);

}  // namespace orvane
