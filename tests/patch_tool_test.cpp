#include "launcher/patch_tool.h"

#include <gtest/gtest.h>

#include "launcher/messages.h"
#include "log/log_file.h"
#include "platform/process.h"
#include "support/machine.h"

namespace orvane {
namespace {

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

TEST_F(RunPatchToolTest, LaunchRecordAndParameters) {
    struct Row {
        const char16_t* patch;
        const char16_t* folder;
        bool legacy;
        const char16_t* parameters;
    };
    const Row rows[] = {
        {u"D:\\deploy\\patch.rkv", u"D:\\deploy", false, u" /encfile \"D:\\deploy\\patch.rkv\""},
        {u"D:\\deploy\\patch.rkv.old", u"D:\\deploy", true,
         u" /encfile \"D:\\deploy\\patch.rkv.old\" /var scriptdir \"D:\\deploy\""},
        {u"E:\\patch.rkv.old", u"E:", true, u" /encfile \"E:\\patch.rkv.old\" /var scriptdir \"E:\""},
        {u"patch.rkv.old", u"", true, u" /encfile \"patch.rkv.old\" /var scriptdir \"\""},
        {u"D:\\a \"q\"\\patch.rkv", u"D:\\a \"q\"", false, u" /encfile \"D:\\a \"q\"\\patch.rkv\""},
    };
    for (const Row& row : rows) {
        SetUp();
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
        EXPECT_EQ(LogBytes(),
                  LogOf({std::u16string(u"[INFO] will run ") + TOOL_PATH + u" with parameters :\n\t " + row.parameters,
                         msg::TOOL_SUCCEEDED}));
    }
}

TEST_F(RunPatchToolTest, OutcomesAndTheirMessages) {
    struct Row {
        const char* situation;
        sim::ToolScript script;
        LaunchResult result;
        std::u16string last;
        int closes;
    };
    const std::u16string tool(TOOL_PATH);
    const Row rows[] = {
        {"exit 0", {}, 0, msg::TOOL_SUCCEEDED, 1},
        {"start fails", {.startFails = true}, 5, msg::COULD_NOT_RUN, 0},
        {"time-out", {.waitResult = 258}, 258, u"[ERROR] WaitForSingleObject returned 258", 1},
        {"wait fails", {.waitResult = 0xFFFFFFFF}, 0xFFFFFFFF, u"[ERROR] WaitForSingleObject returned -1", 1},
        {"no handle", {.noProcessHandle = true}, 0xFFFFFFFF, u"[ERROR] WaitForSingleObject returned -1", 0},
        {"exit 1", {.exitCode = 1}, 1, u"[ERROR] " + tool + u" returned 1", 1},
        {"exit 0xC0000005", {.exitCode = 0xC0000005}, 0xC0000005, u"[ERROR] " + tool + u" returned -1073741819", 1},
        {"exit 0xFFFFFFFF", {.exitCode = 0xFFFFFFFF}, 0xFFFFFFFF, u"[ERROR] " + tool + u" returned -1", 1},
        {"exit code unreadable",
         {.exitCode = 7, .exitCodeFails = true, .exitCodeError = 6},
         0xFFFFFFFF,
         u"[ERROR] GetExitCodeProcess failed! GetLastError: 6",
         1},
    };
    for (const Row& row : rows) {
        SetUp();
        sim::ScriptTool(row.script);
        EXPECT_EQ(Run(u"D:\\deploy\\patch.rkv", u"D:\\deploy", false), row.result) << row.situation;
        const std::u16string willRun =
            u"[INFO] will run " + tool + u" with parameters :\n\t  /encfile \"D:\\deploy\\patch.rkv\"";
        EXPECT_EQ(LogBytes(), LogOf({willRun, row.last})) << row.situation;
        EXPECT_EQ(sim::ProcessHandleCloses(), row.closes) << row.situation;
        EXPECT_EQ(sim::OpenProcessHandles(), 0) << row.situation;
        if (!row.script.startFails) {
            ASSERT_EQ(sim::Waits().size(), 1u);
            EXPECT_EQ(sim::Waits()[0], 6000000u);
        }
    }
}

}  // namespace
}  // namespace orvane
