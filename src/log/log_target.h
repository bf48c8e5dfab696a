// Where the log may be written. The launcher usually runs as SYSTEM or as an elevated
// administrator and writes a file of a predictable name under the common application-data
// folder, where every user may create folders and files. A folder or file planted there as a
// junction, a symbolic link or a hard link would let that user choose which file an
// administrator's process appends to. Such a target counts as a log that cannot be opened.
#pragma once

#include "platform/types.h"

namespace orvane {

/// True when `path` is a real folder (not a reparse point) owned by SYSTEM, the Administrators
/// group, TrustedInstaller or the user the launcher runs as. Looks at the folder itself, never
/// at what a link there points to. False when any of that cannot be established.
bool IsTrustedFolder(const char16_t* path);

/// True when the open `file` is a regular file (not a folder, not a reparse point) with exactly
/// one name. False when that cannot be established.
bool IsPlainFile(platform::HANDLE file);

}  // namespace orvane
