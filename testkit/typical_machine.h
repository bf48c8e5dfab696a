// The simulated machine most unit tests and the launch benchmark start from.
#pragma once

#include "platform/sim/sim.h"

namespace orvane::testing {

inline constexpr const char16_t* UNINSTALL_KEY = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvantis";
inline constexpr const char16_t* INSTALL_FOLDER = u"C:\\Program Files\\Product\\";
inline constexpr const char16_t* TOOL_PATH = u"C:\\Program Files\\Product\\installer\\kestrun.exe";
inline constexpr const char16_t* LAUNCHER_PATH = u"D:\\deploy\\Orvane.Launcher.exe";

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

}  // namespace orvane::testing
