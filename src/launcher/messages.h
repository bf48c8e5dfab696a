// Every message the launcher writes, exactly as it appears in the log.
#pragma once

namespace orvane::msg {

inline constexpr const char16_t* INSTALL_PATH_NOT_FOUND = u"[ERROR] installation path not found!";
inline constexpr const char16_t* INSTALL_PATH_FOUND = u"[INFO] installation path found: %s";
inline constexpr const char16_t* NOT_FOUND = u"[ERROR] %s not found!";
inline constexpr const char16_t* VERSION_SIZE_FAILED = u"[ERROR] GetFileVersionInfoSize failed! GetLastError: %d";
inline constexpr const char16_t* MEMORY_ALLOCATION_FAILED = u"[ERROR] Memory allocation failed! GetLastError: %d";
inline constexpr const char16_t* VERSION_INFO_FAILED = u"[ERROR] GetFileVersionInfo failed! GetLastError: %d";
inline constexpr const char16_t* VERSION_QUERY_FAILED = u"[ERROR] VerQueryValue failed! GetLastError: %d";
inline constexpr const char16_t* VERSION_DEFAULTING =
    u"[ERROR] Could not read kestrun.exe fileversion, defaulting to new encryption method!";
inline constexpr const char16_t* WILL_RUN = u"[INFO] will run %s with parameters :\n\t %s";
inline constexpr const char16_t* COULD_NOT_RUN = u"[ERROR] kestrun.exe could not be run!";
inline constexpr const char16_t* WAIT_RETURNED = u"[ERROR] WaitForSingleObject returned %d";
inline constexpr const char16_t* TOOL_RETURNED = u"[ERROR] %s returned %d";
inline constexpr const char16_t* TOOL_SUCCEEDED = u"[INFO] kestrun.exe returned with ERROR_SUCCESS.";
inline constexpr const char16_t* EXIT_CODE_FAILED = u"[ERROR] GetExitCodeProcess failed! GetLastError: %d";

}  // namespace orvane::msg
