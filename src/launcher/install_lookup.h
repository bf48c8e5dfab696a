#pragma once

#include "strings/guarded_string.h"

namespace orvane {

/// The product's "InstallLocation" under HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Corvantis,
/// read from the 64-bit view when `use64BitView`. Returns the text as stored up to its first 0
/// character (REG_EXPAND_SZ not expanded), or an empty string for every failure. Logs nothing.
GuardedString ReadInstallLocation(bool use64BitView);

}  // namespace orvane
