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
// Any other value is the tool's own exit code, or 258 when the wait timed out.

}  // namespace orvane
