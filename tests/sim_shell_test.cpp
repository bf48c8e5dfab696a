// The simulation's shell functions: the path text functions and PathFileExistsW, as Windows answers.
#include <gtest/gtest.h>

#include <string>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

std::u16string Repeat(char16_t c, std::size_t n) { return std::u16string(n, c); }

struct FileSpecRow {
    const char* name;
    std::u16string in, out;
    BOOL removed;
};
ORVANE_PRINT_BY_NAME(FileSpecRow)

const FileSpecRow FILE_SPEC_ROWS[] = {
    {"FileInAFolder", u"C:\\dir\\file.txt", u"C:\\dir", TRUE},
    {"FolderInARoot", u"C:\\dir", u"C:\\", TRUE},
    {"TrailingBackslash", u"C:\\dir\\", u"C:\\dir", TRUE},
    {"DriveRoot", u"C:\\", u"C:\\", FALSE},
    {"DriveAlone", u"C:", u"C:", FALSE},
    {"DriveRelative", u"C:file", u"C:", TRUE},
    {"Relative", u"dir\\file", u"dir", TRUE},
    {"BareName", u"file", u"", TRUE},
    {"Empty", u"", u"", FALSE},
    {"Backslash", u"\\", u"\\", FALSE},
    {"FolderInTheCurrentRoot", u"\\dir", u"\\", TRUE},
    {"TwoBackslashes", u"\\\\", u"\\\\", FALSE},
    {"Server", u"\\\\server", u"\\\\", TRUE},
    {"Share", u"\\\\server\\share", u"\\\\server", TRUE},
    {"FolderInAShare", u"\\\\server\\share\\dir", u"\\\\server\\share", TRUE},
    // "/" is no separator for the shell's text functions.
    {"SlashesOnly", u"C:/dir/file", u"C:", TRUE},
    {"SlashAfterABackslash", u"C:\\dir/file", u"C:\\", TRUE},
};

class PathRemoveFileSpecTest : public SimFixture, public ::testing::WithParamInterface<FileSpecRow> {};

TEST_P(PathRemoveFileSpecTest, MatchesWindows) {
    std::u16string buffer = GetParam().in;
    buffer.resize(MAX_PATH);
    EXPECT_EQ(PathRemoveFileSpecW(buffer.data()), GetParam().removed);
    EXPECT_EQ(std::u16string(buffer.c_str()), GetParam().out);
}

ORVANE_NAMED_ROWS(Rows, PathRemoveFileSpecTest, FILE_SPEC_ROWS);

struct AddBackslashRow {
    const char* name;
    std::u16string in, out;
    bool refused;
};
ORVANE_PRINT_BY_NAME(AddBackslashRow)

const AddBackslashRow ADD_BACKSLASH_ROWS[] = {
    {"Folder", u"C:\\dir", u"C:\\dir\\", false},
    {"DriveRoot", u"C:\\", u"C:\\", false},
    {"DriveAlone", u"C:", u"C:\\", false},
    {"Empty", u"", u"", false},
    {"Relative", u"dir", u"dir\\", false},
    {"SlashIsNoSeparator", u"C:/dir/", u"C:/dir/\\", false},
    {"Share", u"\\\\server\\share", u"\\\\server\\share\\", false},
    {"Longest", Repeat(u'a', 258), Repeat(u'a', 258) + u"\\", false},
    {"NoRoomLeft", Repeat(u'a', 259), Repeat(u'a', 259), true},
    {"NoRoomLeftWithABackslash", Repeat(u'a', 258) + u"\\", Repeat(u'a', 258) + u"\\", true},
};

class PathAddBackslashTest : public SimFixture, public ::testing::WithParamInterface<AddBackslashRow> {};

TEST_P(PathAddBackslashTest, MatchesWindows) {
    const AddBackslashRow& row = GetParam();
    std::u16string buffer = row.in;
    buffer.resize(MAX_PATH, u'#');
    buffer[row.in.size()] = 0;
    char16_t* end = PathAddBackslashW(buffer.data());
    const std::u16string text(buffer.c_str());
    EXPECT_EQ(text, row.out);
    EXPECT_EQ(end, row.refused ? nullptr : buffer.data() + text.size());
}

ORVANE_NAMED_ROWS(Rows, PathAddBackslashTest, ADD_BACKSLASH_ROWS);

struct RemoveBackslashRow {
    const char* name;
    std::u16string in, out;
    std::size_t returned;  // index of the returned address
};
ORVANE_PRINT_BY_NAME(RemoveBackslashRow)

const RemoveBackslashRow REMOVE_BACKSLASH_ROWS[] = {
    {"Folder", u"C:\\dir\\", u"C:\\dir", 6},
    {"OnlyTheLastOfTwo", u"C:\\dir\\\\", u"C:\\dir\\", 7},
    {"NoneToRemove", u"C:\\dir", u"C:\\dir", 5},  // the last character
    {"DriveRoot", u"C:\\", u"C:\\", 2},
    {"Backslash", u"\\", u"\\", 0},
    {"TwoBackslashes", u"\\\\", u"\\\\", 1},
    {"Server", u"\\\\server\\", u"\\\\server", 8},
    {"Share", u"\\\\server\\share\\", u"\\\\server\\share", 14},
    {"SlashIsNoSeparator", u"C:/dir/", u"C:/dir/", 6},
    {"Empty", u"", u"", 0},
};

class PathRemoveBackslashTest : public SimFixture, public ::testing::WithParamInterface<RemoveBackslashRow> {};

TEST_P(PathRemoveBackslashTest, MatchesWindows) {
    std::u16string buffer = GetParam().in;
    buffer.resize(MAX_PATH);
    char16_t* result = PathRemoveBackslashW(buffer.data());
    EXPECT_EQ(std::u16string(buffer.c_str()), GetParam().out);
    EXPECT_EQ(result, buffer.data() + GetParam().returned);
}

ORVANE_NAMED_ROWS(Rows, PathRemoveBackslashTest, REMOVE_BACKSLASH_ROWS);

struct ExistsRow {
    const char* name;
    std::u16string path;
    DWORD error;  // 0: it exists
};
ORVANE_PRINT_BY_NAME(ExistsRow)

const ExistsRow EXISTS_ROWS[] = {
    {"File", u"C:\\dir\\file.txt", 0},
    {"Slashes", u"C:/dir/file.txt", 0},
    {"OtherCase", u"c:\\dir\\file.txt", 0},
    {"Folder", u"C:\\dir", 0},
    {"FolderWithBackslash", u"C:\\dir\\", 0},
    {"DotsInside", u"C:\\dir\\.\\..\\dir\\file.txt", 0},
    {"DotsAboveTheRoot", u"C:\\..\\..\\dir", 0},
    {"DriveRoot", u"C:\\", 0},
    {"DriveAlone", u"C:", 0},
    {"Relative", u"dir\\file.txt", 0},
    {"DriveRelative", u"C:dir\\file.txt", 0},
    {"InTheCurrentRoot", u"\\dir\\file.txt", 0},
    {"Share", u"\\\\server\\share\\docs", 0},
    {"ShareWithSlashes", u"//server/share/docs/", 0},
    {"FileWithBackslash", u"C:\\dir\\file.txt\\", 123},
    {"MissingFile", u"C:\\dir\\missing", ERROR_FILE_NOT_FOUND},
    {"MissingFolder", u"C:\\missing\\file.txt", ERROR_PATH_NOT_FOUND},
    {"BelowAFile", u"C:\\dir\\file.txt\\below", ERROR_PATH_NOT_FOUND},
    {"MissingDrive", u"Q:\\", ERROR_PATH_NOT_FOUND},
    {"BadName", u"C:\\bad|name", 123},
    {"MissingShare", u"\\\\server\\other\\docs", 53},
    {"Empty", u"", ERROR_PATH_NOT_FOUND},
};

class PathFileExistsTest : public SimFixture, public ::testing::WithParamInterface<ExistsRow> {};

TEST_P(PathFileExistsTest, ReadsPathsAsTheFileSystemDoes) {
    sim::MakeFile(u"C:\\dir\\file.txt", "x");
    sim::MakeFolder(u"\\\\server\\share\\docs");
    const BOOL exists = PathFileExistsW(GetParam().path.c_str());
    EXPECT_EQ(exists ? 0 : GetLastError(), GetParam().error);
    EXPECT_EQ(exists, GetParam().error == 0);
}

ORVANE_NAMED_ROWS(Rows, PathFileExistsTest, EXISTS_ROWS);

}  // namespace
