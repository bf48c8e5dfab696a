#include "launcher/patch_tool.h"

#include <gtest/gtest.h>

#include "launcher/messages.h"
#include "log/log_file.h"
#include "platform/process.h"
#include "support/machine.h"
#include "support/named_case.h"

namespace orvane {
namespace {

using testing::Line;
using testing::LogBytes;
using testing::LogOf;
using testing::TOOL_PATH;

class RunPatchToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::TypicalMachine();
        OpenLog();
    }
    LaunchResult Run(const char16_t* patch, const char16_t* folder, bool legacy) {
        const LaunchResult result =
            RunPatchTool(FixedPathString(TOOL_PATH), FixedPathString(patch), FixedPathString(folder), legacy);
        CloseLog();
        return result;
    }
};

struct ParameterCase {
    const char* name;
    const char16_t* patch;
    const char16_t* folder;
    bool legacy;
    const char16_t* parameters;
};
ORVANE_PRINT_BY_NAME(ParameterCase)

const ParameterCase PARAMETER_CASES[] = {
    {"CurrentFile", u"D:\\deploy\\patch.rkv", u"D:\\deploy", false, u" /encfile \"D:\\deploy\\patch.rkv\""},
    {"LegacyFileWithoutAFolder", u"patch.rkv.old", u"", true, u" /encfile \"patch.rkv.old\" /var scriptdir \"\""},
    {"QuotesInThePathStayAsTheyAre", u"D:\\a \"q\"\\patch.rkv", u"D:\\a \"q\"", false,
     u" /encfile \"D:\\a \"q\"\\patch.rkv\""},
};

class LaunchParametersTest : public RunPatchToolTest, public ::testing::WithParamInterface<ParameterCase> {};

TEST_P(LaunchParametersTest, LaunchRecordAndParameters) {
    const ParameterCase& row = GetParam();
    EXPECT_EQ(Run(row.patch, row.folder, row.legacy), RESULT_SUCCESS);
    ASSERT_EQ(sim::Launches().size(), 1u);
    const sim::Launch& launch = sim::Launches()[0];
    EXPECT_EQ(launch.parameters, row.parameters);
    EXPECT_EQ(launch.directory, row.folder);
    EXPECT_EQ(launch.file, TOOL_PATH);
    EXPECT_EQ(launch.verb, u"runas");
    EXPECT_EQ(launch.cbSize, sizeof(platform::SHELLEXECUTEINFOW));
    EXPECT_EQ(launch.fMask, platform::SEE_MASK_NOCLOSEPROCESS);
    EXPECT_EQ(launch.nShow, platform::SW_SHOW);
    EXPECT_TRUE(launch.hwndNull);
    EXPECT_TRUE(launch.otherFieldsZero);
    EXPECT_EQ(LogBytes(), LogOf({Line(msg::WILL_RUN, TOOL_PATH, row.parameters), msg::TOOL_SUCCEEDED}));
}

ORVANE_NAMED_ROWS(Parameters, LaunchParametersTest, PARAMETER_CASES);

struct ToolOutcomeCase {
    const char* name;
    sim::ToolScript script;
    LaunchResult result;
    std::u16string last;
    int closes;
};
ORVANE_PRINT_BY_NAME(ToolOutcomeCase)

std::u16string Returned(const char16_t* code) { return Line(msg::TOOL_RETURNED, TOOL_PATH, code); }

const ToolOutcomeCase TOOL_OUTCOME_CASES[] = {
    {"ExitZero", {}, 0, msg::TOOL_SUCCEEDED, 1},
    {"StartFails", {.startFails = true}, 5, msg::COULD_NOT_RUN, 0},
    {"TimeOut", {.waitResult = 258}, 258, Line(msg::WAIT_RETURNED, u"258"), 1},
    {"WaitFails", {.waitResult = 0xFFFFFFFF}, 0xFFFFFFFF, Line(msg::WAIT_RETURNED, u"-1"), 1},
    {"NoHandle", {.noProcessHandle = true}, 0xFFFFFFFF, Line(msg::WAIT_RETURNED, u"-1"), 0},
    {"ExitOne", {.exitCode = 1}, 1, Returned(u"1"), 1},
    {"ExitAccessViolation", {.exitCode = 0xC0000005}, 0xC0000005, Returned(u"-1073741819"), 1},
    {"ExitAllOnes", {.exitCode = 0xFFFFFFFF}, 0xFFFFFFFF, Returned(u"-1"), 1},
    {"ExitCodeUnreadable",
     {.exitCode = 7, .exitCodeFails = true, .exitCodeError = 6},
     0xFFFFFFFF,
     Line(msg::EXIT_CODE_FAILED, u"6"),
     1},
};

class ToolOutcomeTest : public RunPatchToolTest, public ::testing::WithParamInterface<ToolOutcomeCase> {};

TEST_P(ToolOutcomeTest, EndsWithItsResultAndMessage) {
    const ToolOutcomeCase& row = GetParam();
    sim::ScriptTool(row.script);
    EXPECT_EQ(Run(u"D:\\deploy\\patch.rkv", u"D:\\deploy", false), row.result);
    EXPECT_EQ(LogBytes(), LogOf({Line(msg::WILL_RUN, TOOL_PATH, u" /encfile \"D:\\deploy\\patch.rkv\""), row.last}));
    EXPECT_EQ(sim::ProcessHandleCloses(), row.closes);
    EXPECT_EQ(sim::OpenProcessHandles(), 0);
    if (!row.script.startFails) {
        ASSERT_EQ(sim::Waits().size(), 1u);
        EXPECT_EQ(sim::Waits()[0], 6000000u);
    }
}

ORVANE_NAMED_ROWS(Outcomes, ToolOutcomeTest, TOOL_OUTCOME_CASES);

}  // namespace
}  // namespace orvane
