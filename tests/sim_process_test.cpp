// The simulation's process calls: the module's name, the WOW64 answer, the tool's launch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimProcessTest = SimFixture;

// ---- Process -----------------------------------------------------------------------------

struct ModuleRow {
    DWORD size;
    DWORD result;
    std::u16string text;
    DWORD lastError;
};

TEST_F(SimProcessTest, ModuleFileNameIsCutAsWindows6Does) {
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

TEST_F(SimProcessTest, Wow64AnswerAsConfigured) {
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

TEST_F(SimProcessTest, StartedToolIsRecordedWaitedForAndClosed) {
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

TEST_F(SimProcessTest, ToolScriptDecidesTheOutcome) {
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

TEST_F(SimProcessTest, LaunchRecordOfTheWrongSizeIsRefused) {
    SHELLEXECUTEINFOW info = Record();
    info.cbSize = 60 + 4;
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::OpenProcessHandles(), 0);
}

}  // namespace
