// The simulation's names: how Windows paths reach the host's file system, and a reset's fresh tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimPathsTest = SimFixture;

struct MappingRow {
    const char* name;
    std::u16string path, same;
};
ORVANE_PRINT_BY_NAME(MappingRow)

const MappingRow MAPPING_ROWS[] = {
    {"Relative", u"x.txt", u"D:\\work\\x.txt"},
    {"DotsInside", u".\\sub\\..\\x.txt", u"D:\\work\\x.txt"},
    {"DriveRelative", u"D:y", u"D:\\work\\y"},
    {"DriveRelativeOtherCase", u"d:y", u"D:\\work\\y"},
    {"OtherDriveRelative", u"C:z", u"C:\\z"},
    {"InTheCurrentRoot", u"\\z", u"D:\\z"},
    {"AboveTheRoot", u"..\\..\\..\\z", u"D:\\z"},
    {"LongForm", u"\\\\?\\D:\\work\\x.txt", u"D:\\work\\x.txt"},
    {"LongFormShare", u"\\\\?\\UNC\\srv\\share\\f", u"\\\\srv\\share\\f"},
};

class SimNameMappingTest : public SimFixture, public ::testing::WithParamInterface<MappingRow> {};

TEST_P(SimNameMappingTest, RelativeAndDriveRelativeNamesFollowTheCurrentFolder) {
    sim::MakeDrive(u'D');
    sim::MakeFolder(u"D:\\work\\sub");
    sim::SetCurrentFolder(u"D:\\work");
    EXPECT_EQ(sim::HostPath(GetParam().path), sim::HostPath(GetParam().same));
}

ORVANE_NAMED_ROWS(Rows, SimNameMappingTest, MAPPING_ROWS);

TEST_F(SimPathsTest, WindowsNamesMapToTheHostsTree) {
    EXPECT_EQ(sim::HostPath(u"D:\\work\\x.txt"), sim::RootFolder() + "/D/work/x.txt");
    EXPECT_EQ(sim::HostPath(u"\\\\srv\\share\\f"), sim::RootFolder() + "/UNC/srv/share/f");
}

TEST_F(SimPathsTest, NamesBeyondAsciiAreRealUtf8Names) {
    const std::u16string folder = u"C:\\Dat\u00E9n";
    const std::u16string file = u"\U0001F600.txt";
    sim::MakeFile(folder + u"\\" + file, "x");
    EXPECT_EQ(sim::HostPath(folder), sim::RootFolder() + "/C/Dat\xC3\xA9n");
    EXPECT_EQ(sim::ListFolder(folder), std::vector<std::u16string>{file});
    EXPECT_TRUE(PathFileExistsW((folder + u"/" + file).c_str()));
}

TEST_F(SimPathsTest, ResetStartsAnEmptyMachineInANewRootAndRemovesTheOldOne) {
    sim::MakeFile(u"C:\\a.txt", "a");
    sim::SetString(sim::View::Bit64, u"SOFTWARE\\X", u"v", u"t");
    const std::string oldRoot = sim::RootFolder();
    sim::Reset();
    EXPECT_FALSE(std::filesystem::exists(oldRoot));
    EXPECT_NE(sim::RootFolder(), oldRoot);
    EXPECT_TRUE(sim::FolderExists(u"C:\\"));
    EXPECT_FALSE(sim::FileExists(u"C:\\a.txt"));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\X", 0, 0x0101, &key), LONG{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(sim::Calls(), std::vector<std::string>{"RegOpenKeyExW"});
}

}  // namespace
