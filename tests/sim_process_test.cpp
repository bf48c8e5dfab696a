// The simulation's process calls: the module's name, the WOW64 answer, the tool's launch.
#include <gtest/gtest.h>

#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

struct ModuleRow {
    const char* name;
    DWORD size;
    DWORD result;
    std::u16string text;
    DWORD lastError;  // 0: not set
};
ORVANE_PRINT_BY_NAME(ModuleRow)

const ModuleRow MODULE_ROWS[] = {
    {"Room", 260, 15, u"D:\\deploy\\L.exe", 0},
    {"JustRoom", 16, 15, u"D:\\deploy\\L.exe", 0},
    {"NoRoomForTheTerminator", 15, 15, u"D:\\deploy\\L.ex", ERROR_INSUFFICIENT_BUFFER},
    {"Short", 5, 5, u"D:\\d", ERROR_INSUFFICIENT_BUFFER},
    {"OneUnit", 1, 1, u"", ERROR_INSUFFICIENT_BUFFER},
};

class ModuleFileNameTest : public SimFixture, public ::testing::WithParamInterface<ModuleRow> {};

TEST_P(ModuleFileNameTest, IsCutAsWindows6Does) {
    const ModuleRow& row = GetParam();
    sim::SetModuleFileName(u"D:\\deploy\\L.exe");
    SetLastError(0);
    std::vector<char16_t> buffer(300, u'#');
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), row.size), row.result);
    EXPECT_EQ(std::u16string(buffer.data()), row.text);
    EXPECT_EQ(buffer[row.size], u'#') << "written past the buffer";
    EXPECT_EQ(GetLastError(), row.lastError);
}

ORVANE_NAMED_ROWS(Rows, ModuleFileNameTest, MODULE_ROWS);

struct ToolRow {
    const char* name;
    sim::ToolScript script;
    BOOL started;
    bool handle;
    DWORD wait;
    BOOL exitCodeRead;
    DWORD exitCodeOrError;
};
ORVANE_PRINT_BY_NAME(ToolRow)

const ToolRow TOOL_ROWS[] = {
    {"StartRefused", {.startFails = true}, FALSE, false, 0, FALSE, ERROR_CANCELLED},
    {"NoHandle", {.noProcessHandle = true}, TRUE, false, WAIT_FAILED, FALSE, ERROR_INVALID_HANDLE},
    {"TimesOutStillRunning", {.waitResult = WAIT_TIMEOUT, .exitCode = 7}, TRUE, true, WAIT_TIMEOUT, TRUE, 259},
    {"ExitCodeUnreadable", {.exitCodeFails = true}, TRUE, true, 0, FALSE, ERROR_ACCESS_DENIED},
    {"Exits", {.exitCode = 0xC0000005}, TRUE, true, 0, TRUE, 0xC0000005},
};

class ToolScriptTest : public SimFixture, public ::testing::WithParamInterface<ToolRow> {};

TEST_P(ToolScriptTest, DecidesTheOutcome) {
    const ToolRow& row = GetParam();
    sim::ScriptTool(row.script);
    SHELLEXECUTEINFOW info = Record();
    EXPECT_EQ(ShellExecuteExW(&info), row.started);
    if (!row.started) {
        EXPECT_EQ(GetLastError(), row.exitCodeOrError);
        EXPECT_EQ(info.hProcess, nullptr);
        return;
    }
    EXPECT_EQ(info.hProcess != nullptr, row.handle);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 100), row.wait);
    DWORD code = 12345;
    EXPECT_EQ(GetExitCodeProcess(info.hProcess, &code), row.exitCodeRead);
    EXPECT_EQ(row.exitCodeRead ? code : GetLastError(), row.exitCodeOrError);
    if (!row.exitCodeRead) {
        EXPECT_EQ(code, 12345u);
    }
}

ORVANE_NAMED_ROWS(Rows, ToolScriptTest, TOOL_ROWS);

}  // namespace
