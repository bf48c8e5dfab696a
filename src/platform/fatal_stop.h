// The fatal stop: the one way the process ends when an invariant is broken. A header of its own,
// so that the string type, which every file includes, sees nothing else of the platform.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

/// The exit code of the fatal stop on Windows (STATUS_STACK_BUFFER_OVERRUN, as __fastfail gives).
inline constexpr DWORD FATAL_STOP_EXIT_CODE = 0xC0000409;

/// The check that ended the process by the fatal stop, one per kind of broken invariant.
enum class FatalSite : std::uint8_t {
    GuardBroken = 1,             ///< a guard word of a string's block differs from GUARD_WORD
    LengthBeyondCapacity,        ///< a length about to be set exceeds the block's capacity
    IndexBeyondCapacity,         ///< a character index about to be read or written exceeds it
    LengthOverflow,              ///< a length would not fit in 32 bits
    BlockAllocationFailed,       ///< the memory manager gave no block (Reserve failed)
    DescriptorAllocationFailed,  ///< the general heap gave no string descriptor
    ScanPastBlock,               ///< a scan for the terminator found none inside the block
    FormatMeasureFailed,         ///< the formatter could not count a text
    FormatPrintFailed,           ///< the formatter printed other than it counted
};

/// Ends the process at once: no window, no unwinding, no destructor, no exit handler, no log
/// line. Windows: `site` is left in a process global for a crash dump, exit code 0xC0000409.
/// The simulation: aborts with "sim: fatal stop: <site name>" on stderr.
[[noreturn]] void FatalStop(FatalSite site);

}  // namespace platform
