#include "launcher/run_record.h"

#include <cstring>

#include "launcher/process_objects.h"
#include "launcher/registry_write.h"
#include "launcher/run_outcome.h"
#include "log/log_file.h"
#include "orvane_version.h"
#include "platform/owners.h"
#include "strings/plain_text.h"

namespace orvane {

namespace {

constexpr const char16_t* RECORD_KEY = u"SOFTWARE\\Velmor\\Orvane.Launcher";
constexpr const char16_t* PATCHES_KEY = u"Patches\\";
constexpr std::uint32_t PATCHES_KEY_UNITS = 8;
constexpr const char16_t* LAUNCHER_VERSION = u"" ORVANE_VERSION_TEXT;

constexpr std::uint64_t TICKS_PER_SECOND = 10'000'000;
constexpr std::uint64_t SECONDS_PER_DAY = 86'400;

/// Writes `value` with at least `width` digits (zeros in front); returns the next free slot.
char16_t* PutNumber(char16_t* out, std::int64_t value, std::uint32_t width) {
    char16_t digits[DECIMAL_UNITS];
    const std::uint32_t n = WriteDecimal(value, digits);
    for (std::uint32_t i = n; i < width; ++i) *out++ = u'0';
    for (std::uint32_t i = 0; i < n; ++i) *out++ = digits[i];
    return out;
}

struct RecordValues {
    LaunchResult result;
    const char16_t* patchFile;
    const char16_t* toolVersion;
    const char16_t* time;
    const char16_t* logPath;
};

void SetValues(platform::HKEY key, const RecordValues& values) {
    SetNumberValue(key, u"ExitCode", values.result);
    SetNumberValue(key, u"Succeeded", OutcomeOf(values.result, true).succeeded ? 1 : 0);
    SetTextValue(key, u"PatchFile", values.patchFile);
    SetTextValue(key, u"ToolVersion", values.toolVersion);
    SetTextValue(key, u"Time", values.time);
    SetTextValue(key, u"Log", values.logPath);
    SetTextValue(key, u"LauncherVersion", LAUNCHER_VERSION);
}

}  // namespace

void IsoTimeText(std::int64_t fileTimeTicks, char16_t (&out)[ISO_TIME_UNITS]) {
    // FILETIME counts from 1601-01-01, the start of a 400-year Gregorian cycle. Days become a
    // civil date by the usual era arithmetic on years that start in March, so that the leap day
    // comes last; every number from here on fits in 32 bits.
    const std::uint64_t seconds = fileTimeTicks < 0 ? 0 : static_cast<std::uint64_t>(fileTimeTicks) / TICKS_PER_SECOND;
    const auto secondOfDay = static_cast<std::uint32_t>(seconds % SECONDS_PER_DAY);
    const auto days = static_cast<std::uint32_t>(seconds / SECONDS_PER_DAY) + 584'694;  // from 0000-03-01
    const std::uint32_t era = days / 146'097;
    const std::uint32_t dayOfEra = days - era * 146'097;
    const std::uint32_t yearOfEra = (dayOfEra - dayOfEra / 1'460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint32_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const std::uint32_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const std::uint32_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const std::uint32_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    const std::uint32_t fields[] = {year, month, day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60};
    constexpr char16_t AFTER[] = u"--T::Z";
    char16_t* at = out;
    for (std::uint32_t i = 0; i < 6; ++i) {
        at = PutNumber(at, fields[i], i == 0 ? 4 : 2);
        *at++ = AFTER[i];
    }
    *at = 0;
}

RunRecord::RunRecord(bool use64BitView) : use64BitView(use64BitView) {}

void RunRecord::NotePatches(const FixedPathString& launcherFolder, const PatchChoice& choice) {
    patchFile.Assign(choice.patchPath);
    if (choice.versionRead) {
        const ToolVersion& v = choice.version;
        char16_t* at = PutNumber(toolVersion, v.major, 1);
        *at++ = u'.';
        at = PutNumber(at, v.minor, 1);
        *at++ = u'.';
        at = PutNumber(at, v.build, 1);
        *at++ = u'.';
        at = PutNumber(at, v.revision, 1);
        *at = 0;
    }
    const GuardedString* names[PATCH_FILES] = {&PATCH_FILE_NAME, &LEGACY_PATCH_FILE_NAME};
    for (int i = 0; i < PATCH_FILES; ++i) {
        FixedPathString path(launcherFolder);
        path.AppendPath(names[i]->Text());
        // The hash names exactly the file the tool is handed: it is taken now, before the tool
        // starts, and a tool still running after the wait may hold the file.
        if (HashFile(path.Text(), hashes[i]) && choice.useLegacy == (i == 1)) chosen = i;
    }
}

const char16_t* RunRecord::PatchHash() const { return chosen >= 0 ? hashes[chosen] : u""; }

void RunRecord::Write(LaunchResult result, const char16_t* logPath) const {
    const platform::DWORD view = use64BitView ? platform::KEY_WOW64_64KEY : 0;
    const platform::DWORD access = platform::KEY_SET_VALUE | platform::KEY_CREATE_SUB_KEY | view;
    platform::ScopedKey record;
    platform::DWORD disposition = 0;
    // Created with the security HKLM\SOFTWARE passes on: administrators and SYSTEM write, users
    // read. A run without that right (a standard user's, or a double-click under UAC) has no
    // record.
    if (platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE, RECORD_KEY, access, record.Receive(), &disposition) !=
        0) {
        return;
    }
    char16_t time[ISO_TIME_UNITS];
    IsoTimeText(ReadSystemTimeTicks(), time);
    const RecordValues values{result, patchFile.Text(), toolVersion, time, logPath};
    for (const auto& hash : hashes) {
        if (hash[0] == 0) continue;
        char16_t subKey[PATCHES_KEY_UNITS + SHA256_TEXT_UNITS];
        std::memcpy(subKey, PATCHES_KEY, PATCHES_KEY_UNITS * sizeof(char16_t));
        std::memcpy(subKey + PATCHES_KEY_UNITS, hash, sizeof hash);
        platform::ScopedKey patch;
        if (platform::RegCreateKeyExW(record.Get(), subKey, platform::KEY_SET_VALUE | view, patch.Receive(),
                                      &disposition) == 0) {
            SetValues(patch.Get(), values);
        }
    }
    SetValues(record.Get(), values);
    SetTextValue(record.Get(), u"LastPatchSha256", PatchHash());
}

}  // namespace orvane
