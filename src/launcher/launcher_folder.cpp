#include "launcher/launcher_folder.h"

#include "platform/process.h"
#include "platform/shell.h"

namespace orvane {

void FindLauncherFolder(FixedPathString& launcherFolder) {
    const platform::DWORD size = launcherFolder.Capacity();
    const platform::DWORD n = platform::GetModuleFileNameW(nullptr, launcherFolder.WritableBuffer(), size);
    launcherFolder.Recount();
    // A result equal to the size means the path was cut short: its last element is not the
    // file name, so no folder is derived from it.
    if (n == 0 || n == size) return;
    const platform::BOOL removed = platform::PathRemoveFileSpecW(launcherFolder.WritableBuffer());
    launcherFolder.Recount();
    if (removed == 0) return;
    platform::PathAddBackslashW(launcherFolder.WritableBuffer());
    launcherFolder.Recount();
}

}  // namespace orvane
