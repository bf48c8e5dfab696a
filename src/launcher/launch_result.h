// LaunchResult: the process exit code, which tells deployment systems what happened.
#pragma once

#include <cstdint>

namespace orvane {

using LaunchResult = std::uint32_t;

inline constexpr LaunchResult RESULT_SUCCESS = 0;
inline constexpr LaunchResult RESULT_FILE_MISSING = 2;      ///< the tool or the chosen patch file is missing
inline constexpr LaunchResult RESULT_NO_INSTALL = 3;        ///< no install folder
inline constexpr LaunchResult RESULT_START_FAILED = 5;      ///< the tool could not be started
inline constexpr LaunchResult RESULT_UNKNOWN = 0xFFFFFFFF;  ///< the tool's outcome is unknown
// The wait's own results, passed on as they are (WAIT_TIMEOUT and WAIT_FAILED).
inline constexpr LaunchResult RESULT_WAIT_TIMED_OUT = 258;      ///< the tool still ran after 100 minutes
inline constexpr LaunchResult RESULT_WAIT_FAILED = 0xFFFFFFFF;  ///< the wait itself failed
// Any other value is the tool's own exit code.

}  // namespace orvane
