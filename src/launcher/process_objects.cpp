#include "launcher/process_objects.h"

namespace orvane {

// One translation unit, so they are built in this order and destroyed in the reverse order.
const GuardedString TOOL_RELATIVE_PATH(u"installer\\kestrun.exe");
const GuardedString PATCH_FILE_NAME(u"patch.rkv");
const GuardedString LEGACY_PATCH_FILE_NAME(u"patch.rkv.old");
FixedPathString logPath;

}  // namespace orvane
