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

// Looked up once at start-up, as the system offers it; tests look again with RefreshClockSource.
platform::SystemTimeFunction preciseClock = platform::FindGetSystemTimePreciseAsFileTime();

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

    // A folder that cannot be made shows only as a failed open below; one that others could
    // have turned against the machine is treated the same way.
    EnsureDirectory(logPath);
    const bool trusted = IsTrustedFolder(logPath.Text());
    logPath.AppendPath(fileName.Text());

    logStream = trusted && logStreamInstance.Open(logPath.Text()) ? &logStreamInstance : nullptr;
}

bool EnsureDirectory(const FixedPathString& path) {
    if (platform::PathFileExistsW(path.Text())) {
        return true;
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
    if (platform::CreateDirectoryW(path.Text(), nullptr)) {
        return true;
    }
    return platform::GetLastError() == platform::ERROR_ALREADY_EXISTS;
}

void CloseLog() {
    if (logStream != nullptr) {
        logStream->Close();
    }
}

}  // namespace orvane
