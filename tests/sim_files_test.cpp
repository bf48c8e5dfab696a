// The simulation's files, folders and handles: sharing, dispositions and errors as on Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimFilesTest = SimFixture;

struct SharingRow {
    const char* name;
    DWORD heldAccess, heldShare, access, share;
    DWORD error;  // 0: the second open works
};
ORVANE_PRINT_BY_NAME(SharingRow)

const SharingRow SHARING_ROWS[] = {
    {"DenyWriteHolderRefusesASecondWriter", W, SR, W, SR | SW, ERROR_SHARING_VIOLATION},
    {"DenyWriteHolderLetsAReaderThatSharesWriteIn", W, SR, R, SR | SW, 0},
    {"AReaderThatOnlySharesReadExcludesTheHoldersWrite", W, SR, R, SR, ERROR_SHARING_VIOLATION},
    {"AnOpenWithoutAccessStillMayNotDenyTheHoldersWrite", W, SR, 0, 0, ERROR_SHARING_VIOLATION},
    {"ExclusiveHolderRefusesAReader", R | W, 0, R, SR | SW, ERROR_SHARING_VIOLATION},
    {"SharingHolderLetsAWriterIn", R, SR | SW, W, SR | SW, 0},
    {"ReadSharingReaderLetsASecondReaderIn", R, SR, R, SR, 0},
};

class SimSharingTest : public SimFixture, public ::testing::WithParamInterface<SharingRow> {};

TEST_P(SimSharingTest, BetweenOpenHandlesFollowsWindows) {
    const SharingRow& row = GetParam();
    sim::MakeFile(u"C:\\log.txt", "x");
    HANDLE held = CreateFileW(u"C:\\log.txt", row.heldAccess, row.heldShare, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HANDLE second = CreateFileW(u"C:/log.txt", row.access, row.share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(second == INVALID_HANDLE_VALUE ? GetLastError() : 0, row.error);
    EXPECT_TRUE(CloseHandle(held));
    HANDLE after = CreateFileW(u"C:\\log.txt", W, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(after == INVALID_HANDLE_VALUE, row.error == 0) << "the second handle still holds it";
}

ORVANE_NAMED_ROWS(Rows, SimSharingTest, SHARING_ROWS);

struct OpenRow {
    const char* name;
    std::u16string path;
    DWORD access, disposition;
    DWORD error;        // 0: opens
    DWORD lastError;    // on success
    std::string after;  // the file's bytes afterwards
};
ORVANE_PRINT_BY_NAME(OpenRow)

const OpenRow OPEN_ROWS[] = {
    {"OpenExisting", u"C:\\dir\\f.txt", R, OPEN_EXISTING, 0, 0, "old"},
    {"OpenExistingMissing", u"C:\\dir\\g.txt", R, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, 0, ""},
    {"MissingParent", u"C:\\nodir\\f.txt", W, OPEN_ALWAYS, ERROR_PATH_NOT_FOUND, 0, ""},
    {"MissingDrive", u"Q:\\f.txt", W, OPEN_ALWAYS, ERROR_PATH_NOT_FOUND, 0, ""},
    {"AFolder", u"C:\\dir", R, OPEN_EXISTING, ERROR_ACCESS_DENIED, 0, ""},
    {"AFolderOpenAlways", u"C:\\dir", W, OPEN_ALWAYS, ERROR_ACCESS_DENIED, 0, ""},
    {"ADriveRoot", u"C:\\", R, OPEN_EXISTING, ERROR_ACCESS_DENIED, 0, ""},
    {"TrailingBackslash", u"C:\\dir\\f.txt\\", R, OPEN_EXISTING, 123, 0, "old"},
    {"CreateNewOverAFile", u"C:\\dir\\f.txt", W, CREATE_NEW, 80, 0, "old"},
    {"CreateNew", u"C:\\dir\\g.txt", W, CREATE_NEW, 0, 0, ""},
    {"OpenAlwaysOverAFile", u"C:\\dir\\f.txt", W, OPEN_ALWAYS, 0, ERROR_ALREADY_EXISTS, "old"},
    {"OpenAlwaysNew", u"C:\\dir\\g.txt", W, OPEN_ALWAYS, 0, 0, ""},
    {"CreateAlwaysTruncates", u"C:\\dir\\f.txt", W, CREATE_ALWAYS, 0, ERROR_ALREADY_EXISTS, ""},
    {"BadDisposition", u"C:\\dir\\f.txt", W, 0, ERROR_INVALID_PARAMETER, 0, "old"},
};

class SimCreateFileTest : public SimFixture, public ::testing::WithParamInterface<OpenRow> {};

TEST_P(SimCreateFileTest, DispositionsAndErrors) {
    const OpenRow& row = GetParam();
    sim::MakeFile(u"C:\\dir\\f.txt", "old");
    HANDLE h = CreateFileW(row.path.c_str(), row.access, SR, row.disposition, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetLastError(), row.error != 0 ? row.error : row.lastError);
    if (row.error == 0) {
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(sim::FileExists(row.path));
        EXPECT_EQ(sim::ReadFile(row.path), row.after);
        EXPECT_TRUE(CloseHandle(h));
    } else {
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(sim::ReadFile(u"C:\\dir\\f.txt"), "old");
        EXPECT_FALSE(sim::FileExists(u"C:\\dir\\g.txt"));
    }
}

ORVANE_NAMED_ROWS(Rows, SimCreateFileTest, OPEN_ROWS);

TEST_F(SimFilesTest, ReadsFromThePositionAndWritesAtTheEnd) {
    sim::MakeFile(u"C:\\f.bin", "abc");
    HANDLE h = CreateFileW(u"C:\\f.bin", R | W, SR, OPEN_ALWAYS, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[8] = {};
    DWORD read = 99;
    ASSERT_TRUE(ReadFile(h, buffer, 2, &read));
    EXPECT_EQ(std::string(buffer, read), "ab");
    DWORD written = 0;
    ASSERT_TRUE(WriteFileAtEnd(h, "de", 2, &written));
    EXPECT_EQ(written, 2u);
    sim::MakeFile(u"C:\\other.bin", "");
    ASSERT_TRUE(WriteFileAtEnd(h, "f", 1, &written));
    EXPECT_EQ(sim::ReadFile(u"C:\\f.bin"), "abcdef");
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u) << "a write leaves the position at the end";
    EXPECT_EQ(sim::WriteSizes(), (std::vector<DWORD>{2, 1}));
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(SimFilesTest, AccessDecidesWhatAHandleMayDo) {
    sim::MakeFile(u"C:\\f.bin", "abc");
    HANDLE reader = CreateFileW(u"C:\\f.bin", R, SR | SW, OPEN_EXISTING, 0);
    HANDLE writer = CreateFileW(u"C:\\f.bin", W, SR | SW, OPEN_EXISTING, 0);
    DWORD count = 0;
    char buffer[4];
    EXPECT_FALSE(WriteFileAtEnd(reader, "x", 1, &count));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ReadFile(writer, buffer, 4, &count));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(sim::ReadFile(u"C:\\f.bin"), "abc");
    CloseHandle(reader);
    CloseHandle(writer);
}

TEST_F(SimFilesTest, WritesFailAfterTheAllowedNumber) {
    HANDLE h = CreateFileW(u"C:\\f.bin", W, SR, OPEN_ALWAYS, 0);
    sim::FailWritesAfter(1);
    DWORD written = 7;
    EXPECT_TRUE(WriteFileAtEnd(h, "one", 3, &written));
    EXPECT_FALSE(WriteFileAtEnd(h, "two", 3, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), 112u);
    EXPECT_FALSE(WriteFileAtEnd(h, "three", 5, &written));
    EXPECT_EQ(sim::ReadFile(u"C:\\f.bin"), "one");
    EXPECT_EQ(sim::WriteSizes(), (std::vector<DWORD>{3, 3, 5}));
    CloseHandle(h);
}

TEST_F(SimFilesTest, CloseHandleRefusesWhatIsNotOpen) {
    HANDLE h = CreateFileW(u"C:\\f.bin", W, SR, OPEN_ALWAYS, 0);
    EXPECT_TRUE(CloseHandle(h));
    for (HANDLE bad : {h, static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(std::uintptr_t{0x7777})}) {
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    DWORD written = 0;
    EXPECT_FALSE(WriteFileAtEnd(h, "x", 1, &written));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

struct DirectoryRow {
    const char* name;
    std::u16string path;
    DWORD error;  // 0: made
};
ORVANE_PRINT_BY_NAME(DirectoryRow)

const DirectoryRow DIRECTORY_ROWS[] = {
    {"NewFolder", u"C:\\ProgramData", 0},
    {"TrailingBackslash", u"C:\\ProgramData\\", 0},
    {"OtherSeparator", u"C:/ProgramData", 0},
    {"FolderExists", u"C:\\existing", ERROR_ALREADY_EXISTS},
    {"FileOfThatName", u"C:\\file", ERROR_ALREADY_EXISTS},
    {"ParentMissing", u"C:\\ProgramData\\Velmor", ERROR_PATH_NOT_FOUND},
    {"ParentIsAFile", u"C:\\file\\sub", ERROR_PATH_NOT_FOUND},
    {"DriveMissing", u"Q:\\Velmor", ERROR_PATH_NOT_FOUND},
    {"DriveRoot", u"C:\\", ERROR_ACCESS_DENIED},
    {"Denied", u"C:\\denied", ERROR_ACCESS_DENIED},
};

class SimCreateDirectoryTest : public SimFixture, public ::testing::WithParamInterface<DirectoryRow> {};

TEST_P(SimCreateDirectoryTest, MakesOneFolderOrSaysWhyNot) {
    const DirectoryRow& row = GetParam();
    sim::MakeFolder(u"C:\\existing");
    sim::MakeFile(u"C:\\file");
    sim::DenyCreateDirectory(u"C:\\denied", ERROR_ACCESS_DENIED);
    const BOOL made = row.error == 0;
    EXPECT_EQ(CreateDirectoryW(row.path.c_str(), nullptr), made);
    EXPECT_EQ(made ? 0 : GetLastError(), row.error);
    if (made) {
        EXPECT_TRUE(sim::FolderExists(row.path));
    }
    EXPECT_FALSE(sim::FolderExists(u"C:\\denied"));
    ASSERT_EQ(sim::DirectoryCalls().size(), 1u);
    EXPECT_EQ(sim::DirectoryCalls()[0].path, row.path);
    EXPECT_EQ(sim::DirectoryCalls()[0].result, made);
    EXPECT_EQ(sim::DirectoryCalls()[0].error, row.error);
}

ORVANE_NAMED_ROWS(Rows, SimCreateDirectoryTest, DIRECTORY_ROWS);

// What the log relies on: the file lands in the folder the handle was opened on, wherever its
// name now leads; a link at the file's name is neither followed nor created through.
TEST_F(SimFilesTest, NtCreateFileWorksInTheFolderItsHandleHoldsWhateverItsNameBecomes) {
    sim::MakeFolder(u"C:\\a\\sub");
    sim::MakeFolder(u"C:\\elsewhere");
    sim::MakeLink(u"C:\\a\\link.txt", u"C:\\elsewhere\\target.txt");
    const platform::ScopedFile folder(OpenFolder(u"C:\\a"));
    sim::Rename(u"C:\\a", u"C:\\moved");
    sim::MakeLink(u"C:\\a", u"C:\\elsewhere");

    platform::ScopedFile file;
    EXPECT_EQ(NtCreateFile(file.Receive(), W, folder.Get(), u"x.txt", SR, FILE_CREATE, FILE_NON_DIRECTORY_FILE),
              STATUS_SUCCESS);
    EXPECT_EQ(sim::Trace().back().on, u"C:\\a\\x.txt");
    file.Close();
    EXPECT_TRUE(sim::FileExists(u"C:\\moved\\x.txt"));
    EXPECT_EQ(sim::ListFolder(u"C:\\elsewhere"), std::vector<std::u16string>{});
    HANDLE other = INVALID_HANDLE_VALUE;
    EXPECT_EQ(NtCreateFile(&other, W, folder.Get(), u"x.txt", SR, FILE_CREATE, 0), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(NtCreateFile(&other, W, folder.Get(), u"link.txt", SR, FILE_CREATE, 0), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(NtCreateFile(file.Receive(), W, folder.Get(), u"link.txt", SR, FILE_OPEN, FILE_OPEN_REPARSE_POINT),
              STATUS_SUCCESS);
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(GetFileInformationByHandle(file.Get(), &info));
    EXPECT_EQ(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_NE(NtCreateFile(&other, W, folder.Get(), u"sub", SR, FILE_OPEN, FILE_NON_DIRECTORY_FILE), STATUS_SUCCESS);
    EXPECT_NE(NtCreateFile(&other, W, folder.Get(), u"sub\\y.txt", SR, FILE_CREATE, 0), STATUS_SUCCESS);
    EXPECT_FALSE(sim::FileExists(u"C:\\elsewhere\\target.txt"));
}

TEST_F(SimFilesTest, RenameThroughAHandleMovesTheObjectItselfAndNeverReplaces) {
    sim::MakeFolder(u"C:\\target");
    sim::MakeLink(u"C:\\link", u"C:\\target");
    sim::MakeFolder(u"C:\\taken");
    sim::MakeFile(u"C:\\busy\\open.txt", "x");
    const platform::ScopedFile link(OpenFolder(u"C:\\link", DELETE));
    EXPECT_FALSE(SetFileInformationByHandle(link.Get(), u"C:\\taken"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(SetFileInformationByHandle(link.Get(), u"C:\\aside"));
    EXPECT_TRUE(sim::FolderExists(u"C:\\target"));
    EXPECT_TRUE(sim::FolderExists(u"C:\\aside"));  // the link, under its new name
    EXPECT_FALSE(sim::FolderExists(u"C:\\link"));

    const platform::ScopedFile withoutDelete(OpenFolder(u"C:\\taken"));
    EXPECT_FALSE(SetFileInformationByHandle(withoutDelete.Get(), u"C:\\other"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const platform::ScopedFile inside(CreateFileW(u"C:\\busy\\open.txt", R, SR, OPEN_EXISTING, 0));
    const platform::ScopedFile busy(OpenFolder(u"C:\\busy", DELETE));
    EXPECT_FALSE(SetFileInformationByHandle(busy.Get(), u"C:\\other"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SimFilesTest, WindowsFolderAsConfiguredOrTheSizeItNeeds) {
    char16_t folder[MAX_PATH] = {};
    EXPECT_EQ(GetSystemWindowsDirectoryW(folder, MAX_PATH), 10u);
    EXPECT_EQ(std::u16string(folder), u"C:\\Windows");
    EXPECT_EQ(GetSystemWindowsDirectoryW(folder, 10), 11u);
    sim::SetWindowsFolder(u"D:\\Win");
    EXPECT_EQ(GetSystemWindowsDirectoryW(folder, MAX_PATH), 6u);
}

}  // namespace
