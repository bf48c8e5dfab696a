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
    FatalStop();
}

}  // namespace platform
