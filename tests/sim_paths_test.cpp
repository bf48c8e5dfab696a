// The simulation's path functions and how names reach the host's file system: as Windows answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimPathsTest = SimFixture;

std::u16string Repeat(char16_t c, std::size_t n) { return std::u16string(n, c); }

// ---- Path functions ----------------------------------------------------------------------

struct FileSpecRow {
    std::u16string in, out;
    BOOL removed;
};

TEST_F(SimPathsTest, PathRemoveFileSpecMatchesWindows) {
    const FileSpecRow rows[] = {
        {u"C:\\dir\\file.txt", u"C:\\dir", TRUE},
        {u"C:\\dir", u"C:\\", TRUE},
        {u"C:\\dir\\", u"C:\\dir", TRUE},
        {u"C:\\", u"C:\\", FALSE},
        {u"C:", u"C:", FALSE},
        {u"C:file", u"C:", TRUE},
        {u"dir\\file", u"dir", TRUE},
        {u"file", u"", TRUE},
        {u"", u"", FALSE},
        {u"\\", u"\\", FALSE},
        {u"\\dir", u"\\", TRUE},
        {u"\\\\", u"\\\\", FALSE},
        {u"\\\\server", u"\\\\", TRUE},
        {u"\\\\server\\share", u"\\\\server", TRUE},
        {u"\\\\server\\share\\dir", u"\\\\server\\share", TRUE},
        // "/" is no separator for the shell's text functions.
        {u"C:/dir/file", u"C:", TRUE},
        {u"C:\\dir/file", u"C:\\", TRUE},
    };
    for (const FileSpecRow& row : rows) {
        std::u16string buffer = row.in;
        buffer.resize(MAX_PATH);
        EXPECT_EQ(PathRemoveFileSpecW(buffer.data()), row.removed) << testing::PrintToString(row.in);
        EXPECT_EQ(std::u16string(buffer.c_str()), row.out);
    }
}

struct AddBackslashRow {
    std::u16string in, out;
    bool refused;
};

TEST_F(SimPathsTest, PathAddBackslashMatchesWindows) {
    const AddBackslashRow rows[] = {
        {u"C:\\dir", u"C:\\dir\\", false},
        {u"C:\\", u"C:\\", false},
        {u"C:", u"C:\\", false},
        {u"", u"", false},
        {u"dir", u"dir\\", false},
        {u"C:/dir/", u"C:/dir/\\", false},
        {u"\\\\server\\share", u"\\\\server\\share\\", false},
        {Repeat(u'a', 258), Repeat(u'a', 258) + u"\\", false},
        {Repeat(u'a', 259), Repeat(u'a', 259), true},
        {Repeat(u'a', 258) + u"\\", Repeat(u'a', 258) + u"\\", true},
    };
    for (const AddBackslashRow& row : rows) {
        std::u16string buffer = row.in;
        buffer.resize(MAX_PATH, u'#');
        buffer[row.in.size()] = 0;
        char16_t* end = PathAddBackslashW(buffer.data());
        const std::u16string text(buffer.c_str());
        EXPECT_EQ(text, row.out) << row.in.size();
        if (row.refused) {
            EXPECT_EQ(end, nullptr);
        } else {
            EXPECT_EQ(end, buffer.data() + text.size());
        }
    }
}

struct RemoveBackslashRow {
    std::u16string in, out;
    std::size_t returned;  // index of the returned address
};

TEST_F(SimPathsTest, PathRemoveBackslashMatchesWindows) {
    const RemoveBackslashRow rows[] = {
        {u"C:\\dir\\", u"C:\\dir", 6},
        {u"C:\\dir\\\\", u"C:\\dir\\", 7},
        {u"C:\\dir", u"C:\\dir", 5},  // nothing removed: the last character
        {u"C:\\", u"C:\\", 2},
        {u"\\", u"\\", 0},
        {u"\\\\", u"\\\\", 1},
        {u"\\\\server\\", u"\\\\server", 8},
        {u"\\\\server\\share\\", u"\\\\server\\share", 14},
        {u"C:/dir/", u"C:/dir/", 6},
        {u"", u"", 0},
    };
    for (const RemoveBackslashRow& row : rows) {
        std::u16string buffer = row.in;
        buffer.resize(MAX_PATH);
        char16_t* result = PathRemoveBackslashW(buffer.data());
        EXPECT_EQ(std::u16string(buffer.c_str()), row.out) << testing::PrintToString(row.in);
        EXPECT_EQ(result, buffer.data() + row.returned) << testing::PrintToString(row.in);
    }
}

struct ExistsRow {
    std::u16string path;
    BOOL exists;
    DWORD error;  // last error when it does not
};

TEST_F(SimPathsTest, PathFileExistsReadsPathsAsTheFileSystemDoes) {
    sim::MakeFile(u"C:\\dir\\file.txt", "x");
    sim::MakeFolder(u"\\\\server\\share\\docs");
    const ExistsRow rows[] = {
        {u"C:\\dir\\file.txt", TRUE, 0},
        {u"C:/dir/file.txt", TRUE, 0},
        {u"c:\\dir\\file.txt", TRUE, 0},
        {u"C:\\dir", TRUE, 0},
        {u"C:\\dir\\", TRUE, 0},
        {u"C:\\dir\\.\\..\\dir\\file.txt", TRUE, 0},
        {u"C:\\..\\..\\dir", TRUE, 0},
        {u"C:\\", TRUE, 0},
        {u"C:", TRUE, 0},
        {u"dir\\file.txt", TRUE, 0},
        {u"C:dir\\file.txt", TRUE, 0},
        {u"\\dir\\file.txt", TRUE, 0},
        {u"\\\\server\\share\\docs", TRUE, 0},
        {u"//server/share/docs/", TRUE, 0},
        {u"C:\\dir\\file.txt\\", FALSE, 123},
        {u"C:\\dir\\missing", FALSE, ERROR_FILE_NOT_FOUND},
        {u"C:\\missing\\file.txt", FALSE, ERROR_PATH_NOT_FOUND},
        {u"C:\\dir\\file.txt\\below", FALSE, ERROR_PATH_NOT_FOUND},
        {u"Q:\\", FALSE, ERROR_PATH_NOT_FOUND},
        {u"C:\\bad|name", FALSE, 123},
        {u"\\\\server\\other\\docs", FALSE, 53},
        {u"", FALSE, ERROR_PATH_NOT_FOUND},
    };
    for (const ExistsRow& row : rows) {
        EXPECT_EQ(PathFileExistsW(row.path.c_str()), row.exists) << testing::PrintToString(row.path);
        if (!row.exists) {
            EXPECT_EQ(GetLastError(), row.error) << testing::PrintToString(row.path);
        }
    }
    EXPECT_FALSE(PathFileExistsW(nullptr));
}

struct MappingRow {
    std::u16string path, same;
};

TEST_F(SimPathsTest, RelativeAndDriveRelativeNamesFollowTheCurrentFolder) {
    sim::MakeDrive(u'D');
    sim::MakeFolder(u"D:\\work\\sub");
    sim::SetCurrentFolder(u"D:\\work");
    const MappingRow rows[] = {
        {u"x.txt", u"D:\\work\\x.txt"},
        {u".\\sub\\..\\x.txt", u"D:\\work\\x.txt"},
        {u"D:y", u"D:\\work\\y"},
        {u"d:y", u"D:\\work\\y"},
        {u"C:z", u"C:\\z"},
        {u"\\z", u"D:\\z"},
        {u"..\\..\\..\\z", u"D:\\z"},
        {u"\\\\?\\D:\\work\\x.txt", u"D:\\work\\x.txt"},
        {u"\\\\?\\UNC\\srv\\share\\f", u"\\\\srv\\share\\f"},
    };
    for (const MappingRow& row : rows) {
        EXPECT_EQ(sim::HostPath(row.path), sim::HostPath(row.same)) << testing::PrintToString(row.path);
    }
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
