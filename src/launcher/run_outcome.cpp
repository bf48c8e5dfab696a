#include "launcher/run_outcome.h"

namespace orvane {

namespace {

// clang-format off
constexpr RunOutcome OUTCOMES[] = {
    {RESULT_SUCCESS,                100, true,  true,  u"the tool succeeded"},
    {TOOL_SUCCESS_NO_ACTION,        101, true,  true,  u"the tool succeeded"},
    {TOOL_SUCCESS_REBOOT_REQUIRED,  102, true,  true,  u"the tool succeeded; a restart completes the change"},
    {TOOL_SUCCESS_REBOOT_INITIATED, 103, true,  true,  u"the tool succeeded and started a restart"},
    {RESULT_FILE_MISSING,           202, false, false, u"the tool or the patch file is missing"},
    {RESULT_NO_INSTALL,             203, false, false, u"the product is not installed"},
    {RESULT_START_FAILED,           205, false, false, u"the tool could not be started"},
    {TOOL_ANOTHER_INSTALL_RUNNING,  218, false, true,  u"another installation was in progress"},
    {RESULT_WAIT_TIMED_OUT,         258, false, false, u"the tool still ran after 100 minutes"},
    {RESULT_UNKNOWN,                299, false, false, u"the tool's outcome is unknown"},
};
constexpr RunOutcome ANY_OTHER =    {0,   200, false, true,  u"the tool failed"};
// clang-format on

}  // namespace

const RunOutcome& OutcomeOf(LaunchResult code, bool fromTool) {
    for (const RunOutcome& outcome : OUTCOMES) {
        if (outcome.code == code && outcome.fromTool == fromTool) return outcome;
    }
    return ANY_OTHER;
}

}  // namespace orvane
