// The launcher's words, pinned: the one place a message's exact text is written out in the tests.
// Every other test builds its expected lines from the constants.
#include "launcher/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "support/named_case.h"

namespace orvane {
namespace {

struct MessageText {
    const char* name;
    const char16_t* message;
    const char16_t* text;
};
ORVANE_PRINT_BY_NAME(MessageText)

const MessageText MESSAGES[] = {
    {"InstallPathNotFound", msg::INSTALL_PATH_NOT_FOUND, u"[ERROR] installation path not found!"},
    {"InstallPathFound", msg::INSTALL_PATH_FOUND, u"[INFO] installation path found: %s"},
    {"NotFound", msg::NOT_FOUND, u"[ERROR] %s not found!"},
    {"VersionSizeFailed", msg::VERSION_SIZE_FAILED, u"[ERROR] GetFileVersionInfoSize failed! GetLastError: %d"},
    {"MemoryAllocationFailed", msg::MEMORY_ALLOCATION_FAILED, u"[ERROR] Memory allocation failed! GetLastError: %d"},
    {"VersionInfoFailed", msg::VERSION_INFO_FAILED, u"[ERROR] GetFileVersionInfo failed! GetLastError: %d"},
    {"VersionQueryFailed", msg::VERSION_QUERY_FAILED, u"[ERROR] VerQueryValue failed! GetLastError: %d"},
    {"VersionDefaulting", msg::VERSION_DEFAULTING,
     u"[ERROR] Could not read kestrun.exe fileversion, defaulting to new encryption method!"},
    {"WillRun", msg::WILL_RUN, u"[INFO] will run %s with parameters :\n\t %s"},
    {"CouldNotRun", msg::COULD_NOT_RUN, u"[ERROR] kestrun.exe could not be run!"},
    {"WaitReturned", msg::WAIT_RETURNED, u"[ERROR] WaitForSingleObject returned %d"},
    {"ToolReturned", msg::TOOL_RETURNED, u"[ERROR] %s returned %d"},
    {"ToolSucceeded", msg::TOOL_SUCCEEDED, u"[INFO] kestrun.exe returned with ERROR_SUCCESS."},
    {"ExitCodeFailed", msg::EXIT_CODE_FAILED, u"[ERROR] GetExitCodeProcess failed! GetLastError: %d"},
};

class MessageTableTest : public ::testing::TestWithParam<MessageText> {};

TEST_P(MessageTableTest, HoldsExactlyThisText) { EXPECT_EQ(std::u16string(GetParam().message), GetParam().text); }

ORVANE_NAMED_ROWS(Messages, MessageTableTest, MESSAGES);

}  // namespace
}  // namespace orvane
