// The log folder and file of a run: OpenLog, EnsureDirectory, CloseLog, and the process-wide
// log stream and log path.
#pragma once

#include "log/log_stream.h"
#include "platform/filesystem.h"
#include "strings/fixed_path_string.h"

namespace orvane {

/// The open log stream, or null when OpenLog could not open the file. Set once by OpenLog.
extern LogStream* logStream;

/// The log's path: empty, then the folder, then (from the file name on) the file. Built at its
/// first use, destroyed at process exit. The launcher makes that first use right after building
/// its constant strings, which gives the path its place among them (launcher/process_objects.cpp).
FixedPathString& LogPath();

/// The path of the log file this run writes, or the empty text when it writes none.
const char16_t* WrittenLogPath();

/// Puts the log folder into LogPath() (the common application-data folder with "Velmor", or
/// "C:\ProgramData\Velmor"), creates it, appends "Orvane.Launcher-<seconds>-<pid>.txt" and opens
/// the file, in a folder the run's OwnerRule trusts (OpenTrustedFolder). An elevated run creates
/// the folder with its security descriptor; it moves an untrusted one aside to
/// "Velmor.untrusted-<seconds>-<pid>" beside it (never replacing anything) and creates a fresh one;
/// and when that fails too, or the log's name is taken by a file it may not use, it writes the log
/// in "<Windows>\Logs\Velmor" instead, and LogPath() then names that file. Reports nothing: on
/// failure `logStream` stays null.
void OpenLog();

/// What EnsureDirectory found: nothing usable, something of that name already there (a file or
/// a folder), or a folder it created itself.
enum class FolderState : std::uint8_t { Missing, Existing, Created };

/// Makes sure a file or folder `path` exists, creating missing parents first (with what their
/// parents pass on) and `path` itself with `security` (null: what its parent passes on).
FolderState EnsureDirectory(const FixedPathString& path, platform::SECURITY_ATTRIBUTES* security = nullptr);

/// Flushes and closes the log. Does nothing when the stream is absent.
void CloseLog();

/// Seconds since 1970 of a FILETIME, truncated toward zero, as decimal text ("-1" before 1970).
void SecondsText(std::int64_t fileTimeTicks, GuardedString& out);

/// Reads the system time with the precise clock when the system has it. The function is
/// looked up once, at process start; RefreshClockSource looks again (for tests).
std::int64_t ReadSystemTimeTicks();
void RefreshClockSource();

}  // namespace orvane
