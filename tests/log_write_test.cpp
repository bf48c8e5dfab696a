#include "log/log_write.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/messages.h"
#include "log/log_file.h"
#include "platform/sim/sim.h"
#include "support/named_case.h"

namespace orvane {
namespace {

using platform::DWORD;

const std::string MARK = "\xEF\xBB\xBF";

class LogWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        RefreshClockSource();
    }
    void TearDown() override { CloseLog(); }

    static void Open() {
        OpenLog();
        ASSERT_NE(logStream, nullptr);
    }
    static std::string OnDisk() { return sim::ReadFile(LogPath().Text()); }
};

TEST_F(LogWriteTest, SuccessfulRunWritesExactlyTheseBytes) {
    Open();
    LogWrite(msg::INSTALL_PATH_FOUND, u"C:\\Program Files\\Product\\");
    LogWrite(msg::WILL_RUN, u"C:\\Program Files\\Product\\installer\\kestrun.exe",
             u" /encfile \"D:\\deploy\\patch.rkv\"");
    LogWrite(msg::TOOL_SUCCEEDED);
    CloseLog();

    EXPECT_EQ(OnDisk(), MARK +
                            "[INFO] installation path found: C:\\Program Files\\Product\\\r\n"
                            "[INFO] will run C:\\Program Files\\Product\\installer\\kestrun.exe with parameters :\r\n"
                            "\t  /encfile \"D:\\deploy\\patch.rkv\"\r\n"
                            "[INFO] kestrun.exe returned with ERROR_SUCCESS.\r\n");
}

struct MessageCase {
    const char* name;
    const char16_t* format;
    std::vector<FormatArg> args;
    std::string line;
};
ORVANE_PRINT_BY_NAME(MessageCase)

const MessageCase MESSAGE_CASES[] = {
    {"NoArguments", msg::INSTALL_PATH_NOT_FOUND, {}, "[ERROR] installation path not found!\r\n"},
    {"WaitTimedOut", msg::WAIT_RETURNED, {DWORD{258}}, "[ERROR] WaitForSingleObject returned 258\r\n"},
    {"WaitFailed", msg::WAIT_RETURNED, {DWORD{0xFFFFFFFF}}, "[ERROR] WaitForSingleObject returned -1\r\n"},
    {"ExitCodeTopBitSet",
     msg::TOOL_RETURNED,
     {u"C:\\P\\kestrun.exe", DWORD{0xC0000005}},
     "[ERROR] C:\\P\\kestrun.exe returned -1073741819\r\n"},
    {"LastError",
     msg::VERSION_SIZE_FAILED,
     {DWORD{1812}},
     "[ERROR] GetFileVersionInfoSize failed! GetLastError: 1812\r\n"},
    {"FolderKeepsTrailingBackslash",
     msg::INSTALL_PATH_FOUND,
     {u"D:\\Product\\"},
     "[INFO] installation path found: D:\\Product\\\r\n"},
    {"PathBeyondBmp",
     msg::NOT_FOUND,
     {u"C:\\\U0001F600\\kestrun.exe"},
     "[ERROR] C:\\\xF0\x9F\x98\x80\\kestrun.exe not found!\r\n"},
    {"PathWithUnpairedSurrogate",
     msg::NOT_FOUND,
     {u"C:\\\xD83D\\patch.rkv"},
     "[ERROR] C:\\\xEF\xBF\xBD\\patch.rkv not found!\r\n"},
    {"TwoLinesWithTab",
     msg::WILL_RUN,
     {u"t.exe", u" /encfile \"p\""},
     "[INFO] will run t.exe with parameters :\r\n\t  /encfile \"p\"\r\n"},
};

class LogMessageTest : public LogWriteTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(LogMessageTest, WritesMessageAsOneLine) {
    const MessageCase& c = GetParam();
    Open();
    LogWriteList(c.format, c.args.data(), static_cast<std::uint32_t>(c.args.size()));
    EXPECT_EQ(OnDisk(), MARK + c.line);
}

INSTANTIATE_TEST_SUITE_P(Messages, LogMessageTest, ::testing::ValuesIn(MESSAGE_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogWriteTest, EachMessageIsOneWrite) {
    Open();
    const std::vector<DWORD> afterOpen = sim::WriteSizes();
    ASSERT_EQ(afterOpen, std::vector<DWORD>{3});

    LogWrite(msg::INSTALL_PATH_NOT_FOUND);
    LogWrite(msg::WAIT_RETURNED, DWORD{258});
    LogWrite(msg::WILL_RUN, u"t", u"p");

    const std::vector<DWORD> expected = {3, sizeof "[ERROR] installation path not found!\r\n" - 1,
                                         sizeof "[ERROR] WaitForSingleObject returned 258\r\n" - 1,
                                         sizeof "[INFO] will run t with parameters :\r\n\t p\r\n" - 1};
    EXPECT_EQ(sim::WriteSizes(), expected);
}

TEST_F(LogWriteTest, MessageLongerThanBufferIsCompleteOnReturn) {
    Open();
    const std::u16string path = u"C:\\" + std::u16string(3 * LogStream::BUFFER_UNITS, u'x');
    LogWrite(msg::NOT_FOUND, path.c_str());

    EXPECT_EQ(OnDisk(), MARK + "[ERROR] C:\\" + std::string(3 * LogStream::BUFFER_UNITS, 'x') + " not found!\r\n");
}

TEST_F(LogWriteTest, FailedWriteLosesOnlyThatMessage) {
    Open();
    LogWrite(msg::WAIT_RETURNED, DWORD{1});
    sim::FailWritesAfter(0);
    LogWrite(msg::WAIT_RETURNED, DWORD{2});
    CloseLog();

    EXPECT_EQ(OnDisk(), MARK + "[ERROR] WaitForSingleObject returned 1\r\n");
}

TEST_F(LogWriteTest, UnopenedOrClosedLogIgnoresMessages) {
    logStream = nullptr;
    LogWrite(msg::TOOL_SUCCEEDED);
    EXPECT_TRUE(sim::WriteSizes().empty());

    Open();
    CloseLog();
    const std::vector<DWORD> afterClose = sim::WriteSizes();
    LogWrite(msg::TOOL_SUCCEEDED);
    EXPECT_EQ(sim::WriteSizes(), afterClose);
    EXPECT_EQ(OnDisk(), MARK);
}

std::string Widen(const std::string& ascii) {
    std::string bytes;
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

TEST_F(LogWriteTest, Utf16LittleEndianLogGetsUtf16Lines) {
    sim::MakeFile(u"C:\\ProgramData\\Velmor\\Orvane.Launcher-1600000000-4242.txt", "\xFF\xFE");
    Open();
    LogWrite(msg::WILL_RUN, u"t\U0001F600", u" p");

    EXPECT_EQ(OnDisk(), "\xFF\xFE" + Widen("[INFO] will run t") + "\x3D\xD8" + std::string("\x00\xDE", 2) +
                            Widen(" with parameters :\r\n\t  p\r\n"));
}

}  // namespace
}  // namespace orvane
