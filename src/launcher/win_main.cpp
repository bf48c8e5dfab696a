// The program's entry on Windows. The platform and launcher headers come before <windows.h>,
// whose macros (TRUE, MAX_PATH, ...) would otherwise rewrite the platform's constants.
#include "launcher/launch_sequence.h"
#include "platform/process.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL: the deployment folder we start from must never supply one.
    platform::RestrictDllSearchPath();
    // Nobody sits at the machine during an unattended run. A missing medium, a crash report or a
    // file that cannot be opened must fail the call that met it, not show a system dialog that
    // would hold the process (and the deployment waiting for it) until its time-out.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    return static_cast<int>(orvane::RunLaunchSequence());
}
