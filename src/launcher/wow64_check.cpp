#include "launcher/wow64_check.h"

#include "platform/process.h"

namespace orvane {

bool UseRegistry64BitView() {
    platform::BOOL wow64 = platform::FALSE;
    return platform::IsWow64Process(platform::GetCurrentProcess(), &wow64) != 0 && wow64 == platform::TRUE;
}

}  // namespace orvane
