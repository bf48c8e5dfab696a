#include "launcher/launch_sequence.h"

#include "launcher/install_lookup.h"
#include "launcher/launcher_folder.h"
#include "launcher/messages.h"
#include "launcher/patch_tool.h"
#include "launcher/patch_variant.h"
#include "launcher/process_objects.h"
#include "launcher/run_event.h"
#include "launcher/run_record.h"
#include "launcher/wow64_check.h"
#include "log/log_file.h"
#include "log/log_write.h"
#include "platform/shell.h"

namespace orvane {

LaunchResult RunLaunchSequence() {
    OpenLog();
    const bool use64BitView = UseRegistry64BitView();
    RunRecord record(use64BitView);
    bool toolExited = false;
    // The steps run in their own scope so that every local string is released before the log
    // is closed; each failure is reported once and ends the steps.
    const LaunchResult result = [use64BitView, &record, &toolExited] {
        const GuardedString installFolder = ReadInstallLocation(use64BitView);
        if (installFolder.Length() == 0) {
            LogWrite(msg::INSTALL_PATH_NOT_FOUND);
            return RESULT_NO_INSTALL;
        }
        LogWrite(msg::INSTALL_PATH_FOUND, installFolder.Text());

        FixedPathString toolPath(installFolder.Text());
        toolPath.AppendPath(TOOL_RELATIVE_PATH.Text());
        if (platform::PathFileExistsW(toolPath.Text()) == 0) {
            LogWrite(msg::NOT_FOUND, toolPath.Text());
            return RESULT_FILE_MISSING;
        }

        FixedPathString launcherFolder(nullptr);
        FindLauncherFolder(launcherFolder);
        const PatchChoice choice = ChoosePatchFile(launcherFolder, toolPath);
        record.NotePatches(launcherFolder, choice);
        if (platform::PathFileExistsW(choice.patchPath.Text()) == 0) {
            LogWrite(msg::NOT_FOUND, choice.patchPath.Text());
            return RESULT_FILE_MISSING;
        }

        launcherFolder.TrimTrailing(u'\\');
        // Begun before the tool starts, so that a run that never ends leaves no earlier success
        // standing for this patch.
        record.Write(RESULT_STARTED, WrittenLogPath());
        return RunPatchTool(toolPath, choice.patchPath, launcherFolder, choice.useLegacy, &toolExited);
    }();
    CloseLog();
    record.Write(result, WrittenLogPath());
    ReportRunEvent(record, result, toolExited, WrittenLogPath());
    return result;
}

}  // namespace orvane
