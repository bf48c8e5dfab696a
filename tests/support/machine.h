// The launcher's tests' machine (testkit/typical_machine.h), and helpers to read back what a run left behind.
#pragma once

#include <string>
#include <vector>

#include "launcher/process_objects.h"
#include "platform/sim/sim.h"
#include "support/log_lines.h"
#include "testkit/typical_machine.h"

namespace orvane::testing {

inline constexpr const char16_t* LOG_PATH = u"C:\\ProgramData\\Velmor\\Orvane.Launcher-1600000000-4242.txt";

using sim::Utf8;

/// The log file's bytes as a run left them.
inline std::string LogBytes() { return sim::ReadFile(LOG_PATH); }

/// The bytes a log made of these lines holds: the mark, then each line with CR LF.
inline std::string LogOf(const std::vector<std::u16string>& lines) {
    std::string out = BOM;
    for (const std::u16string& line : lines) {
        std::string utf8 = Utf8(line);
        std::string withCrLf;
        for (char ch : utf8) {
            if (ch == '\n') withCrLf += '\r';
            withCrLf += ch;
        }
        out += withCrLf + "\r\n";
    }
    return out;
}

/// The path the run's Application event names after "Log: " (empty: it wrote none); "?" without an event.
inline std::u16string LogNamedByTheEvent() {
    const std::u16string text = sim::Events().empty() ? u"" : sim::Events().back().text;
    const std::size_t at = text.rfind(u"Log: ");
    return at == std::u16string::npos ? u"?" : text.substr(at + 5);
}

}  // namespace orvane::testing
