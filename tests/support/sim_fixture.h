// The simulation's own tests: the platform it stands for, a fresh machine per test, and the
// shorthands the tests share.
#pragma once

#include <gtest/gtest.h>

#include "platform/crypto.h"
#include "platform/eventlog.h"
#include "platform/filesystem.h"
#include "platform/owners.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/sim/sim.h"
#include "platform/version.h"
#include "support/machine.h"
#include "support/named_case.h"

namespace orvane::testing {

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

inline constexpr platform::DWORD R = platform::GENERIC_READ;
inline constexpr platform::DWORD W = platform::GENERIC_WRITE;
inline constexpr platform::DWORD SR = platform::FILE_SHARE_READ;
inline constexpr platform::DWORD SW = platform::FILE_SHARE_WRITE;

/// The key the run record is written under.
inline constexpr const char16_t* RECORD_KEY = u"SOFTWARE\\Velmor\\Orvane.Launcher";

/// A handle on the folder itself, as the log target opens one.
inline platform::HANDLE OpenFolder(const char16_t* path, platform::DWORD access = platform::FILE_TRAVERSE) {
    return platform::CreateFileW(path, access, SR | SW | platform::FILE_SHARE_DELETE, platform::OPEN_EXISTING,
                                 platform::FILE_FLAG_BACKUP_SEMANTICS | platform::FILE_FLAG_OPEN_REPARSE_POINT);
}

/// Opens the uninstall key of the typical machine.
inline platform::LONG OpenKey(platform::DWORD access, platform::HKEY* key) {
    return platform::RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, access, key);
}

/// A launch record as the launcher fills it in.
inline platform::SHELLEXECUTEINFOW Record(const char16_t* verb = u"runas") {
    platform::SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = platform::SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = verb;
    info.lpFile = u"C:\\tool.exe";
    info.lpParameters = u" /encfile \"D:\\p.rkv\"";
    info.lpDirectory = u"D:\\deploy";
    info.nShow = platform::SW_SHOW;
    return info;
}

}  // namespace orvane::testing
