// A typical machine for the launcher's tests, and helpers to read back what a run left behind.
#pragma once

#include <string>
#include <vector>

#include "launcher/process_objects.h"
#include "platform/sim/sim.h"
#include "support/log_lines.h"

namespace orvane::testing {

inline constexpr const char16_t* UNINSTALL_KEY = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvantis";
inline constexpr const char16_t* INSTALL_FOLDER = u"C:\\Program Files\\Product\\";
inline constexpr const char16_t* TOOL_PATH = u"C:\\Program Files\\Product\\installer\\kestrun.exe";
inline constexpr const char16_t* LAUNCHER_PATH = u"D:\\deploy\\Orvane.Launcher.exe";
inline constexpr const char16_t* LOG_PATH = u"C:\\ProgramData\\Velmor\\Orvane.Launcher-1600000000-4242.txt";

/// The typical run: the product registered in the 64-bit view, its tool present, the launcher
/// in D:\deploy beside patch.rkv, the tool exiting with 0.
inline void TypicalMachine() {
    sim::Reset();
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", INSTALL_FOLDER);
    sim::MakeFile(TOOL_PATH, "MZ");
    sim::MakeDrive(u'D');
    sim::SetModuleFileName(LAUNCHER_PATH);
    sim::MakeFile(u"D:\\deploy\\Orvane.Launcher.exe", "MZ");
    sim::MakeFile(u"D:\\deploy\\patch.rkv", "patch");
}

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
