// Breaks a string's trailing guard on purpose, to show what the fatal stop does to a real process.
//
//   fatal_stop_probe
//
// A GUI program like the launcher, built from the same string and log code and the same
// platform layer. It opens the real log (OpenLog: C:\ProgramData\Velmor\Orvane.Launcher-<s>-<pid>.txt),
// writes FIRST_LINE, overruns a FixedPathString's inline block by two characters, as an
// operating-system call that ignored the size it was given would, and lets Recount find the
// damage. SECOND_LINE is written only if the process survived that, which it must not: the
// expected end is the exit code 0xC0000409 at once, no window, and a log that holds the
// byte-order mark and FIRST_LINE only.

#include <cstdint>

#include "log/log_file.h"
#include "log/log_write.h"
#include "platform/process.h"
#include "strings/fixed_path_string.h"

#include <windows.h>

namespace {

constexpr const char16_t* FIRST_LINE = u"[INFO] fatal stop probe: the guard is intact";
constexpr const char16_t* SECOND_LINE = u"[ERROR] fatal stop probe: still running after the guard broke";

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    platform::RestrictDllSearchPath();
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);

    orvane::OpenLog();
    orvane::LogWrite(FIRST_LINE);

    orvane::FixedPathString victim;
    char16_t* slots = victim.WritableBuffer();
    // Capacity() characters fill the block, one more takes the terminator slot, and the last one
    // lands on the trailing guard, which still lies inside the object.
    const std::uint32_t count = victim.Capacity() + 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        slots[i] = u'x';
    }
    victim.Recount();

    orvane::LogWrite(SECOND_LINE);
    orvane::CloseLog();
    return 0;
}
