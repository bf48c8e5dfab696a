#include "launcher/process_objects.h"

#include "log/log_file.h"

namespace orvane {

// The four process-wide objects, in the order they are built; the language destroys them in the
// reverse order. The log's path belongs to the log and is built at its first use: using it here,
// after the three constant strings and before the launch sequence, makes it the fourth.
const GuardedString TOOL_RELATIVE_PATH(u"installer\\kestrun.exe");
const GuardedString PATCH_FILE_NAME(u"patch.rkv");
const GuardedString LEGACY_PATCH_FILE_NAME(u"patch.rkv.old");
[[maybe_unused]] const FixedPathString& logPathBuiltFourth = LogPath();

}  // namespace orvane
