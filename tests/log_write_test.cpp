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
    void SetUp() override {
        LogFixture::SetUp();
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
     {u"t", DWORD{0xC0000005}},
     Line(msg::TOOL_RETURNED, u"t", u"-1073741819")},
    {"LastError", msg::VERSION_SIZE_FAILED, {DWORD{1812}}, Line(msg::VERSION_SIZE_FAILED, u"1812")},
    {"FolderKeepsTrailingBackslash", msg::INSTALL_PATH_FOUND, {u"D:\\P\\"}, Line(msg::INSTALL_PATH_FOUND, u"D:\\P\\")},
    // The bytes of each character are the log stream's table; here only that the path arrives whole.
    {"PathBeyondBmp", msg::NOT_FOUND, {u"C:\\\U0001F600.rkv"}, Line(msg::NOT_FOUND, u"C:\\\U0001F600.rkv")},
    {"PathWithUnpairedSurrogate", msg::NOT_FOUND, {u"C:\\\xD83D.rkv"}, Line(msg::NOT_FOUND, u"C:\\\xFFFD.rkv")},
    {"TwoLinesWithTab", msg::WILL_RUN, {u"t.exe", u" /encfile p"}, Line(msg::WILL_RUN, u"t.exe", u" /encfile p")},
};

class LogMessageTest : public LogWriteTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(LogMessageTest, WritesMessageAsOneLine) {
    const MessageCase& c = GetParam();
    LogWriteList(c.format, c.args.data(), static_cast<std::uint32_t>(c.args.size()));
    EXPECT_EQ(OnDisk(), LogOf({c.line}));
}

ORVANE_NAMED_ROWS(Messages, LogMessageTest, MESSAGE_CASES);

TEST_F(LogWriteTest, EachMessageIsOneWrite) {
    ASSERT_EQ(sim::WriteSizes(), std::vector<DWORD>{3});
    LogWrite(msg::INSTALL_PATH_NOT_FOUND);
    LogWrite(msg::WAIT_RETURNED, DWORD{258});
    LogWrite(msg::WILL_RUN, u"t", u"p");

    const auto size = [](const std::u16string& line) { return static_cast<DWORD>(LogOf({line}).size() - 3); };
    const std::vector<DWORD> expected = {3, size(msg::INSTALL_PATH_NOT_FOUND), size(Line(msg::WAIT_RETURNED, u"258")),
                                         size(Line(msg::WILL_RUN, u"t", u"p"))};
    EXPECT_EQ(sim::WriteSizes(), expected);
}

TEST_F(LogWriteTest, MessageLongerThanBufferIsCompleteOnReturn) {
    const std::u16string path = u"C:\\" + std::u16string(3 * LogStream::BUFFER_UNITS, u'x');
    LogWrite(msg::NOT_FOUND, path.c_str());

    EXPECT_EQ(OnDisk(), LogOf({Line(msg::NOT_FOUND, path)}));
}

TEST_F(LogWriteTest, FailedWriteLosesOnlyThatMessage) {
    LogWrite(msg::WAIT_RETURNED, DWORD{1});
    sim::FailWritesAfter(0);
    LogWrite(msg::WAIT_RETURNED, DWORD{2});
    CloseLog();

    EXPECT_EQ(OnDisk(), LogOf({Line(msg::WAIT_RETURNED, u"1")}));
}

TEST_F(LogWriteTest, UnopenedOrClosedLogIgnoresMessages) {
    LogStream* const opened = logStream;
    logStream = nullptr;
    LogWrite(msg::TOOL_SUCCEEDED);
    logStream = opened;
    CloseLog();
    LogWrite(msg::TOOL_SUCCEEDED);
    EXPECT_EQ(sim::WriteSizes(), std::vector<DWORD>{3});
    EXPECT_EQ(OnDisk(), BOM);
}

}  // namespace
}  // namespace orvane
