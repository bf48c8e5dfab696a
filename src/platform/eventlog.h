// The Windows event log: one event per run in the Application log.
#pragma once

#include "platform/types.h"

namespace platform {

inline constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;

/// A handle for reporting events of `source` on the local machine (no server name). Null on
/// failure. Works for a source that is not registered too: its events then show without text.
HANDLE RegisterEventSourceW(const char16_t* source);

/// Reports one event of `type` with `eventId`, no category, no user and no binary data, and one
/// insertion string, `text`. Non-zero on success.
BOOL ReportEventW(HANDLE eventLog, WORD type, DWORD eventId, const char16_t* text);

/// Closes a handle from RegisterEventSourceW. Non-zero on success.
BOOL DeregisterEventSource(HANDLE eventLog);

}  // namespace platform
