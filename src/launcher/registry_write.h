#pragma once

#include "platform/registry.h"

namespace orvane {

/// Stores `text` with its terminator as a value of `type` (REG_SZ or REG_EXPAND_SZ). A failure is
/// ignored: what the launcher writes to the registry never changes its run.
void SetTextValue(platform::HKEY key, const char16_t* name, const char16_t* text,
                  platform::DWORD type = platform::REG_SZ);

/// Stores `value` as a REG_DWORD. A failure is ignored.
void SetNumberValue(platform::HKEY key, const char16_t* name, platform::DWORD value);

}  // namespace orvane
