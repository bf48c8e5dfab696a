// LogWrite: the one reporting channel. Writes one formatted message and a line break to the
// log and flushes it; does nothing when the log is not open.
#pragma once

#include <cstdint>

#include "strings/wide_format.h"

namespace orvane {

void LogWriteList(const char16_t* format, const FormatArg* args, std::uint32_t argCount);

template <typename... Args>
void LogWrite(const char16_t* format, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg()};
    LogWriteList(format, list, sizeof...(Args));
}

}  // namespace orvane
