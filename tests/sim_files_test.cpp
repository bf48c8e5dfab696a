// The simulation's files, folders and handles: sharing, dispositions and errors as on Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimFilesTest = SimFixture;

// ---- Files -------------------------------------------------------------------------------

struct SharingRow {
    const char* what;
    DWORD heldAccess, heldShare, access, share;
    DWORD error;  // 0: the second open works
};

TEST_F(SimFilesTest, SharingBetweenOpenHandlesFollowsWindows) {
    const SharingRow rows[] = {
        {"deny-write holder refuses a second writer", W, SR, W, SR | SW, ERROR_SHARING_VIOLATION},
        {"deny-write holder lets a reader that shares write in", W, SR, R, SR | SW, 0},
        {"a reader that only shares read excludes the holder's write", W, SR, R, SR, ERROR_SHARING_VIOLATION},
        {"an open without access still may not deny the holder's write", W, SR, 0, 0, ERROR_SHARING_VIOLATION},
        {"exclusive holder refuses a reader", R | W, 0, R, SR | SW, ERROR_SHARING_VIOLATION},
        {"sharing holder lets a writer in", R, SR | SW, W, SR | SW, 0},
        {"read-sharing reader lets a second reader in", R, SR, R, SR, 0},
    };
    for (const SharingRow& row : rows) {
        sim::Reset();
        sim::MakeFile(u"C:\\log.txt", "x");
        HANDLE held = CreateFileW(u"C:\\log.txt", row.heldAccess, row.heldShare, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << row.what;
        HANDLE second = CreateFileW(u"C:/log.txt", row.access, row.share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        if (row.error == 0) {
            EXPECT_NE(second, INVALID_HANDLE_VALUE) << row.what;
        } else {
            EXPECT_EQ(second, INVALID_HANDLE_VALUE) << row.what;
            EXPECT_EQ(GetLastError(), row.error) << row.what;
        }
        EXPECT_TRUE(CloseHandle(held));
        HANDLE after = CreateFileW(u"C:\\log.txt", W, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(after == INVALID_HANDLE_VALUE, row.error == 0) << row.what << ": the second handle still holds it";
    }
}

struct OpenRow {
    const char* what;
    std::u16string path;
    DWORD access, disposition;
    DWORD error;        // 0: opens
    DWORD lastError;    // on success
    std::string after;  // the file's bytes afterwards
};

TEST_F(SimFilesTest, CreateFileDispositionsAndErrors) {
    const OpenRow rows[] = {
        {"open existing", u"C:\\dir\\f.txt", R, OPEN_EXISTING, 0, 0, "old"},
        {"open existing, missing", u"C:\\dir\\g.txt", R, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, 0, ""},
        {"missing parent", u"C:\\nodir\\f.txt", W, OPEN_ALWAYS, ERROR_PATH_NOT_FOUND, 0, ""},
        {"missing drive", u"Q:\\f.txt", W, OPEN_ALWAYS, ERROR_PATH_NOT_FOUND, 0, ""},
        {"a folder", u"C:\\dir", R, OPEN_EXISTING, ERROR_ACCESS_DENIED, 0, ""},
        {"a folder, open always", u"C:\\dir", W, OPEN_ALWAYS, ERROR_ACCESS_DENIED, 0, ""},
        {"a drive root", u"C:\\", R, OPEN_EXISTING, ERROR_ACCESS_DENIED, 0, ""},
        {"trailing backslash", u"C:\\dir\\f.txt\\", R, OPEN_EXISTING, 123, 0, "old"},
        {"create new over a file", u"C:\\dir\\f.txt", W, CREATE_NEW, 80, 0, "old"},
        {"create new", u"C:\\dir\\g.txt", W, CREATE_NEW, 0, 0, ""},
        {"open always over a file", u"C:\\dir\\f.txt", W, OPEN_ALWAYS, 0, ERROR_ALREADY_EXISTS, "old"},
        {"open always, new", u"C:\\dir\\g.txt", W, OPEN_ALWAYS, 0, 0, ""},
        {"create always truncates", u"C:\\dir\\f.txt", W, CREATE_ALWAYS, 0, ERROR_ALREADY_EXISTS, ""},
        {"bad disposition", u"C:\\dir\\f.txt", W, 0, ERROR_INVALID_PARAMETER, 0, "old"},
    };
    for (const OpenRow& row : rows) {
        sim::Reset();
        sim::MakeFile(u"C:\\dir\\f.txt", "old");
        HANDLE h = CreateFileW(row.path.c_str(), row.access, SR, row.disposition, FILE_ATTRIBUTE_NORMAL);
        if (row.error == 0) {
            ASSERT_NE(h, INVALID_HANDLE_VALUE) << row.what;
            EXPECT_EQ(GetLastError(), row.lastError) << row.what;
            EXPECT_TRUE(sim::FileExists(row.path)) << row.what;
            EXPECT_EQ(sim::ReadFile(row.path), row.after) << row.what;
            EXPECT_TRUE(CloseHandle(h));
        } else {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE) << row.what;
            EXPECT_EQ(GetLastError(), row.error) << row.what;
            EXPECT_EQ(sim::ReadFile(u"C:\\dir\\f.txt"), "old") << row.what;
            EXPECT_FALSE(sim::FileExists(u"C:\\dir\\g.txt")) << row.what;
        }
    }
}

TEST_F(SimFilesTest, DeniedOpensFailWithTheirError) {
    sim::MakeFile(u"C:\\a.txt");
    sim::MakeFile(u"C:\\b.txt");
    sim::DenyOpen(u"C:\\a.txt", ERROR_ACCESS_DENIED);
    sim::DenyReadOpen(u"C:\\b.txt");
    EXPECT_EQ(CreateFileW(u"C:/a.txt", W, SR, OPEN_ALWAYS, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateFileW(u"C:\\b.txt", R | W, SR, OPEN_ALWAYS, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HANDLE writeOnly = CreateFileW(u"C:\\b.txt", W, SR, OPEN_ALWAYS, 0);
    EXPECT_NE(writeOnly, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(writeOnly));
}

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
    const char* what;
    std::u16string path;
    BOOL result;
    DWORD error;
};

TEST_F(SimFilesTest, CreateDirectoryMakesOneFolderOrSaysWhyNot) {
    const DirectoryRow rows[] = {
        {"new folder", u"C:\\ProgramData", TRUE, 0},
        {"trailing backslash", u"C:\\ProgramData\\", TRUE, 0},
        {"other separator", u"C:/ProgramData", TRUE, 0},
        {"folder exists", u"C:\\existing", FALSE, ERROR_ALREADY_EXISTS},
        {"file of that name", u"C:\\file", FALSE, ERROR_ALREADY_EXISTS},
        {"parent missing", u"C:\\ProgramData\\Velmor", FALSE, ERROR_PATH_NOT_FOUND},
        {"parent is a file", u"C:\\file\\sub", FALSE, ERROR_PATH_NOT_FOUND},
        {"drive missing", u"Q:\\Velmor", FALSE, ERROR_PATH_NOT_FOUND},
        {"drive root", u"C:\\", FALSE, ERROR_ACCESS_DENIED},
        {"denied", u"C:\\denied", FALSE, ERROR_ACCESS_DENIED},
    };
    for (const DirectoryRow& row : rows) {
        sim::Reset();
        sim::MakeFolder(u"C:\\existing");
        sim::MakeFile(u"C:\\file");
        sim::DenyCreateDirectory(u"C:\\denied", ERROR_ACCESS_DENIED);
        EXPECT_EQ(CreateDirectoryW(row.path.c_str(), nullptr), row.result) << row.what;
        if (row.result) {
            EXPECT_TRUE(sim::FolderExists(row.path)) << row.what;
        } else {
            EXPECT_EQ(GetLastError(), row.error) << row.what;
        }
        ASSERT_EQ(sim::DirectoryCalls().size(), 1u);
        EXPECT_EQ(sim::DirectoryCalls()[0].path, row.path);
        EXPECT_EQ(sim::DirectoryCalls()[0].result, row.result);
        EXPECT_EQ(sim::DirectoryCalls()[0].error, row.error);
    }
    EXPECT_FALSE(sim::FolderExists(u"C:\\denied"));
}

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

}  // namespace
