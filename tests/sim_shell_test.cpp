// The simulation's shell folders, as configured or answered with the size they need.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimShellTest = SimFixture;

TEST_F(SimShellTest, WindowsFolderAsConfiguredOrTheSizeItNeeds) {
    char16_t folder[MAX_PATH] = {};
    EXPECT_EQ(GetSystemWindowsDirectoryW(folder, MAX_PATH), 10u);
    EXPECT_EQ(std::u16string(folder), u"C:\\Windows");
    EXPECT_EQ(GetSystemWindowsDirectoryW(folder, 10), 11u);
    sim::SetWindowsFolder(u"D:\\Win");
    EXPECT_EQ(GetSystemWindowsDirectoryW(folder, MAX_PATH), 6u);
}

TEST_F(SimShellTest, CommonAppDataAsConfigured) {
    char16_t path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK);
    EXPECT_EQ(std::u16string(path), u"C:\\ProgramData");
    sim::SetCommonAppData(u"E:\\Data");
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK);
    EXPECT_EQ(std::u16string(path), u"E:\\Data");
    sim::FailCommonAppData(E_FAIL);
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), E_FAIL);
}

}  // namespace
