// Expected log lines, built from the launcher's message constants, so that a message's wording
// lives in the message table and in the one test that pins it. The substitution here is
// deliberately not the product's formatter: a test of the formatter must not agree with itself.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "platform/types.h"

namespace orvane::testing {

/// The byte-order mark every log the launcher creates begins with.
inline const std::string BOM = "\xEF\xBB\xBF";

/// One argument of an expected line: text as it is, a number as the log shows a DWORD (signed).
class LineArg {
public:
    LineArg(const char16_t* text) : text(text) {}            // NOLINT(google-explicit-constructor)
    LineArg(std::u16string text) : text(std::move(text)) {}  // NOLINT(google-explicit-constructor)
    LineArg(platform::DWORD number) {                        // NOLINT(google-explicit-constructor)
        const std::string digits = std::to_string(static_cast<std::int32_t>(number));
        text.assign(digits.begin(), digits.end());
    }
    std::u16string text;
};

/// `message` with each %s or %d replaced by the next argument, in order; one past the last
/// argument leaves nothing, which gives the part of a line before its number.
inline std::u16string Line(const char16_t* message, std::initializer_list<LineArg> args = {}) {
    const std::u16string format(message);
    std::u16string line;
    const LineArg* next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size() && (format[i + 1] == u's' || format[i + 1] == u'd')) {
            if (next != args.end()) line += (next++)->text;
            ++i;
        } else {
            line += format[i];
        }
    }
    return line;
}

template <typename... Args>
std::u16string Line(const char16_t* message, const LineArg& first, const Args&... rest) {
    return Line(message, {first, LineArg(rest)...});
}

}  // namespace orvane::testing
