// The process-wide objects, built in this order before the launch sequence and destroyed after
// it in reverse. They live in one translation unit so that the order holds.
#pragma once

#include "strings/fixed_path_string.h"
#include "strings/guarded_string.h"

namespace orvane {

/// "installer\kestrun.exe", relative to the install folder.
extern const GuardedString TOOL_RELATIVE_PATH;
/// "patch.rkv", encrypted by the new method.
extern const GuardedString PATCH_FILE_NAME;
/// "patch.rkv.old", encrypted by the old method.
extern const GuardedString LEGACY_PATCH_FILE_NAME;
/// The log file's path; empty until OpenLog fills it.
extern FixedPathString logPath;

}  // namespace orvane
