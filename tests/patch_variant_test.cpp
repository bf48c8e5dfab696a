#include "launcher/patch_variant.h"

#include <gtest/gtest.h>

#include "launcher/messages.h"
#include "log/log_file.h"
#include "support/machine.h"

namespace orvane {
namespace {

using testing::LogBytes;
using testing::LogOf;
using testing::TOOL_PATH;

std::u16string Str(const GuardedString& s) { return std::u16string(s.Text(), s.Length()); }

std::u16string WithError(const char16_t* format, int error) {
    std::u16string text(format);
    const std::size_t at = text.find(u"%d");
    const std::string digits = std::to_string(error);
    return text.substr(0, at) + std::u16string(digits.begin(), digits.end());
}

TEST(IsLegacyToolTest, VersionTable) {
    struct Row {
        std::uint16_t major, minor, build, revision;
        bool legacy;
    };
    const Row rows[] = {
        {6, 0, 1, 0, true},     {6, 0, 1, 65535, true}, {6, 0, 2, 999, true},   {6, 6, 17, 253, true},
        {6, 0, 3, 0, false},    {6, 0, 0, 1, false},    {6, 6, 17, 254, false}, {6, 6, 18, 253, false},
        {6, 6, 16, 253, false}, {7, 0, 1, 0, false},    {5, 0, 1, 0, false},    {6, 1, 1, 0, false},
        {6, 5, 17, 253, false}, {0, 0, 0, 0, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(IsLegacyTool(row.major, row.minor, row.build, row.revision), row.legacy)
            << row.major << "." << row.minor << "." << row.build << "." << row.revision;
    }
}

class ChoosePatchFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::TypicalMachine();
        OpenLog();
    }
    PatchChoice Choose() {
        const PatchChoice choice = ChoosePatchFile(FixedPathString(u"D:\\deploy\\"), FixedPathString(TOOL_PATH));
        CloseLog();
        return choice;
    }
};

TEST_F(ChoosePatchFileTest, WithoutTheLegacyFileTheVersionIsNotRead) {
    sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x00010000);  // legacy 6.0.1.0
    const PatchChoice choice = Choose();
    EXPECT_EQ(Str(choice.patchPath), u"D:\\deploy\\patch.rkv");
    EXPECT_FALSE(choice.useLegacy);
    EXPECT_EQ(sim::VersionSizeCalls(), 0);
    EXPECT_EQ(LogBytes(), testing::BOM);
}

TEST_F(ChoosePatchFileTest, LegacyFileIsChosenOnlyForLegacyVersions) {
    struct Row {
        platform::DWORD ms, ls;
        bool legacy;
    };
    const Row rows[] = {
        {0x00060000, 0x000203E7, true},  {0x00060000, 0x00010000, true},  {0x00060006, 0x001100FD, true},
        {0x00060000, 0x00030000, false}, {0x00060006, 0x001100FE, false}, {0x00060006, 0x001200FD, false},
        {0x00070000, 0x00010000, false},
    };
    for (const Row& row : rows) {
        SetUp();
        sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
        sim::SetFileVersion(TOOL_PATH, row.ms, row.ls);
        const PatchChoice choice = Choose();
        EXPECT_EQ(choice.useLegacy, row.legacy) << std::hex << row.ms << " " << row.ls;
        EXPECT_EQ(Str(choice.patchPath), row.legacy ? u"D:\\deploy\\patch.rkv.old" : u"D:\\deploy\\patch.rkv");
        EXPECT_EQ(LogBytes(), testing::BOM) << "a version that was read is not reported";
        EXPECT_EQ(sim::Heap().generalLive, 0) << "the version buffer is freed";
    }
}

TEST_F(ChoosePatchFileTest, EachVersionFailureIsLoggedThenTheDefault) {
    struct Row {
        sim::VersionFailure stage;
        platform::DWORD error;
        const char16_t* message;
        int logged;
    };
    const Row rows[] = {
        {sim::VersionFailure::Size, 1812, msg::VERSION_SIZE_FAILED, 1812},
        {sim::VersionFailure::Info, 5, msg::VERSION_INFO_FAILED, 5},
        {sim::VersionFailure::Query, 1813, msg::VERSION_QUERY_FAILED, 1813},
        {sim::VersionFailure::ShortRecord, 0, msg::VERSION_QUERY_FAILED, 13},
        {sim::VersionFailure::RecordPastEnd, 8, msg::VERSION_QUERY_FAILED, 13},
    };
    for (const Row& row : rows) {
        SetUp();
        sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
        sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x00010000);
        sim::FailVersion(TOOL_PATH, row.stage, row.error);
        const PatchChoice choice = Choose();
        EXPECT_FALSE(choice.useLegacy);
        EXPECT_EQ(Str(choice.patchPath), u"D:\\deploy\\patch.rkv");
        EXPECT_EQ(LogBytes(), LogOf({WithError(row.message, row.logged), msg::VERSION_DEFAULTING}));
        EXPECT_EQ(sim::Heap().generalLive, 0);
    }
}

TEST_F(ChoosePatchFileTest, ToolWithoutVersionResource) {
    sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
    const PatchChoice choice = Choose();
    EXPECT_FALSE(choice.useLegacy);
    EXPECT_EQ(LogBytes(), LogOf({WithError(msg::VERSION_SIZE_FAILED, 1812), msg::VERSION_DEFAULTING}));
}

TEST_F(ChoosePatchFileTest, VersionBufferThatCannotBeAllocated) {
    sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
    sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x00010000);
    sim::FailGeneralAllocation(1);
    const PatchChoice choice = Choose();
    sim::FailGeneralAllocation(0);
    EXPECT_FALSE(choice.useLegacy);
    const std::string log = LogBytes();
    EXPECT_EQ(log.find(testing::Utf8(testing::Line(msg::MEMORY_ALLOCATION_FAILED))), 3u);
    EXPECT_NE(log.find(testing::Utf8(msg::VERSION_DEFAULTING)), std::string::npos);
}

TEST_F(ChoosePatchFileTest, FolderIsUsedAsItIs) {
    sim::MakeFile(u"patch.rkv.old", "old");  // relative to the current folder
    sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x00020000);
    const PatchChoice fromEmpty = ChoosePatchFile(FixedPathString(u""), FixedPathString(TOOL_PATH));
    EXPECT_EQ(Str(fromEmpty.patchPath), u"patch.rkv.old");
    EXPECT_TRUE(fromEmpty.useLegacy);
    const PatchChoice fromRoot = ChoosePatchFile(FixedPathString(u"E:\\"), FixedPathString(TOOL_PATH));
    EXPECT_EQ(Str(fromRoot.patchPath), u"E:\\patch.rkv");
    CloseLog();
}

}  // namespace
}  // namespace orvane
