#include "launcher/process_objects.h"

#include "log/log_file.h"

namespace orvane {

// The four process-wide objects, in the order they are built: one translation unit, so the
// language builds them top to bottom and destroys them bottom to top. The log's path lives
// with the log; its lifetime is placed here, last.
const GuardedString TOOL_RELATIVE_PATH(u"installer\\kestrun.exe");
const GuardedString PATCH_FILE_NAME(u"patch.rkv");
const GuardedString LEGACY_PATCH_FILE_NAME(u"patch.rkv.old");
const LogPathLifetime logPathLifetime;

}  // namespace orvane
