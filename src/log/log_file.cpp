#include "log/log_file.h"

#include "log/log_target.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "strings/plain_text.h"

namespace orvane {

LogStream* logStream = nullptr;

namespace {

constexpr std::int64_t TICKS_PER_SECOND = 10'000'000;
/// Seconds from 1601-01-01 to 1970-01-01 (116444736000000000 ticks).
constexpr std::int64_t EPOCH_DIFFERENCE_SECONDS = 11'644'473'600;

LogStream logStreamInstance;

// The log file's name around "-<seconds>-<pid>": "Orvane.Launcher" before, ".txt" after.
constexpr std::uint32_t NAME_PREFIX_UNITS = 15;
constexpr std::uint32_t NAME_SUFFIX_UNITS = 4;

// Looked up once at start-up, as the system offers it; tests look again with RefreshClockSource.
platform::SystemTimeFunction preciseClock = platform::FindGetSystemTimePreciseAsFileTime();

// Makes sure the log folder `path` exists and opens it checked into `folder` (OpenTrustedFolder).
// A run that is not elevated creates it with what its parent passes on and uses it only when
// `rule` trusts it. An elevated run creates it in one step with the security of `use`, so that no
// user can ever re-point, rename or take it over. A folder it may not write through (a user's, a
// link, a file, anything the rule refuses) is renamed to `aside`, when given, through the handle
// that was checked: the object itself moves, a link never leads the rename elsewhere, nothing
// existing is replaced, and what it holds stays as it was. A fresh folder takes its place, again
// in one step with its security; if the name was taken again since the move, that counts as
// untrusted too.
bool OpenLogFolder(const FixedPathString& path, OwnerRule rule, FolderUse use, const GuardedString* aside,
                   platform::ScopedFile& folder) {
    const bool elevated = rule == OwnerRule::Administrative;
    FolderSecurity security(elevated ? use : FolderUse::Inherited);
    if (elevated && security.Attributes() == nullptr) {
        return false;
    }
    const FolderState state = EnsureDirectory(path, security.Attributes());
    if (OpenTrustedFolder(path.Text(), rule, elevated && state == FolderState::Created, folder)) {
        return true;
    }
    const bool moved = elevated && aside != nullptr && folder.Holds() &&
                       platform::SetFileInformationByHandle(folder.Get(), aside->Text());
    folder.Close();
    return moved && platform::CreateDirectoryW(path.Text(), security.Attributes()) &&
           OpenTrustedFolder(path.Text(), rule, true, folder);
}

}  // namespace

FixedPathString& LogPath() {
    static FixedPathString logPath;
    return logPath;
}

const char16_t* WrittenLogPath() { return logStream != nullptr ? LogPath().Text() : u""; }

void SecondsText(std::int64_t fileTimeTicks, GuardedString& out) {
    // (ticks - epoch) / 10^7 taken apart into whole seconds and a remainder, so that no input
    // overflows. A negative remainder comes only with negative ticks, where both parts already
    // truncate toward zero; a positive one after a negative difference moves it one toward zero.
    const std::int64_t remainder = fileTimeTicks % TICKS_PER_SECOND;
    std::int64_t seconds = fileTimeTicks / TICKS_PER_SECOND - EPOCH_DIFFERENCE_SECONDS;
    if (seconds < 0 && remainder > 0) {
        ++seconds;
    }

    char16_t digits[DECIMAL_UNITS];
    WriteDecimal(seconds, digits);
    out.Assign(digits);
}

std::int64_t ReadSystemTimeTicks() {
    platform::FILETIME now{};
    if (preciseClock != nullptr) {
        preciseClock(&now);
    } else {
        platform::GetSystemTimeAsFileTime(&now);
    }
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

void RefreshClockSource() { preciseClock = platform::FindGetSystemTimePreciseAsFileTime(); }

void OpenLog() {
    FixedPathString& logPath = LogPath();
    char16_t commonFolder[platform::MAX_PATH];
    if (platform::SHGetFolderPathW(nullptr, platform::CSIDL_COMMON_APPDATA, nullptr, 0, commonFolder) ==
        platform::S_OK) {
        // The folder is read as a C string: it must end inside the array whatever the call left.
        commonFolder[platform::MAX_PATH - 1] = 0;
        {
            const FixedPathString folder(commonFolder);
            logPath.Assign(folder);
        }
        logPath.AppendPath(u"Velmor");
    } else {
        const FixedPathString folder(u"C:\\ProgramData\\Velmor");
        logPath.Assign(folder);
    }

    GuardedString seconds;
    SecondsText(ReadSystemTimeTicks(), seconds);
    const platform::DWORD processId = platform::GetCurrentProcessId();
    GuardedString fileName;
    fileName.Format(u"Orvane.Launcher-%s-%d.txt", seconds.Text(), processId);

    const OwnerRule rule = RuleOfThisRun();
    // First the name an untrusted log folder is moved aside to, "Velmor.untrusted-<seconds>-<pid>",
    // then the fallback folder.
    FixedPathString other(logPath);
    other.Append(u".untrusted");
    other.Append(fileName.Text() + NAME_PREFIX_UNITS, fileName.Length() - NAME_PREFIX_UNITS - NAME_SUFFIX_UNITS);
    platform::ScopedFile folder;
    // A folder that cannot be made, or one that others could have turned against the machine and
    // that the run cannot set aside, shows only as a log that is not opened.
    bool open = OpenLogFolder(logPath, rule, FolderUse::Log, &other, folder);
    logPath.AppendPath(fileName.Text());
    open = open && logStreamInstance.Open(folder.Get(), fileName.Text(), rule);
    // Nothing a user plants makes an elevated run lose its log: what it refused stays as it is, and
    // the log goes to "Logs\Velmor" in the Windows folder, where standard users can create nothing,
    // so no name there can have been taken by one of them.
    if (!open && rule == OwnerRule::Administrative) {
        const std::uint32_t room = other.Capacity();
        const platform::UINT length = platform::GetSystemWindowsDirectoryW(other.WritableBuffer(), room);
        other.Recount();
        open = length != 0 && length < room && other.AppendPath(u"Logs\\Velmor") &&
               OpenLogFolder(other, rule, FolderUse::Fallback, nullptr, folder) &&
               logStreamInstance.Open(folder.Get(), fileName.Text(), rule);
        if (open) {
            logPath.Assign(other);
            logPath.AppendPath(fileName.Text());
        }
    }
    logStream = open ? &logStreamInstance : nullptr;
}

FolderState EnsureDirectory(const FixedPathString& path, platform::SECURITY_ATTRIBUTES* security) {
    if (platform::PathFileExistsW(path.Text())) {
        return FolderState::Existing;
    }
    FixedPathString parent(path);
    platform::PathRemoveBackslashW(parent.WritableBuffer());
    parent.Recount();
    const platform::BOOL removed = platform::PathRemoveFileSpecW(parent.WritableBuffer());
    parent.Recount();
    // The length test keeps the recursion finite even if a root were reported as shortened.
    if (removed && parent.Length() < path.Length()) {
        EnsureDirectory(parent);
    }
    if (platform::CreateDirectoryW(path.Text(), security)) {
        return FolderState::Created;
    }
    return platform::GetLastError() == platform::ERROR_ALREADY_EXISTS ? FolderState::Existing : FolderState::Missing;
}

void CloseLog() {
    if (logStream != nullptr) {
        logStream->Close();
    }
}

}  // namespace orvane
