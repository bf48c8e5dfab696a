// The simulation's version resources, and the legacy path limits they share with files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimVersionTest = SimFixture;

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

TEST_F(SimVersionTest, VersionRecordSitsInsideTheCopiedResource) {
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

TEST_F(SimVersionTest, EachVersionStageCanFail) {
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

TEST_F(SimVersionTest, VersionWithoutResourceShortRecordAndSmallBuffer) {
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

// "C:\" and folders of 50 characters, then a leaf that brings the whole path to `length`.
std::u16string PathOfLength(std::size_t length) {
    std::u16string path = u"C:\\";
    while (length - path.size() > 60) path += std::u16string(50, u'd') + u"\\";
    return path + std::u16string(length - path.size(), u'f');
}

TEST_F(SimVersionTest, PathsRefusedFromTheLegacyLimits) {
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

}  // namespace
