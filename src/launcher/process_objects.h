// The launcher's constant strings. They are process-wide objects, built before the launch
// sequence and destroyed after it together with the log's path, in the order that
// process_objects.cpp states.
#pragma once

#include "strings/guarded_string.h"

namespace orvane {

/// "installer\kestrun.exe", relative to the install folder.
extern const GuardedString TOOL_RELATIVE_PATH;
/// "patch.rkv", encrypted by the new method.
extern const GuardedString PATCH_FILE_NAME;
/// "patch.rkv.old", encrypted by the old method.
extern const GuardedString LEGACY_PATCH_FILE_NAME;

}  // namespace orvane
