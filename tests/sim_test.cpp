// The simulated Windows machine: that each operation answers as Windows does, so that tests of
// the launcher against it mean something.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/crypto.h"
#include "platform/eventlog.h"
#include "platform/filesystem.h"
#include "platform/owners.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/sim/sim.h"
#include "platform/version.h"

namespace {

using namespace platform;

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

std::u16string Repeat(char16_t c, std::size_t n) { return std::u16string(n, c); }

// ---- Path functions ----------------------------------------------------------------------

struct FileSpecRow {
    std::u16string in, out;
    BOOL removed;
};

TEST_F(SimTest, PathRemoveFileSpecMatchesWindows) {
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

TEST_F(SimTest, PathAddBackslashMatchesWindows) {
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

TEST_F(SimTest, PathRemoveBackslashMatchesWindows) {
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

TEST_F(SimTest, PathFileExistsReadsPathsAsTheFileSystemDoes) {
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

TEST_F(SimTest, RelativeAndDriveRelativeNamesFollowTheCurrentFolder) {
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

TEST_F(SimTest, NamesBeyondAsciiAreRealUtf8Names) {
    const std::u16string folder = u"C:\\Dat\u00E9n";
    const std::u16string file = u"\U0001F600.txt";
    sim::MakeFile(folder + u"\\" + file, "x");
    EXPECT_EQ(sim::HostPath(folder), sim::RootFolder() + "/C/Dat\xC3\xA9n");
    EXPECT_EQ(sim::ListFolder(folder), std::vector<std::u16string>{file});
    EXPECT_TRUE(PathFileExistsW((folder + u"/" + file).c_str()));
}

TEST_F(SimTest, ResetStartsAnEmptyMachineInANewRootAndRemovesTheOldOne) {
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

// ---- Files -------------------------------------------------------------------------------

constexpr DWORD R = GENERIC_READ;
constexpr DWORD W = GENERIC_WRITE;
constexpr DWORD SR = FILE_SHARE_READ;
constexpr DWORD SW = FILE_SHARE_WRITE;

struct SharingRow {
    const char* what;
    DWORD heldAccess, heldShare, access, share;
    DWORD error;  // 0: the second open works
};

TEST_F(SimTest, SharingBetweenOpenHandlesFollowsWindows) {
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

TEST_F(SimTest, CreateFileDispositionsAndErrors) {
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

TEST_F(SimTest, DeniedOpensFailWithTheirError) {
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

TEST_F(SimTest, ReadsFromThePositionAndWritesAtTheEnd) {
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

TEST_F(SimTest, AccessDecidesWhatAHandleMayDo) {
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

TEST_F(SimTest, WritesFailAfterTheAllowedNumber) {
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

TEST_F(SimTest, CloseHandleRefusesWhatIsNotOpen) {
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

TEST_F(SimTest, CreateDirectoryMakesOneFolderOrSaysWhyNot) {
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

HANDLE OpenFolder(const char16_t* path, DWORD access = FILE_TRAVERSE) {
    return CreateFileW(path, access, SR | SW | FILE_SHARE_DELETE, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
}

// What the log relies on: the file lands in the folder the handle was opened on, wherever its
// name now leads; a link at the file's name is neither followed nor created through.
TEST_F(SimTest, NtCreateFileWorksInTheFolderItsHandleHoldsWhateverItsNameBecomes) {
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

TEST_F(SimTest, RenameThroughAHandleMovesTheObjectItselfAndNeverReplaces) {
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

TEST_F(SimTest, FoldersCreatedWithADescriptorTakeItsOwnerAndItsDacl) {
    platform::ScopedLocal descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                                     SDDL_REVISION_1, descriptor.Receive()));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
    sim::SetProcessAccount(sim::Account::User);  // a standard user may not name Administrators
    EXPECT_FALSE(CreateDirectoryW(u"C:\\locked", &attributes));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_OWNER);
    sim::SetProcessAccount(sim::Account::User, true);  // an elevated administrator may
    EXPECT_TRUE(CreateDirectoryW(u"C:\\locked", &attributes));
    const sim::Security security = sim::SecurityOf(u"C:\\locked");
    EXPECT_EQ(security.owner, sim::Account::Administrators);
    EXPECT_TRUE(security.protectedDacl);
    EXPECT_EQ(security.standardUser, 0u);
    sim::SetProcessAccount(sim::Account::User, false);
    EXPECT_EQ(CreateFileW(u"C:\\locked\\f.txt", W, SR, CREATE_NEW, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CreateDirectoryW(u"C:\\locked\\sub", nullptr));
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(u"O:BAG:SYD:(A;;FA;;;SY)", SDDL_REVISION_1,
                                                                      descriptor.Receive()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    descriptor.Close();
    EXPECT_EQ(sim::LiveSecurityDescriptors(), 0);
}

TEST_F(SimTest, TheTokenTellsWhetherItIsElevated) {
    for (const auto& [account, elevated] : {std::pair{sim::Account::System, true}, {sim::Account::User, false}}) {
        sim::SetProcessAccount(account);
        platform::ScopedHandle token;
        ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()));
        TOKEN_ELEVATION answer{7};
        DWORD needed = 0;
        EXPECT_TRUE(GetTokenInformation(token.Get(), TokenElevation, &answer, sizeof answer, &needed));
        EXPECT_EQ(answer.TokenIsElevated != 0, elevated);
        EXPECT_EQ(needed, sizeof answer);
    }
}

TEST_F(SimTest, WindowsFolderAsConfiguredOrTheSizeItNeeds) {
    char16_t folder[MAX_PATH] = {};
    EXPECT_EQ(GetSystemWindowsDirectoryW(folder, MAX_PATH), 10u);
    EXPECT_EQ(std::u16string(folder), u"C:\\Windows");
    EXPECT_EQ(GetSystemWindowsDirectoryW(folder, 10), 11u);
    sim::SetWindowsFolder(u"D:\\Win");
    EXPECT_EQ(GetSystemWindowsDirectoryW(folder, MAX_PATH), 6u);
}

// ---- Registry ----------------------------------------------------------------------------

constexpr const char16_t* KEY = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvantis";

LONG OpenKey(DWORD access, HKEY* key) { return RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY, 0, access, key); }

std::u16string ReadString(HKEY key, const char16_t* name) {
    char16_t buffer[64] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<std::uint8_t*>(buffer), &size) != 0) return u"?";
    return buffer;
}

struct ViewRow {
    const char* what;
    bool machine64;
    DWORD access;
    std::u16string seen;  // "?" when the key does not open
};

TEST_F(SimTest, RegistryViewFollowsTheAccessMaskOnA64BitMachineOnly) {
    const ViewRow rows[] = {
        {"64-bit machine, 64-bit view", true, KEY_QUERY_VALUE | KEY_WOW64_64KEY, u"sixty-four"},
        {"64-bit machine, default view", true, KEY_QUERY_VALUE, u"thirty-two"},
        {"64-bit machine, 32-bit view asked", true, KEY_QUERY_VALUE | KEY_WOW64_32KEY, u"thirty-two"},
        {"32-bit machine ignores the 64-bit flag", false, KEY_QUERY_VALUE | KEY_WOW64_64KEY, u"thirty-two"},
    };
    for (const ViewRow& row : rows) {
        sim::Reset();
        sim::SetMachine64Bit(row.machine64);
        sim::SetString(sim::View::Bit64, KEY, u"InstallLocation", u"sixty-four");
        sim::SetString(sim::View::Bit32, KEY, u"InstallLocation", u"thirty-two");
        HKEY key = nullptr;
        ASSERT_EQ(OpenKey(row.access, &key), 0) << row.what;
        EXPECT_EQ(ReadString(key, u"InstallLocation"), row.seen) << row.what;
        EXPECT_EQ(RegCloseKey(key), 0);
    }
}

TEST_F(SimTest, RegistryKeysThatAreMissingOrDenied) {
    sim::SetString(sim::View::Bit32, KEY, u"InstallLocation", u"x");
    HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A});
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), LONG{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(key, reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A})) << "untouched on failure";
    // Names compare without case; the keys above a value exist too.
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\MICROSOFT", 0, KEY_QUERY_VALUE, &key), 0);
    EXPECT_EQ(RegCloseKey(key), 0);
    sim::DenyKey(KEY, LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE, &key), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(sim::RegistryOpens().size(), 4u);
    EXPECT_EQ(sim::RegistryOpens()[3].access, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
    EXPECT_EQ(sim::RegistryOpens()[3].result, LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(sim::OpenKeys(), 0);
}

struct QueryRow {
    const char* what;
    std::vector<std::uint8_t> stored;
    DWORD room;
    LONG result;
    DWORD byteCountOut;
};

TEST_F(SimTest, RegistryValuesAreCopiedRaw) {
    const std::vector<std::uint8_t> noTerminator = {'a', 0, 'b', 0, 'c', 0};
    const QueryRow rows[] = {
        {"fits exactly", noTerminator, 6, 0, 6},
        {"more room", noTerminator, 16, 0, 6},
        {"too small", noTerminator, 4, LONG{ERROR_MORE_DATA}, 6},
        {"odd length", {'a', 0, 'b'}, 16, 0, 3},
        {"empty", {}, 16, 0, 0},
    };
    for (const QueryRow& row : rows) {
        sim::Reset();
        sim::SetValue(sim::View::Bit64, KEY, u"InstallLocation", REG_EXPAND_SZ, row.stored);
        HKEY key = nullptr;
        ASSERT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), 0);
        std::vector<std::uint8_t> buffer(32, 0xEE);
        DWORD type = 0;
        DWORD size = row.room;
        EXPECT_EQ(RegQueryValueExW(key, u"InstallLocation", nullptr, &type, buffer.data(), &size), row.result)
            << row.what;
        EXPECT_EQ(size, row.byteCountOut) << row.what;
        if (row.result == 0) {
            EXPECT_EQ(type, REG_EXPAND_SZ);
            EXPECT_TRUE(std::equal(row.stored.begin(), row.stored.end(), buffer.begin())) << row.what;
        }
        for (std::size_t i = std::min<std::size_t>(row.room, row.stored.size()); i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], 0xEE) << row.what << ": written beyond the value at " << i;
        }
        ASSERT_EQ(sim::RegistryQueries().size(), 1u);
        EXPECT_EQ(sim::RegistryQueries()[0].byteCountIn, row.room);
        EXPECT_TRUE(sim::RegistryQueries()[0].reservedWasNull);
        EXPECT_EQ(sim::RegistryQueries()[0].result, row.result);
        EXPECT_EQ(RegCloseKey(key), 0);
    }
}

TEST_F(SimTest, RegistryQueryOfAMissingValueAndKeyBookkeeping) {
    sim::SetValue(sim::View::Bit64, KEY, u"Other", REG_DWORD, {1, 0, 0, 0});
    HKEY key = nullptr;
    ASSERT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), 0);
    EXPECT_EQ(sim::OpenKeys(), 1);
    std::uint8_t buffer[8];
    DWORD type = 0, size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallLocation", nullptr, &type, buffer, &size), LONG{ERROR_FILE_NOT_FOUND});
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, u"other", nullptr, &type, buffer, &size), 0);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_EQ(RegCloseKey(key), LONG{ERROR_INVALID_HANDLE});
    EXPECT_EQ(sim::RegistryCloses(), 2);
    EXPECT_EQ(sim::OpenKeys(), 0);
}

// ---- Registry writes ---------------------------------------------------------------------

constexpr const char16_t* RECORD_KEY = u"SOFTWARE\\Velmor\\Orvane.Launcher";

struct CreateRow {
    const char* what;
    bool machine64;
    DWORD viewFlag;
    sim::View made, other;
};

TEST_F(SimTest, RegistryCreateMakesTheKeyAndThoseAboveItInTheChosenView) {
    using V = sim::View;
    const CreateRow rows[] = {
        {"64-bit machine, 64-bit view", true, KEY_WOW64_64KEY, V::Bit64, V::Bit32},
        {"64-bit machine, default view", true, 0, V::Bit32, V::Bit64},
        {"32-bit machine ignores the 64-bit flag", false, KEY_WOW64_64KEY, V::Bit32, V::Bit64},
    };
    for (const CreateRow& row : rows) {
        sim::Reset();
        sim::SetMachine64Bit(row.machine64);
        sim::MakeKey(row.made, u"SOFTWARE");
        HKEY key = nullptr, below = nullptr, again = nullptr;
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE | row.viewFlag, &key, &disposition), 0)
            << row.what;
        EXPECT_EQ(disposition, REG_CREATED_NEW_KEY) << row.what;
        // Relative to an open key, without a view flag: the parent's view.
        ASSERT_EQ(RegCreateKeyExW(key, u"Runs\\Last", KEY_SET_VALUE, &below, &disposition), 0) << row.what;
        EXPECT_EQ(disposition, REG_CREATED_NEW_KEY) << row.what;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\VELMOR\\orvane.launcher\\", row.viewFlag, &again,
                                  &disposition),
                  0);
        EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY) << row.what;
        EXPECT_EQ(sim::SubKeys(row.made, u"software"), std::vector<std::u16string>{u"Velmor"}) << row.what;
        EXPECT_EQ(sim::SubKeys(row.made, u"SOFTWARE\\Velmor"), std::vector<std::u16string>{u"Orvane.Launcher"});
        EXPECT_TRUE(sim::KeyExists(row.made, std::u16string(RECORD_KEY) + u"\\Runs\\Last")) << row.what;
        EXPECT_FALSE(sim::KeyExists(row.other, u"SOFTWARE\\Velmor")) << row.what;
        EXPECT_EQ(sim::RegistryCreates().at(1).subKey, u"Runs\\Last");
        EXPECT_EQ(sim::Trace().at(1).on, u"Runs\\Last") << "named as spelt";
        for (HKEY open : {key, below, again}) EXPECT_EQ(RegCloseKey(open), 0);
        EXPECT_EQ(sim::OpenKeys(), 0);
    }
}

TEST_F(SimTest, RegistrySetValueStoresRawBytesOnAKeyOpenedToWrite) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key,
                              nullptr),
              0);
    const std::u16string path = u"D:\\deploy";
    const auto* text = reinterpret_cast<const std::uint8_t*>(path.c_str());
    const std::uint8_t number[] = {0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(RegSetValueExW(key, u"Folder", REG_SZ, text, static_cast<DWORD>(2 * (path.size() + 1))), 0);
    EXPECT_EQ(RegSetValueExW(key, u"Unterminated", REG_SZ, text, static_cast<DWORD>(2 * path.size())), 0);
    EXPECT_EQ(RegSetValueExW(key, u"Code", REG_BINARY, number, 3), 0);
    EXPECT_EQ(RegSetValueExW(key, u"code", REG_DWORD, number, 4), 0) << "replaces, whatever the case";
    EXPECT_EQ(sim::Trace().back().on, u"code");
    constexpr sim::View V64 = sim::View::Bit64;
    EXPECT_EQ(sim::GetString(V64, RECORD_KEY, u"folder"), path);
    EXPECT_EQ(sim::GetString(V64, RECORD_KEY, u"Unterminated"), std::nullopt);
    EXPECT_EQ(sim::GetValue(V64, RECORD_KEY, u"Unterminated")->bytes.size(), 2 * path.size());
    EXPECT_EQ(sim::GetDword(V64, RECORD_KEY, u"Code"), 0x01020304u);
    EXPECT_EQ(sim::GetString(V64, RECORD_KEY, u"Code"), std::nullopt);
    EXPECT_EQ(sim::GetValue(sim::View::Bit32, RECORD_KEY, u"Code"), std::nullopt);
    EXPECT_EQ(ReadString(key, u"Folder"), path) << "the same store the reads use";
    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &readOnly), 0);
    EXPECT_EQ(RegSetValueExW(readOnly, u"Other", REG_DWORD, number, 4), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(sim::GetValue(V64, RECORD_KEY, u"Other"), std::nullopt);
    RegCloseKey(readOnly);
    RegCloseKey(key);
    EXPECT_EQ(RegSetValueExW(key, u"Other", REG_DWORD, number, 4), LONG{ERROR_INVALID_HANDLE});
}

struct DenialRow {
    const char* what;
    std::u16string denied;  // the key denied with everything below it; "" is all of HKLM
    bool exists;            // the record key exists before the call
    bool create;            // RegCreateKeyExW, else RegOpenKeyExW
    DWORD access;
    LONG result;
};

TEST_F(SimTest, RegistryWritesDeniedToAStandardUser) {
    const LONG DENIED = ERROR_ACCESS_DENIED;
    const DenialRow rows[] = {
        {"create to write", u"", false, true, KEY_SET_VALUE, DENIED},
        {"create to read a missing key", u"", false, true, KEY_QUERY_VALUE, DENIED},
        {"create opens an existing key to read", u"", true, true, KEY_QUERY_VALUE, 0},
        {"create of an existing key to add keys", u"", true, true, KEY_CREATE_SUB_KEY, DENIED},
        {"open to write", u"", true, false, KEY_SET_VALUE, DENIED},
        {"open to read", u"", true, false, KEY_QUERY_VALUE, 0},
        {"denied above the key", u"software\\velmor", false, true, KEY_SET_VALUE, DENIED},
        {"denied beside the key", u"SOFTWARE\\Velmor\\Orvane", false, true, KEY_SET_VALUE, 0},
    };
    for (const DenialRow& row : rows) {
        sim::Reset();
        if (row.exists) sim::MakeKey(sim::View::Bit64, RECORD_KEY);
        sim::DenyRegistryWrites(DENIED, row.denied);
        HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A});
        DWORD disposition = 77;
        const DWORD access = row.access | KEY_WOW64_64KEY;
        const LONG result = row.create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, access, &key, &disposition)
                                       : RegOpenKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, access, &key);
        EXPECT_EQ(result, row.result) << row.what;
        EXPECT_EQ(sim::KeyExists(sim::View::Bit64, RECORD_KEY), row.exists || result == 0) << row.what;
        if (result != 0) {
            EXPECT_EQ(key, reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A})) << row.what;
            EXPECT_EQ(disposition, 77u) << row.what;
        } else {
            RegCloseKey(key);
        }
    }
    sim::Reset();
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE, &key, nullptr), 0) << "Reset lifts it";
    RegCloseKey(key);
}

// ---- CryptoAPI and the event log ---------------------------------------------------------

constexpr DWORD NTE_BAD_ALGID = 0x80090008;
constexpr DWORD NTE_BAD_TYPE = 0x8009000A;
constexpr DWORD NTE_BAD_HASH_STATE = 0x8009000C;
constexpr DWORD NTE_BAD_KEYSET = 0x80090016;
constexpr DWORD NTE_PROV_TYPE_NOT_DEF = 0x80090017;

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 15];
    }
    return text;
}

// The digest of `bytes` through the CryptoAPI, fed in pieces of the sizes in `pieces`, in turn.
std::string DigestOf(const std::string& bytes, const std::vector<std::size_t>& pieces = {}) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    EXPECT_TRUE(CryptAcquireContextW(&provider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptCreateHash(provider, CALG_SHA_256, &hash));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t at = 0, turn = 0; at < bytes.size() || (at == 0 && turn == 0); ++turn) {
        const std::size_t piece =
            pieces.empty() ? bytes.size() : std::min(pieces[turn % pieces.size()], bytes.size() - at);
        EXPECT_TRUE(CryptHashData(hash, data + at, static_cast<DWORD>(piece)));
        at += piece;
    }
    std::uint8_t digest[SHA256_BYTES + 1] = {};
    DWORD length = sizeof digest;
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &length));
    EXPECT_EQ(length, SHA256_BYTES);
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_TRUE(CryptReleaseContext(provider));
    return Hex(digest, length);
}

struct DigestRow {
    const char* what;
    std::string input;
    std::string digest;
};

TEST_F(SimTest, Sha256GivesTheKnownDigests) {
    const DigestRow rows[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"55 bytes: the length still fits the block", std::string(55, 'a'),
         "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {"448 bits: the length needs a second block", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"one whole block", std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqr"
         "stu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"a million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const DigestRow& row : rows) {
        EXPECT_EQ(DigestOf(row.input), row.digest) << row.what;
        const std::vector<std::uint8_t> direct = sim::Sha256Of(row.input);
        EXPECT_EQ(Hex(direct.data(), direct.size()), row.digest) << row.what;
    }
    EXPECT_EQ(sim::OpenCryptHandles(), 0);
}

TEST_F(SimTest, Sha256OfALargeInputFedInUnevenPiecesEqualsOneShot) {
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    std::uint32_t seed = 12345;
    for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 24);
    const std::vector<std::size_t> pieces = {1, 63, 64, 65, 4096, 100003, 0, 7};
    const std::string whole = DigestOf(bytes);
    const std::vector<DWORD> oneShot = sim::HashDataSizes();
    EXPECT_EQ(oneShot, std::vector<DWORD>{static_cast<DWORD>(bytes.size())});
    EXPECT_EQ(DigestOf(bytes, pieces), whole);
    const std::vector<DWORD>& sizes = sim::HashDataSizes();
    ASSERT_GT(sizes.size(), 9u);
    for (std::size_t i = 1; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], pieces[(i - 1) % pieces.size()]) << i;
}

struct CryptRow {
    const char* what;
    DWORD providerType, flags, algorithm;
    DWORD acquireError, createError;  // 0: works
};

TEST_F(SimTest, CryptoApiRefusesWhatWindowsRefuses) {
    const CryptRow rows[] = {
        {"verify context", PROV_RSA_AES, CRYPT_VERIFYCONTEXT, CALG_SHA_256, 0, 0},
        {"verify context among other flags", PROV_RSA_AES, CRYPT_VERIFYCONTEXT | 0x40, CALG_SHA_256, 0, 0},
        {"no verify context: no default container", PROV_RSA_AES, 0, CALG_SHA_256, NTE_BAD_KEYSET, 0},
        {"a provider type not installed", 1, CRYPT_VERIFYCONTEXT, CALG_SHA_256, NTE_PROV_TYPE_NOT_DEF, 0},
        {"SHA-1", PROV_RSA_AES, CRYPT_VERIFYCONTEXT, 0x8004, 0, NTE_BAD_ALGID},
    };
    for (const CryptRow& row : rows) {
        sim::Reset();
        HCRYPTPROV provider = 0x5A5A;
        HCRYPTHASH hash = 0x5A5A;
        const BOOL acquired = CryptAcquireContextW(&provider, row.providerType, row.flags);
        EXPECT_EQ(acquired ? 0 : GetLastError(), row.acquireError) << row.what;
        if (!acquired) {
            EXPECT_EQ(provider, 0x5A5Au) << row.what;
            EXPECT_EQ(sim::OpenCryptHandles(), 0) << row.what;
            continue;
        }
        const BOOL created = CryptCreateHash(provider, row.algorithm, &hash);
        EXPECT_EQ(created ? 0 : GetLastError(), row.createError) << row.what;
        EXPECT_EQ(sim::OpenCryptHandles(), created ? 2 : 1) << row.what;
        if (created) {
            EXPECT_TRUE(CryptDestroyHash(hash));
        }
        EXPECT_TRUE(CryptReleaseContext(provider));
        EXPECT_EQ(sim::OpenCryptHandles(), 0) << row.what;
    }
}

TEST_F(SimTest, ReadingTheDigestEndsTheHashAndReleasingTheProviderEndsItsHashes) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0, orphan = 0;
    ASSERT_TRUE(CryptAcquireContextW(&provider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA_256, &hash));
    ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const std::uint8_t*>("abc"), 3));
    std::uint8_t digest[SHA256_BYTES] = {};
    DWORD length = SHA256_BYTES - 1;
    EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, digest, &length));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(length, SHA256_BYTES);
    EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const std::uint8_t*>("d"), 1));
    EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &length));
    EXPECT_EQ(Hex(digest, length), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(CryptGetHashParam(hash, 0x0004 /* HP_HASHSIZE */, digest, &length));
    EXPECT_EQ(GetLastError(), NTE_BAD_TYPE);
    EXPECT_TRUE(CryptDestroyHash(hash));
    // advapi32 answers a handle it does not hold with ERROR_INVALID_PARAMETER.
    EXPECT_FALSE(CryptHashData(hash, digest, 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(CryptDestroyHash(hash));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA_256, &orphan));
    EXPECT_TRUE(CryptReleaseContext(provider));
    EXPECT_FALSE(CryptHashData(orphan, digest, 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(CryptDestroyHash(orphan)) << "destroyed with its provider";
    EXPECT_FALSE(CryptReleaseContext(provider));
    EXPECT_EQ(sim::OpenCryptHandles(), 1) << "the hash outlived its provider";
}

TEST_F(SimTest, EventsAreRecordedForTheirSourceUntilItIsDeregistered) {
    HANDLE source = RegisterEventSourceW(u"Orvane.Launcher");
    ASSERT_NE(source, nullptr);
    HANDLE other = RegisterEventSourceW(u"Other");
    EXPECT_TRUE(ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 1000, u"exit code 0"));
    EXPECT_TRUE(ReportEventW(other, EVENTLOG_ERROR_TYPE, 7, u""));
    EXPECT_EQ(sim::OpenEventSources(), 2);
    EXPECT_TRUE(DeregisterEventSource(source));
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 1001, u"late"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeregisterEventSource(source));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    ASSERT_EQ(sim::Events().size(), 2u);
    const sim::Event& first = sim::Events()[0];
    EXPECT_EQ(first.source, u"Orvane.Launcher");
    EXPECT_EQ(first.type, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(first.eventId, 1000u);
    EXPECT_EQ(first.text, u"exit code 0");
    EXPECT_EQ(sim::Events()[1].source, u"Other");
    EXPECT_EQ(sim::Events()[1].type, EVENTLOG_ERROR_TYPE);
    EXPECT_TRUE(DeregisterEventSource(other));
    EXPECT_EQ(sim::OpenEventSources(), 0);
}

// ---- Process -----------------------------------------------------------------------------

struct ModuleRow {
    DWORD size;
    DWORD result;
    std::u16string text;
    DWORD lastError;
};

TEST_F(SimTest, ModuleFileNameIsCutAsWindows6Does) {
    const std::u16string path = u"D:\\deploy\\L.exe";  // 15 characters
    const ModuleRow rows[] = {
        {260, 15, path, 0},
        {16, 15, path, 0},
        {15, 15, u"D:\\deploy\\L.ex", ERROR_INSUFFICIENT_BUFFER},
        {5, 5, u"D:\\d", ERROR_INSUFFICIENT_BUFFER},
        {1, 1, u"", ERROR_INSUFFICIENT_BUFFER},
    };
    sim::SetModuleFileName(path);
    for (const ModuleRow& row : rows) {
        std::vector<char16_t> buffer(300, u'#');
        EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), row.size), row.result) << row.size;
        EXPECT_EQ(std::u16string(buffer.data()), row.text) << row.size;
        EXPECT_EQ(buffer[row.size], u'#') << "written past the buffer, size " << row.size;
        if (row.lastError != 0) {
            EXPECT_EQ(GetLastError(), row.lastError);
        }
    }
    sim::FailModuleFileName(ERROR_ACCESS_DENIED);
    char16_t buffer[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SimTest, Wow64AnswerAsConfigured) {
    BOOL flag = 7;
    EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &flag));
    EXPECT_EQ(flag, 1);
    sim::SetWow64Answer(false, 2);
    EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &flag));
    EXPECT_EQ(flag, 2);
    sim::SetWow64Answer(true, 1, ERROR_ACCESS_DENIED);
    flag = 7;
    EXPECT_FALSE(IsWow64Process(GetCurrentProcess(), &flag));
    EXPECT_EQ(flag, 7);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

SHELLEXECUTEINFOW Record(const char16_t* verb = u"runas") {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = verb;
    info.lpFile = u"C:\\tool.exe";
    info.lpParameters = u" /encfile \"D:\\p.rkv\"";
    info.lpDirectory = u"D:\\deploy";
    info.nShow = SW_SHOW;
    return info;
}

TEST_F(SimTest, StartedToolIsRecordedWaitedForAndClosed) {
    sim::ToolScript script;
    script.exitCode = 0xC0000005;
    sim::ScriptTool(script);
    SHELLEXECUTEINFOW info = Record();
    ASSERT_TRUE(ShellExecuteExW(&info));
    ASSERT_NE(info.hProcess, nullptr);
    ASSERT_EQ(sim::Launches().size(), 1u);
    const sim::Launch& launch = sim::Launches()[0];
    EXPECT_EQ(launch.verb, u"runas");
    EXPECT_EQ(launch.file, u"C:\\tool.exe");
    EXPECT_EQ(launch.parameters, u" /encfile \"D:\\p.rkv\"");
    EXPECT_EQ(launch.directory, u"D:\\deploy");
    EXPECT_EQ(launch.cbSize, sizeof(SHELLEXECUTEINFOW));
    EXPECT_TRUE(launch.otherFieldsZero);
    EXPECT_EQ(sim::OpenProcessHandles(), 1);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 6000000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 0xC0000005u);
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_EQ(sim::Waits(), std::vector<DWORD>{6000000});
    EXPECT_EQ(sim::OpenProcessHandles(), 0);
    EXPECT_EQ(sim::ProcessHandleCloses(), 1);
}

struct ToolRow {
    const char* what;
    sim::ToolScript script;
    BOOL started;
    bool handle;
    DWORD wait;
    BOOL exitCodeRead;
    DWORD exitCodeOrError;
};

sim::ToolScript Script(void (*edit)(sim::ToolScript&)) {
    sim::ToolScript script;
    edit(script);
    return script;
}

TEST_F(SimTest, ToolScriptDecidesTheOutcome) {
    const ToolRow rows[] = {
        {"start refused", Script([](sim::ToolScript& s) { s.startFails = true; }), FALSE, false, 0, FALSE,
         ERROR_CANCELLED},
        {"no handle", Script([](sim::ToolScript& s) { s.noProcessHandle = true; }), TRUE, false, WAIT_FAILED, FALSE,
         ERROR_INVALID_HANDLE},
        {"times out, still running", Script([](sim::ToolScript& s) { s.waitResult = WAIT_TIMEOUT; }), TRUE, true,
         WAIT_TIMEOUT, TRUE, 259},
        {"exit code unreadable", Script([](sim::ToolScript& s) { s.exitCodeFails = true; }), TRUE, true, 0, FALSE,
         ERROR_ACCESS_DENIED},
    };
    for (const ToolRow& row : rows) {
        sim::Reset();
        sim::ScriptTool(row.script);
        SHELLEXECUTEINFOW info = Record();
        EXPECT_EQ(ShellExecuteExW(&info), row.started) << row.what;
        if (!row.started) {
            EXPECT_EQ(GetLastError(), row.exitCodeOrError) << row.what;
            EXPECT_EQ(info.hProcess, nullptr);
            continue;
        }
        EXPECT_EQ(info.hProcess != nullptr, row.handle) << row.what;
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 100), row.wait) << row.what;
        DWORD code = 12345;
        EXPECT_EQ(GetExitCodeProcess(info.hProcess, &code), row.exitCodeRead) << row.what;
        if (row.exitCodeRead) {
            EXPECT_EQ(code, row.exitCodeOrError) << row.what;
        } else {
            EXPECT_EQ(code, 12345u) << row.what;
            EXPECT_EQ(GetLastError(), row.exitCodeOrError) << row.what;
        }
    }
}

TEST_F(SimTest, LaunchRecordOfTheWrongSizeIsRefused) {
    SHELLEXECUTEINFOW info = Record();
    info.cbSize = 60 + 4;
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::OpenProcessHandles(), 0);
}

// ---- Shell folder and clock --------------------------------------------------------------

TEST_F(SimTest, CommonAppDataAsConfigured) {
    char16_t path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK);
    EXPECT_EQ(std::u16string(path), u"C:\\ProgramData");
    sim::SetCommonAppData(u"E:\\Data");
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK);
    EXPECT_EQ(std::u16string(path), u"E:\\Data");
    sim::FailCommonAppData(E_FAIL);
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), E_FAIL);
}

TEST_F(SimTest, BothClocksGiveTheSetTimeAndCountTheirReads) {
    sim::SetSystemTime(0x0123456789ABCDEFLL);
    FILETIME plain{}, precise{};
    GetSystemTimeAsFileTime(&plain);
    SystemTimeFunction find = FindGetSystemTimePreciseAsFileTime();
    ASSERT_NE(find, nullptr);
    find(&precise);
    find(&precise);
    for (const FILETIME& t : {plain, precise}) {
        EXPECT_EQ(t.dwHighDateTime, 0x01234567u);
        EXPECT_EQ(t.dwLowDateTime, 0x89ABCDEFu);
    }
    EXPECT_EQ(sim::PlainClockReads(), 1);
    EXPECT_EQ(sim::PreciseClockReads(), 2);
    sim::SetPreciseClockAvailable(false);
    EXPECT_EQ(FindGetSystemTimePreciseAsFileTime(), nullptr);
}

TEST_F(SimTest, DefaultClockIsTheDocumentedSecond) {
    FILETIME t{};
    GetSystemTimeAsFileTime(&t);
    const std::int64_t ticks = (static_cast<std::int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    EXPECT_EQ((ticks - 116444736000000000LL) / 10000000, 1600000000);
    EXPECT_EQ(GetCurrentProcessId(), 4242u);
}

// ---- Version resources -------------------------------------------------------------------

struct VersionRead {
    DWORD size = 0;
    DWORD sizeError = 0;
    BOOL info = FALSE;
    BOOL query = FALSE;
    UINT length = 0;
    VS_FIXEDFILEINFO fixed{};
    DWORD error = 0;
};

VersionRead ReadVersion(const char16_t* file) {
    VersionRead out;
    DWORD handle = 99;
    out.size = GetFileVersionInfoSizeW(file, &handle);
    EXPECT_EQ(handle, 0u);
    if (out.size == 0) {
        out.sizeError = GetLastError();
        return out;
    }
    std::vector<std::uint8_t> block(out.size + 16, 0xEE);
    out.info = GetFileVersionInfoW(file, 0, out.size, block.data());
    for (std::size_t i = out.size; i < block.size(); ++i) EXPECT_EQ(block[i], 0xEE) << "written past the block";
    if (!out.info) {
        out.error = GetLastError();
        return out;
    }
    void* record = nullptr;
    out.query = VerQueryValueW(block.data(), u"\\", &record, &out.length);
    if (!out.query) {
        out.error = GetLastError();
        return out;
    }
    EXPECT_GE(static_cast<std::uint8_t*>(record), block.data());
    EXPECT_LE(static_cast<std::uint8_t*>(record) + sizeof(VS_FIXEDFILEINFO), block.data() + out.size);
    std::memcpy(&out.fixed, record, sizeof out.fixed);
    return out;
}

TEST_F(SimTest, VersionRecordSitsInsideTheCopiedResource) {
    const char16_t* tool = u"C:\\installer\\kestrun.exe";
    sim::MakeFile(tool, "MZ");
    sim::SetFileVersion(tool, 0x00060002, 0x00030004);
    VersionRead read = ReadVersion(tool);
    EXPECT_TRUE(read.query);
    EXPECT_EQ(read.length, 52u);
    EXPECT_EQ(read.fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(read.fixed.dwStrucVersion, 0x00010000u);
    EXPECT_EQ(read.fixed.dwFileVersionMS, 0x00060002u);
    EXPECT_EQ(read.fixed.dwFileVersionLS, 0x00030004u);
    EXPECT_EQ(sim::VersionSizeCalls(), 1);
}

struct VersionFailureRow {
    const char* what;
    bool exists;
    sim::VersionFailure stage;
    DWORD error;
    DWORD expectedError;
    bool sizeFails, infoFails, queryFails;
};

TEST_F(SimTest, EachVersionStageCanFail) {
    using F = sim::VersionFailure;
    const VersionFailureRow rows[] = {
        {"missing file", false, F::None, 0, ERROR_FILE_NOT_FOUND, true, false, false},
        {"size", true, F::Size, 1813, 1813, true, false, false},
        {"info", true, F::Info, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, false, true, false},
        {"query", true, F::Query, 1813, 1813, false, false, true},
    };
    for (const VersionFailureRow& row : rows) {
        sim::Reset();
        if (row.exists) sim::MakeFile(u"C:\\t.exe", "MZ");
        sim::SetFileVersion(u"C:\\t.exe", 1, 2);
        if (row.stage != F::None) sim::FailVersion(u"C:\\t.exe", row.stage, row.error);
        VersionRead read = ReadVersion(u"C:\\t.exe");
        EXPECT_EQ(read.size == 0, row.sizeFails) << row.what;
        if (row.sizeFails) {
            EXPECT_EQ(read.sizeError, row.expectedError) << row.what;
            continue;
        }
        EXPECT_EQ(!read.info, row.infoFails) << row.what;
        EXPECT_EQ(read.info && !read.query, row.queryFails) << row.what;
        EXPECT_EQ(read.error, row.expectedError) << row.what;
    }
}

TEST_F(SimTest, VersionWithoutResourceShortRecordAndSmallBuffer) {
    sim::MakeFile(u"C:\\plain.exe", "MZ");
    EXPECT_EQ(ReadVersion(u"C:\\plain.exe").sizeError, ERROR_RESOURCE_DATA_NOT_FOUND);
    sim::MakeFile(u"C:\\icon only.exe", "MZ");
    sim::GiveResourcesWithoutVersion(u"C:\\icon only.exe");
    EXPECT_EQ(ReadVersion(u"C:\\icon only.exe").sizeError, ERROR_RESOURCE_TYPE_NOT_FOUND);

    sim::MakeFile(u"C:\\short.exe", "MZ");
    sim::SetFileVersion(u"C:\\short.exe", 1, 2);
    sim::FailVersion(u"C:\\short.exe", sim::VersionFailure::ShortRecord, 20);
    VersionRead shortRead = ReadVersion(u"C:\\short.exe");
    EXPECT_TRUE(shortRead.query);
    EXPECT_EQ(shortRead.length, 20u);

    const DWORD size = GetFileVersionInfoSizeW(u"C:\\short.exe", nullptr);
    std::vector<std::uint8_t> block(size, 0xEE);
    EXPECT_FALSE(GetFileVersionInfoW(u"C:\\short.exe", 0, size - 1, block.data()));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(block, std::vector<std::uint8_t>(size, 0xEE));
}

// ---- Heaps -------------------------------------------------------------------------------

TEST_F(SimTest, HeapsCountAndRunOutOfMemoryFromTheNthAllocation) {
    void* a = RuntimeAlloc(16);
    sim::FailRuntimeAllocation(2);
    void* b = RuntimeAlloc(16);
    ASSERT_NE(b, nullptr);
    std::memset(b, 'x', 16);
    EXPECT_EQ(RuntimeRealloc(b, 64), nullptr) << "the second call from now fails";
    EXPECT_EQ(RuntimeAlloc(8), nullptr) << "and every later one";
    sim::FailRuntimeAllocation(0);
    void* c = RuntimeRealloc(b, 64);  // the failed realloc left the block as it was
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(c), 16), std::string(16, 'x'));
    RuntimeFree(a);
    RuntimeFree(c);
    sim::FailGeneralAllocation(1);
    EXPECT_EQ(GeneralAlloc(8), nullptr);
    sim::FailGeneralAllocation(0);
    void* g = GeneralAlloc(8);
    ASSERT_NE(g, nullptr);
    sim::HeapCounts counts = sim::Heap();
    EXPECT_EQ(counts.runtimeAllocs, 3);
    EXPECT_EQ(counts.runtimeReallocs, 2);
    EXPECT_EQ(counts.runtimeFrees, 2);
    EXPECT_EQ(counts.runtimeLive, 0);
    EXPECT_EQ(counts.generalAllocs, 2);
    EXPECT_EQ(counts.generalLive, 1);
    GeneralFree(g);
    EXPECT_EQ(sim::Heap().generalLive, 0);
}

TEST_F(SimTest, BlocksFromBeforeAResetAreNotCountedAsLive) {
    void* old = RuntimeAlloc(8);
    sim::Reset();
    RuntimeFree(old);
    EXPECT_EQ(sim::Heap().runtimeLive, 0);
    EXPECT_EQ(sim::Heap().runtimeFrees, 1);
}

// "C:\" and folders of 50 characters, then a leaf that brings the whole path to `length`.
std::u16string PathOfLength(std::size_t length) {
    std::u16string path = u"C:\\";
    while (length - path.size() > 60) path += std::u16string(50, u'd') + u"\\";
    return path + std::u16string(length - path.size(), u'f');
}

TEST_F(SimTest, PathsRefusedFromTheLegacyLimits) {
    for (const std::size_t length : {std::size_t{259}, std::size_t{260}}) {
        const std::u16string path = PathOfLength(length);
        const bool refused = length >= 260;
        sim::MakeFile(path, "MZ");
        sim::SetFileVersion(path, 1, 2);
        EXPECT_EQ(PathFileExistsW(path.c_str()), refused ? FALSE : TRUE) << length;
        if (refused) {
            EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
        }
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
        EXPECT_EQ(file == INVALID_HANDLE_VALUE, refused) << length;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        EXPECT_EQ(ReadVersion(path.c_str()).sizeError, refused ? ERROR_PATH_NOT_FOUND : 0u) << length;
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.lpFile = path.c_str();
        EXPECT_EQ(ShellExecuteExW(&info), refused ? FALSE : TRUE) << length;
        if (refused) {
            EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
        }
        if (info.hProcess != nullptr) CloseHandle(info.hProcess);
        // The long form is exempt.
        const std::u16string longForm = u"\\\\?\\" + path;
        const HANDLE exempt = CreateFileW(longForm.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
        EXPECT_NE(exempt, INVALID_HANDLE_VALUE) << length;
        CloseHandle(exempt);
    }
    for (const std::size_t length : {std::size_t{247}, std::size_t{248}}) {
        const std::u16string folder = PathOfLength(length);
        sim::MakeFolder(folder.substr(0, folder.rfind(u'\\')));
        EXPECT_EQ(CreateDirectoryW(folder.c_str(), nullptr), length < 248 ? TRUE : FALSE) << length;
        if (length >= 248) {
            EXPECT_EQ(GetLastError(), 206u);  // ERROR_FILENAME_EXCED_RANGE
        }
    }
}

using SimDeathTest = SimTest;

TEST_F(SimDeathTest, FatalStopAbortsNamingItsSite) {
    EXPECT_DEATH(FatalStop(FatalSite::ScanPastBlock), "sim: fatal stop: scan past the block");
}

TEST_F(SimDeathTest, AChildProcessThatResetsLeavesTheParentsFilesAlone) {
    sim::MakeFile(u"C:\\keep.txt", "kept");
    EXPECT_DEATH(
        {
            sim::Reset();
            FatalStop(FatalSite::GuardBroken);
        },
        "fatal stop: guard broken");
    EXPECT_EQ(sim::ReadFile(u"C:\\keep.txt"), "kept");
}

TEST_F(SimDeathTest, FreeingABlockTheHeapDoesNotOwnStops) {
    EXPECT_DEATH(
        {
            void* block = RuntimeAlloc(8);
            GeneralFree(block);
        },
        "does not own");
}

// ---- Call trace and injected failures ----------------------------------------------------

TEST_F(SimTest, FailCallsOfOneNameCountTheSameCalls) {
    sim::FailCall("PathFileExistsW", ERROR_ACCESS_DENIED, 3);
    sim::FailCall("PathFileExistsW", ERROR_FILE_NOT_FOUND, 1);
    sim::FailCall("CreateFileW", ERROR_ACCESS_DENIED, 1);
    std::vector<BOOL> answers;
    for (int i = 0; i < 4; ++i) answers.push_back(PathFileExistsW(u"C:\\"));
    EXPECT_EQ(answers, (std::vector<BOOL>{FALSE, TRUE, FALSE, TRUE}));
}

TEST_F(SimTest, FailCallOnCountsOnlyTheCallsOnItsTargetAndTheTraceNamesIt) {
    sim::MakeFolder(u"C:\\a");
    sim::MakeFolder(u"C:\\b");
    sim::FailCallOn("PathFileExistsW", u"C:\\b", ERROR_ACCESS_DENIED, 2);
    std::vector<BOOL> answers;
    for (const char16_t* path : {u"C:\\b", u"C:\\a", u"C:\\a", u"C:\\b", u"C:\\b"}) {
        answers.push_back(PathFileExistsW(path));
    }
    EXPECT_EQ(answers, (std::vector<BOOL>{TRUE, TRUE, TRUE, FALSE, TRUE}));
    EXPECT_EQ(sim::Trace().back().name, "PathFileExistsW");
    EXPECT_EQ(sim::Trace().back().on, u"C:\\b");
}

TEST_F(SimTest, FailCallFailsTheNthCallOnly) {
    sim::FailCall("CreateFileW", ERROR_ACCESS_DENIED, 2);
    HANDLE first = CreateFileW(u"C:\\a", W, SR, OPEN_ALWAYS, 0);
    HANDLE second = CreateFileW(u"C:\\b", W, SR, OPEN_ALWAYS, 0);
    DWORD error = GetLastError();
    HANDLE third = CreateFileW(u"C:\\c", W, SR, OPEN_ALWAYS, 0);
    EXPECT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, ERROR_ACCESS_DENIED);
    EXPECT_NE(third, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(sim::FileExists(u"C:\\b"));
    CloseHandle(first);
    CloseHandle(third);
}

TEST_F(SimTest, FailCallFailsEachOperationTheWayItFailsOnWindows) {
    sim::MakeFile(u"C:\\t.exe", "MZ");
    sim::SetFileVersion(u"C:\\t.exe", 1, 2);
    sim::SetString(sim::View::Bit64, KEY, u"InstallLocation", u"x");
    for (const char* name : {"RegOpenKeyExW", "SHGetFolderPathW", "WaitForSingleObject", "GetFileVersionInfoSizeW",
                             "CreateDirectoryW", "PathFileExistsW", "GetModuleFileNameW", "ShellExecuteExW",
                             "FindGetSystemTimePreciseAsFileTime", "IsWow64Process"}) {
        sim::FailCall(name, ERROR_ACCESS_DENIED);
    }
    HKEY key = nullptr;
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), LONG{ERROR_ACCESS_DENIED});
    char16_t path[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), static_cast<HRESULT>(0x80070005));
    SHELLEXECUTEINFOW info = Record();
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 1), WAIT_FAILED);
    EXPECT_EQ(GetFileVersionInfoSizeW(u"C:\\t.exe", nullptr), 0u);
    EXPECT_FALSE(CreateDirectoryW(u"C:\\new", nullptr));
    EXPECT_FALSE(sim::FolderExists(u"C:\\new"));
    EXPECT_FALSE(PathFileExistsW(u"C:\\t.exe"));
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    EXPECT_EQ(FindGetSystemTimePreciseAsFileTime(), nullptr);
    BOOL flag = 7;
    EXPECT_FALSE(IsWow64Process(GetCurrentProcess(), &flag));
    EXPECT_EQ(flag, 7);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // Each failure was one-shot.
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), 0);
    EXPECT_TRUE(PathFileExistsW(u"C:\\t.exe"));
    RegCloseKey(key);
}

TEST_F(SimTest, BeforeCallOnRunsItsActionOnceJustBeforeTheNthMatchingCall) {
    int runs = 0;
    sim::BeforeCallOn(
        "PathFileExistsW", u"C:\\x",
        [&runs] {
            ++runs;
            sim::MakeFolder(u"C:\\x");
        },
        2);
    std::vector<BOOL> answers;
    for (const char16_t* path : {u"C:\\x", u"C:\\y", u"C:\\x", u"C:\\x"}) answers.push_back(PathFileExistsW(path));
    EXPECT_EQ(answers, (std::vector<BOOL>{FALSE, FALSE, TRUE, TRUE}));
    EXPECT_EQ(runs, 1);
}

// Each operation of the run record once, as a run uses them; what each returned (0: it worked).
std::vector<DWORD> RecordHashAndReport() {
    std::vector<DWORD> errors;
    auto check = [&errors](BOOL ok) { errors.push_back(ok ? 0 : GetLastError()); };
    const std::uint8_t one[] = {1, 0, 0, 0};
    HKEY key = nullptr;
    errors.push_back(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE | KEY_WOW64_64KEY, &key, nullptr));
    errors.push_back(RegSetValueExW(key, u"ExitCode", REG_DWORD, one, sizeof one));
    errors.push_back(RegCloseKey(key));
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    check(CryptAcquireContextW(&provider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    check(CryptCreateHash(provider, CALG_SHA_256, &hash));
    check(CryptHashData(hash, one, sizeof one));
    std::uint8_t digest[SHA256_BYTES];
    DWORD length = sizeof digest;
    check(CryptGetHashParam(hash, HP_HASHVAL, digest, &length));
    check(CryptDestroyHash(hash));
    check(CryptReleaseContext(provider));
    HANDLE source = RegisterEventSourceW(u"Orvane.Launcher");
    check(source != nullptr);
    check(ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 1000, u"done"));
    check(DeregisterEventSource(source));
    return errors;
}

TEST_F(SimTest, RunRecordOperationsAreTracedByWhatTheyActOnAndFailThereAsOnWindows) {
    using Traced = std::pair<std::string, std::u16string>;
    const std::vector<Traced> expected = {
        {"RegCreateKeyExW", RECORD_KEY},
        {"RegSetValueExW", u"ExitCode"},
        {"RegCloseKey", RECORD_KEY},
        {"CryptAcquireContextW", sim::CRYPT_PROVIDER},
        {"CryptCreateHash", sim::SHA256_HASH},
        {"CryptHashData", sim::SHA256_HASH},
        {"CryptGetHashParam", sim::SHA256_HASH},
        {"CryptDestroyHash", sim::SHA256_HASH},
        {"CryptReleaseContext", sim::CRYPT_PROVIDER},
        {"RegisterEventSourceW", u"Orvane.Launcher"},
        {"ReportEventW", u"Orvane.Launcher"},
        {"DeregisterEventSource", u"Orvane.Launcher"},
    };
    EXPECT_EQ(RecordHashAndReport(), std::vector<DWORD>(expected.size(), 0));
    std::vector<Traced> traced;
    for (const sim::TracedCall& call : sim::Trace()) traced.emplace_back(call.name, call.on);
    EXPECT_EQ(traced, expected);
    EXPECT_EQ(sim::OpenKeys() + sim::OpenCryptHandles() + sim::OpenEventSources(), 0);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        sim::Reset();
        sim::FailCallOn(expected[i].first, u"elsewhere", ERROR_ACCESS_DENIED);
        sim::FailCallOn(expected[i].first, expected[i].second, ERROR_ACCESS_DENIED);
        const std::vector<DWORD> errors = RecordHashAndReport();
        EXPECT_EQ(std::vector<DWORD>(errors.begin(), errors.begin() + i), std::vector<DWORD>(i, 0))
            << expected[i].first;
        EXPECT_EQ(errors[i], ERROR_ACCESS_DENIED) << expected[i].first;
    }
}

TEST_F(SimTest, ResetForgetsWriteDenialsHandlesAndEvents) {
    sim::DenyRegistryWrites(ERROR_ACCESS_DENIED);
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextW(&provider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA_256, &hash));
    ASSERT_TRUE(CryptHashData(hash, nullptr, 0));
    HANDLE source = RegisterEventSourceW(u"Orvane.Launcher");
    ASSERT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 1, u"x"));
    sim::Reset();
    EXPECT_EQ(sim::OpenCryptHandles(), 0);
    EXPECT_TRUE(sim::HashDataSizes().empty());
    EXPECT_EQ(sim::OpenEventSources(), 0);
    EXPECT_TRUE(sim::Events().empty());
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 1, u"x"));
    EXPECT_EQ(RecordHashAndReport(), std::vector<DWORD>(12, 0)) << "writes allowed again";
}

TEST_F(SimTest, CallsRecordsEveryOperationByItsWindowsName) {
    char16_t path[MAX_PATH];
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path);
    PathFileExistsW(path);
    CreateDirectoryW(path, nullptr);
    GetLastError();
    GetCurrentProcessId();
    EXPECT_EQ(sim::Calls(), (std::vector<std::string>{"SHGetFolderPathW", "PathFileExistsW", "CreateDirectoryW",
                                                      "GetLastError", "GetCurrentProcessId"}));
}

}  // namespace
