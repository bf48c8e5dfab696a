#include "launcher/patch_variant.h"

#include <gtest/gtest.h>

#include "launcher/messages.h"
#include "log/log_file.h"
#include "support/machine.h"
#include "support/named_case.h"
#include "support/text.h"

namespace orvane {
namespace {

using testing::Line;
using testing::LogBytes;
using testing::LogOf;
using testing::Str;
using testing::TOOL_PATH;

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

// The tool's file version as its resource holds it, read through the whole version query.
struct VersionCase {
    const char* name;
    std::uint16_t major, minor, build, revision;
    bool legacy;
};
ORVANE_PRINT_BY_NAME(VersionCase)

const VersionCase VERSION_CASES[] = {
    {"V6_0_1_0", 6, 0, 1, 0, true},        {"V6_0_1_65535", 6, 0, 1, 65535, true},
    {"V6_0_2_999", 6, 0, 2, 999, true},    {"V6_6_17_253", 6, 6, 17, 253, true},
    {"V6_0_3_0", 6, 0, 3, 0, false},       {"V6_0_0_1", 6, 0, 0, 1, false},
    {"V6_6_17_254", 6, 6, 17, 254, false}, {"V6_6_18_253", 6, 6, 18, 253, false},
    {"V6_6_16_253", 6, 6, 16, 253, false}, {"V7_0_1_0", 7, 0, 1, 0, false},
    {"V5_0_1_0", 5, 0, 1, 0, false},       {"V6_1_1_0", 6, 1, 1, 0, false},
    {"V6_5_17_253", 6, 5, 17, 253, false}, {"V0_0_0_0", 0, 0, 0, 0, false},
};

class LegacyVersionTest : public ChoosePatchFileTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(LegacyVersionTest, LegacyFileIsChosenOnlyForLegacyVersions) {
    const VersionCase& v = GetParam();
    sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
    sim::SetFileVersion(TOOL_PATH, v.major << 16 | v.minor, v.build << 16 | v.revision);
    const PatchChoice choice = Choose();
    EXPECT_EQ(choice.useLegacy, v.legacy);
    EXPECT_EQ(Str(choice.patchPath), v.legacy ? u"D:\\deploy\\patch.rkv.old" : u"D:\\deploy\\patch.rkv");
    EXPECT_TRUE(choice.versionRead);
    EXPECT_EQ(LogBytes(), testing::BOM) << "a version that was read is not reported";
    EXPECT_EQ(sim::Heap().generalLive, 0) << "the version buffer is freed";
}

ORVANE_NAMED_ROWS(Versions, LegacyVersionTest, VERSION_CASES);

struct VersionFailureCase {
    const char* name;
    sim::VersionFailure stage;
    platform::DWORD error;
    const char16_t* message;
    platform::DWORD logged;
};
ORVANE_PRINT_BY_NAME(VersionFailureCase)

const VersionFailureCase VERSION_FAILURE_CASES[] = {
    {"Size", sim::VersionFailure::Size, 1812, msg::VERSION_SIZE_FAILED, 1812},
    {"Info", sim::VersionFailure::Info, 5, msg::VERSION_INFO_FAILED, 5},
    {"Query", sim::VersionFailure::Query, 1813, msg::VERSION_QUERY_FAILED, 1813},
    {"ShortRecord", sim::VersionFailure::ShortRecord, 0, msg::VERSION_QUERY_FAILED, 13},
    {"RecordPastEnd", sim::VersionFailure::RecordPastEnd, 8, msg::VERSION_QUERY_FAILED, 13},
};

class VersionFailureTest : public ChoosePatchFileTest, public ::testing::WithParamInterface<VersionFailureCase> {};

TEST_P(VersionFailureTest, IsLoggedThenTheDefault) {
    const VersionFailureCase& row = GetParam();
    sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
    sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x00010000);
    sim::FailVersion(TOOL_PATH, row.stage, row.error);
    const PatchChoice choice = Choose();
    EXPECT_FALSE(choice.useLegacy);
    EXPECT_FALSE(choice.versionRead);
    EXPECT_EQ(Str(choice.patchPath), u"D:\\deploy\\patch.rkv");
    EXPECT_EQ(LogBytes(), LogOf({Line(row.message, row.logged), msg::VERSION_DEFAULTING}));
    EXPECT_EQ(sim::Heap().generalLive, 0);
}

ORVANE_NAMED_ROWS(Stages, VersionFailureTest, VERSION_FAILURE_CASES);

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
