#include "log/log_write.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/messages.h"
#include "log/log_file.h"
#include "platform/sim/sim.h"
#include "support/log_fixture.h"
#include "support/machine.h"
#include "support/named_case.h"

namespace orvane {
namespace {

using platform::DWORD;

using testing::BOM;
using testing::Line;
using testing::LogOf;

class LogWriteTest : public testing::LogFixture {
protected:
    static void Open() {
        OpenLog();
        ASSERT_NE(logStream, nullptr);
    }
};

struct MessageCase {
    const char* name;
    const char16_t* format;
    std::vector<FormatArg> args;
    std::u16string line;
};
ORVANE_PRINT_BY_NAME(MessageCase)

const MessageCase MESSAGE_CASES[] = {
    {"NoArguments", msg::INSTALL_PATH_NOT_FOUND, {}, msg::INSTALL_PATH_NOT_FOUND},
    {"WaitTimedOut", msg::WAIT_RETURNED, {DWORD{258}}, Line(msg::WAIT_RETURNED, u"258")},
    {"WaitFailed", msg::WAIT_RETURNED, {DWORD{0xFFFFFFFF}}, Line(msg::WAIT_RETURNED, u"-1")},
    {"ExitCodeTopBitSet",
     msg::TOOL_RETURNED,
     {u"C:\\P\\kestrun.exe", DWORD{0xC0000005}},
     Line(msg::TOOL_RETURNED, u"C:\\P\\kestrun.exe", u"-1073741819")},
    {"LastError", msg::VERSION_SIZE_FAILED, {DWORD{1812}}, Line(msg::VERSION_SIZE_FAILED, u"1812")},
    {"FolderKeepsTrailingBackslash",
     msg::INSTALL_PATH_FOUND,
     {u"D:\\Product\\"},
     Line(msg::INSTALL_PATH_FOUND, u"D:\\Product\\")},
    // The bytes of each character are the log stream's table; here only that the path arrives whole.
    {"PathBeyondBmp",
     msg::NOT_FOUND,
     {u"C:\\\U0001F600\\kestrun.exe"},
     Line(msg::NOT_FOUND, u"C:\\\U0001F600\\kestrun.exe")},
    {"PathWithUnpairedSurrogate",
     msg::NOT_FOUND,
     {u"C:\\\xD83D\\patch.rkv"},
     Line(msg::NOT_FOUND, u"C:\\\xFFFD\\patch.rkv")},
    {"TwoLinesWithTab",
     msg::WILL_RUN,
     {u"t.exe", u" /encfile \"p\""},
     Line(msg::WILL_RUN, u"t.exe", u" /encfile \"p\"")},
};

class LogMessageTest : public LogWriteTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(LogMessageTest, WritesMessageAsOneLine) {
    const MessageCase& c = GetParam();
    Open();
    LogWriteList(c.format, c.args.data(), static_cast<std::uint32_t>(c.args.size()));
    EXPECT_EQ(OnDisk(), LogOf({c.line}));
}

ORVANE_NAMED_ROWS(Messages, LogMessageTest, MESSAGE_CASES);

TEST_F(LogWriteTest, EachMessageIsOneWrite) {
    Open();
    const std::vector<DWORD> afterOpen = sim::WriteSizes();
    ASSERT_EQ(afterOpen, std::vector<DWORD>{3});

    LogWrite(msg::INSTALL_PATH_NOT_FOUND);
    LogWrite(msg::WAIT_RETURNED, DWORD{258});
    LogWrite(msg::WILL_RUN, u"t", u"p");

    const auto size = [](const std::u16string& line) { return static_cast<DWORD>(LogOf({line}).size() - 3); };
    const std::vector<DWORD> expected = {3, size(msg::INSTALL_PATH_NOT_FOUND), size(Line(msg::WAIT_RETURNED, u"258")),
                                         size(Line(msg::WILL_RUN, u"t", u"p"))};
    EXPECT_EQ(sim::WriteSizes(), expected);
}

TEST_F(LogWriteTest, MessageLongerThanBufferIsCompleteOnReturn) {
    Open();
    const std::u16string path = u"C:\\" + std::u16string(3 * LogStream::BUFFER_UNITS, u'x');
    LogWrite(msg::NOT_FOUND, path.c_str());

    EXPECT_EQ(OnDisk(), LogOf({Line(msg::NOT_FOUND, path)}));
}

TEST_F(LogWriteTest, FailedWriteLosesOnlyThatMessage) {
    Open();
    LogWrite(msg::WAIT_RETURNED, DWORD{1});
    sim::FailWritesAfter(0);
    LogWrite(msg::WAIT_RETURNED, DWORD{2});
    CloseLog();

    EXPECT_EQ(OnDisk(), LogOf({Line(msg::WAIT_RETURNED, u"1")}));
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
    EXPECT_EQ(OnDisk(), BOM);
}

/// A line as a UTF-16 log holds it: little-endian units, the line break as CR LF.
std::string Utf16Line(const std::u16string& line) {
    std::string bytes;
    for (char16_t unit : line + u"\n") {
        if (unit == u'\n') bytes += std::string("\r\0", 2);
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST_F(LogWriteTest, Utf16LittleEndianLogGetsUtf16Lines) {
    sim::MakeFile(u"C:\\ProgramData\\Velmor\\Orvane.Launcher-1600000000-4242.txt", "\xFF\xFE");
    Open();
    LogWrite(msg::WILL_RUN, u"t\U0001F600", u" p");

    EXPECT_EQ(OnDisk(), "\xFF\xFE" + Utf16Line(Line(msg::WILL_RUN, u"t\U0001F600", u" p")));
}

}  // namespace
}  // namespace orvane
