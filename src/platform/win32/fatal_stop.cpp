#include "platform/fatal_stop.h"
#include "platform/win32/windows_api.h"

namespace {

// What a crash dump of a stopped process shows. The binary is stripped, so the site sits behind
// a marker that a search of the dump's memory finds; volatile keeps the store ahead of the stop.
struct FatalStopRecord {
    char marker[20];
    platform::DWORD site;
};
volatile FatalStopRecord fatalStopRecord = {"Orvane fatal stop:", 0};

}  // namespace

namespace platform {

[[noreturn]] void FatalStop(FatalSite site) {
    fatalStopRecord.site = static_cast<DWORD>(site);
    // TerminateProcess on ourselves stops every thread on the spot on all Windows from 6.0:
    // no unwinding, no exit handlers, no error-reporting window. The C runtime's abort() would
    // show a dialog in a GUI program and exit with 3, which callers would read as one of our own
    // exit codes; __fastfail exists only from Windows 8. The status is the one __fastfail and
    // the stack-cookie checks end a process with, so it reads as "stopped on corrupted memory".
    static_assert(FATAL_STOP_EXIT_CODE == STATUS_STACK_BUFFER_OVERRUN);
    ::TerminateProcess(::GetCurrentProcess(), FATAL_STOP_EXIT_CODE);
    // Not reached; should it ever be, an invalid instruction still ends the process.
    __builtin_trap();
}

}  // namespace platform
