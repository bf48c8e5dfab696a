#include "launcher/patch_tool.h"

#include "launcher/messages.h"
#include "log/log_write.h"
#include "platform/fatal_stop.h"
#include "platform/owners.h"
#include "platform/process.h"

namespace orvane {

static_assert(RESULT_WAIT_TIMED_OUT == platform::WAIT_TIMEOUT && RESULT_WAIT_FAILED == platform::WAIT_FAILED,
              "a wait's result that is not WAIT_OBJECT_0 becomes the exit code as it is");

namespace {

/// `prefix`, then `value`, then the closing quote. Nothing inside the quotes is escaped: the
/// tool receives the paths exactly as they are.
GuardedString QuotedPiece(const char16_t* prefix, const GuardedString& value) {
    const GuardedString opened = Concat(prefix, value);
    return Concat(opened, u"\"");
}

}  // namespace

LaunchResult RunPatchTool(const FixedPathString& toolPath, const FixedPathString& patchPath,
                          const FixedPathString& workFolder, bool useLegacy, bool* toolExited) {
    GuardedString parameters;
    if (!parameters.Reserve(0)) platform::FatalStop(platform::FatalSite::BlockAllocationFailed);
    {
        const GuardedString patchPiece = QuotedPiece(u" /encfile \"", patchPath);
        parameters.Append(patchPiece.Text(), TO_TERMINATOR);
    }
    if (useLegacy) {
        const GuardedString folderPiece = QuotedPiece(u" /var scriptdir \"", workFolder);
        parameters.Append(folderPiece.Text(), TO_TERMINATOR);
    }
    LogWrite(msg::WILL_RUN, toolPath.Text(), parameters.Text());

    platform::SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = platform::SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = u"runas";
    info.lpFile = toolPath.Text();
    info.lpParameters = parameters.Text();
    info.lpDirectory = workFolder.Text();
    info.nShow = platform::SW_SHOW;
    if (platform::ShellExecuteExW(&info) == 0) {
        LogWrite(msg::COULD_NOT_RUN);
        return RESULT_START_FAILED;
    }
    const platform::ScopedHandle process(info.hProcess);

    const platform::DWORD wait = platform::WaitForSingleObject(process.Get(), TOOL_WAIT_MILLISECONDS);
    if (wait != platform::WAIT_OBJECT_0) {
        LogWrite(msg::WAIT_RETURNED, wait);
        return wait;
    }
    platform::DWORD exitCode = 0;
    // An exit code that cannot be read is an unknown outcome, never a success.
    if (platform::GetExitCodeProcess(process.Get(), &exitCode) == 0) {
        LogWrite(msg::EXIT_CODE_FAILED, platform::GetLastError());
        return RESULT_UNKNOWN;
    }
    if (toolExited != nullptr) *toolExited = true;
    if (exitCode != 0) {
        LogWrite(msg::TOOL_RETURNED, toolPath.Text(), exitCode);
        return exitCode;
    }
    LogWrite(msg::TOOL_SUCCEEDED);
    return RESULT_SUCCESS;
}

}  // namespace orvane
