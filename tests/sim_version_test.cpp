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

// The failures a stage is told to have are the launcher's tests' business; these are the ones
// Windows gives by itself.
TEST_F(SimVersionTest, MissingFileNoResourceShortRecordAndSmallBuffer) {
    EXPECT_EQ(ReadVersion(u"C:\\missing.exe").sizeError, ERROR_FILE_NOT_FOUND);
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

struct LengthRow {
    const char* name;
    std::size_t length;
};
ORVANE_PRINT_BY_NAME(LengthRow)

const LengthRow LENGTH_ROWS[] = {{"Longest", 259}, {"OneTooLong", 260}};

class LegacyPathLimitTest : public SimFixture, public ::testing::WithParamInterface<LengthRow> {};

TEST_P(LegacyPathLimitTest, RefusesPathsOf260CharactersOrMore) {
    const std::u16string path = PathOfLength(GetParam().length);
    const bool refused = GetParam().length >= 260;
    sim::MakeFile(path, "MZ");
    sim::SetFileVersion(path, 1, 2);
    EXPECT_EQ(PathFileExistsW(path.c_str()) ? 0 : GetLastError(), refused ? ERROR_PATH_NOT_FOUND : 0u);
    const platform::ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
    EXPECT_EQ(file.Holds(), !refused);
    EXPECT_EQ(ReadVersion(path.c_str()).sizeError, refused ? ERROR_PATH_NOT_FOUND : 0u);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.lpFile = path.c_str();
    EXPECT_EQ(ShellExecuteExW(&info) ? 0 : GetLastError(), refused ? ERROR_FILE_NOT_FOUND : 0u);
    if (info.hProcess != nullptr) CloseHandle(info.hProcess);
    const std::u16string longForm = u"\\\\?\\" + path;
    const platform::ScopedFile exempt(CreateFileW(longForm.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
    EXPECT_TRUE(exempt.Holds());
}

ORVANE_NAMED_ROWS(Lengths, LegacyPathLimitTest, LENGTH_ROWS);

TEST_F(SimVersionTest, NewFoldersAreRefusedFrom248Characters) {
    const std::u16string longest = PathOfLength(247);
    sim::MakeFolder(longest.substr(0, longest.rfind(u'\\')));
    EXPECT_TRUE(CreateDirectoryW(longest.c_str(), nullptr));
    const std::u16string tooLong = PathOfLength(248);
    EXPECT_FALSE(CreateDirectoryW(tooLong.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), 206u);  // ERROR_FILENAME_EXCED_RANGE
}

}  // namespace
