#include "launcher/run_record.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "launcher/file_hash.h"
#include "launcher/launch_sequence.h"
#include "launcher/run_event.h"
#include "log/log_file.h"
#include "platform/eventlog.h"
#include "support/machine.h"
#include "support/named_case.h"

namespace orvane {
namespace {

using platform::DWORD;
using sim::View;
using testing::TOOL_PATH;

constexpr const char16_t* RECORD = u"SOFTWARE\\Velmor\\Orvane.Launcher";
// The SHA-256 of the test machines' patch files, as sha256sum gives them: "patch" and "old".
constexpr const char16_t* PATCH_HASH = u"A4895EB44AFC336FECBBA6E520CD67E178DACE0276655D102FCEFFA8E5F70570";
constexpr const char16_t* OLD_HASH = u"CBA06B5736FAF67E54B07B561EAE94395E774C517A7D910A54369E1263CCFBD4";
constexpr std::int64_t EPOCH_1970 = 116444736000000000;
constexpr std::int64_t TICKS_PER_SECOND = 10000000;

std::u16string PatchKey(const char16_t* hash) { return std::u16string(RECORD) + u"\\Patches\\" + hash; }

/// The record's values at `key` in the 64-bit view, as text for comparison.
struct Values {
    std::optional<DWORD> exitCode, succeeded;
    std::optional<std::u16string> patchFile, toolVersion, time, log, launcherVersion;
};
Values ValuesAt(const std::u16string& key) {
    return {sim::GetDword(View::Bit64, key, u"ExitCode"),        sim::GetDword(View::Bit64, key, u"Succeeded"),
            sim::GetString(View::Bit64, key, u"PatchFile"),      sim::GetString(View::Bit64, key, u"ToolVersion"),
            sim::GetString(View::Bit64, key, u"Time"),           sim::GetString(View::Bit64, key, u"Log"),
            sim::GetString(View::Bit64, key, u"LauncherVersion")};
}

void LegacyMachine() {
    testing::TypicalMachine();
    sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
    sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x000203E7);  // 6.0.2.999
}

// ---- Time as text --------------------------------------------------------------------------

struct TimeCase {
    const char* name;
    std::int64_t ticks;
    const char16_t* text;
};
ORVANE_PRINT_BY_NAME(TimeCase)

constexpr std::int64_t At1970(std::int64_t seconds) { return EPOCH_1970 + seconds * TICKS_PER_SECOND; }

const TimeCase TIME_CASES[] = {
    {"FiletimeZero", 0, u"1601-01-01T00:00:00Z"},
    {"UnixEpoch", At1970(0), u"1970-01-01T00:00:00Z"},
    {"LastSecondOfADay", At1970(86399) + 9999999, u"1970-01-01T23:59:59Z"},
    {"LeapDay2000", At1970(951782400), u"2000-02-29T00:00:00Z"},
    {"March2100NoLeapDay", At1970(4107542400), u"2100-03-01T00:00:00Z"},
    {"TheSimulatedClock", At1970(1600000000), u"2020-09-13T12:26:40Z"},
    {"NewYearsEve2026", At1970(1798761599), u"2026-12-31T23:59:59Z"},
};

class IsoTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(IsoTimeTest, GivesUtcToTheSecond) {
    char16_t text[ISO_TIME_UNITS];
    IsoTimeText(GetParam().ticks, text);
    EXPECT_EQ(std::u16string(text), GetParam().text);
}

ORVANE_NAMED_ROWS(Dates, IsoTimeTest, TIME_CASES);

// ---- The patch file's hash -----------------------------------------------------------------

struct HashCase {
    const char* name;
    std::string bytes;
    const char16_t* hash;
};
ORVANE_PRINT_BY_NAME(HashCase)

const HashCase HASH_CASES[] = {
    {"ZeroBytes", "", u"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
    {"ThreeMiB", std::string(3 * 1024 * 1024, 'a'),
     u"6F850BC94AE6F7DE14297C01616C36D712D22864497B28A63B81D776B035E656"},
};

class FileHashTest : public ::testing::TestWithParam<HashCase> {};

TEST_P(FileHashTest, StreamsTheFileThroughTheSystemsSha256) {
    sim::Reset();
    sim::MakeFile(u"D:\\patch.rkv", GetParam().bytes);
    char16_t hex[SHA256_TEXT_UNITS];
    ASSERT_TRUE(HashFile(u"D:\\patch.rkv", hex));
    EXPECT_EQ(std::u16string(hex), GetParam().hash);
    // Fixed-size pieces: the file never has to fit in memory.
    EXPECT_EQ(sim::HashDataSizes(), std::vector<DWORD>(GetParam().bytes.size() / HASH_PIECE_BYTES, HASH_PIECE_BYTES));
    EXPECT_EQ(sim::OpenCryptHandles(), 0);
    EXPECT_EQ(sim::Heap().generalAllocs + sim::Heap().runtimeAllocs, 0);
}

ORVANE_NAMED_ROWS(Files, FileHashTest, HASH_CASES);

TEST(FileHashRefusalTest, AFileOthersWriteOrThatIsMissingHasNoHash) {
    sim::Reset();
    char16_t hex[SHA256_TEXT_UNITS] = u"x";
    EXPECT_FALSE(HashFile(u"D:\\missing.rkv", hex));
    EXPECT_EQ(hex[0], 0);
    sim::MakeFile(u"D:\\patch.rkv", "patch");
    // A writer holds it open: the bytes could change under the hash.
    const platform::ScopedFile writer(platform::CreateFileW(u"D:\\patch.rkv", platform::GENERIC_WRITE,
                                                            platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                                            platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(writer.Holds());
    EXPECT_FALSE(HashFile(u"D:\\patch.rkv", hex));
}

// ---- The record of whole runs --------------------------------------------------------------

struct RunCase {
    const char* name;
    void (*arrange)();
    sim::ToolScript tool;
    LaunchResult result;
    DWORD succeeded;
    const char16_t* patchFile;             // at the key itself, and in each Patches key
    std::vector<const char16_t*> patches;  // the Patches keys, sorted
    const char16_t* lastHash;
    const char16_t* toolVersion;
    std::uint16_t eventId;
};
ORVANE_PRINT_BY_NAME(RunCase)

class RunRecordTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunRecordTest, RecordsTheOutcomeInThe64BitViewAndReportsOneEvent) {
    const RunCase& run = GetParam();
    run.arrange();
    sim::ScriptTool(run.tool);
    ASSERT_EQ(RunLaunchSequence(), run.result);

    const Values root = ValuesAt(RECORD);
    EXPECT_EQ(root.exitCode, run.result);
    EXPECT_EQ(root.succeeded, run.succeeded);
    EXPECT_EQ(root.patchFile, run.patchFile);
    EXPECT_EQ(root.toolVersion, run.toolVersion);
    EXPECT_EQ(root.time, u"2020-09-13T12:26:40Z");
    EXPECT_EQ(root.log, testing::LOG_PATH);
    EXPECT_EQ(root.launcherVersion, u"1.0.0.0");
    EXPECT_EQ(sim::GetString(View::Bit64, RECORD, u"LastPatchSha256"), run.lastHash);
    std::vector<std::u16string> patches(run.patches.begin(), run.patches.end());
    EXPECT_EQ(sim::SubKeys(View::Bit64, std::u16string(RECORD) + u"\\Patches"), patches);
    for (const char16_t* hash : run.patches) {
        const Values patch = ValuesAt(PatchKey(hash));
        EXPECT_EQ(patch.exitCode, run.result) << sim::Utf8(hash);
        EXPECT_EQ(patch.succeeded, run.succeeded) << sim::Utf8(hash);
        EXPECT_EQ(patch.patchFile, run.patchFile) << sim::Utf8(hash);
        EXPECT_EQ(patch.toolVersion, run.toolVersion) << sim::Utf8(hash);
        EXPECT_EQ(patch.log, root.log) << sim::Utf8(hash);
    }
    EXPECT_FALSE(sim::GetValue(View::Bit64, std::u16string(RECORD) + u"\\Patches", u"ExitCode").has_value())
        << "a file that was not hashed has no record";
    EXPECT_FALSE(sim::KeyExists(View::Bit32, u"SOFTWARE\\Velmor"));

    ASSERT_EQ(sim::Events().size(), 1u);
    const sim::Event& event = sim::Events()[0];
    EXPECT_EQ(event.source, u"Orvane.Launcher");
    EXPECT_EQ(event.eventId, run.eventId);
    EXPECT_EQ(event.type, run.succeeded ? platform::EVENTLOG_INFORMATION_TYPE : platform::EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(sim::OpenKeys(), 0);
    EXPECT_EQ(sim::OpenEventSources(), 0);
    EXPECT_EQ(sim::OpenCryptHandles(), 0);
}

constexpr const char16_t* CURRENT = u"D:\\deploy\\patch.rkv";
constexpr const char16_t* LEGACY = u"D:\\deploy\\patch.rkv.old";
constexpr auto Typical = testing::TypicalMachine;

void ToolElsewhere() {
    testing::TypicalMachine();
    sim::SetString(View::Bit64, testing::UNINSTALL_KEY, u"InstallLocation", u"C:\\Elsewhere");
}

// Chosen but missing: the file that is there still gets its record of the run.
void ChosenFileMissing() {
    LegacyMachine();
    sim::SetFileVersion(TOOL_PATH, 0x00070000, 0);
    sim::SetModuleFileName(u"D:\\other\\Orvane.Launcher.exe");
    sim::MakeFile(u"D:\\other\\patch.rkv.old", "old");
}

const RunCase RUN_CASES[] = {
    {"Typical", Typical, {}, 0, 1, CURRENT, {PATCH_HASH}, PATCH_HASH, u"", 100},
    {"LegacyRecordsBothFiles", LegacyMachine, {}, 0, 1, LEGACY, {PATCH_HASH, OLD_HASH}, OLD_HASH, u"6.0.2.999", 100},
    {"RestartRequired", Typical, {.exitCode = 3010}, 3010, 1, CURRENT, {PATCH_HASH}, PATCH_HASH, u"", 102},
    {"ToolFails", Typical, {.exitCode = 0xC0000005}, 0xC0000005, 0, CURRENT, {PATCH_HASH}, PATCH_HASH, u"", 200},
    // The tool's own 5 is no failed start: the exit code cannot tell them apart, the event does.
    {"ToolExitsWithTheLaunchersFive", Typical, {.exitCode = 5}, 5, 0, CURRENT, {PATCH_HASH}, PATCH_HASH, u"", 200},
    {"NotInstalled", sim::Reset, {}, 3, 0, u"", {}, u"", u"", 203},
    {"ToolMissingBeforeTheChoice", ToolElsewhere, {}, 2, 0, u"", {}, u"", u"", 202},
    {"ChosenFileMissing", ChosenFileMissing, {}, 2, 0, u"D:\\other\\patch.rkv", {OLD_HASH}, u"", u"7.0.0.0", 202},
    {"StartFails", Typical, {.startFails = true}, 5, 0, CURRENT, {PATCH_HASH}, PATCH_HASH, u"", 205},
    {"TimedOut", Typical, {.waitResult = 258}, 258, 0, CURRENT, {PATCH_HASH}, PATCH_HASH, u"", 258},
    {"WaitFails", Typical, {.waitResult = 0xFFFFFFFF}, 0xFFFFFFFF, 0, CURRENT, {PATCH_HASH}, PATCH_HASH, u"", 299},
};

ORVANE_NAMED_ROWS(Outcomes, RunRecordTest, RUN_CASES);

TEST(RunRecordLifeTest, WhileTheToolRunsTheRecordSaysStartedNeverSucceeded) {
    testing::TypicalMachine();
    std::optional<Values> during;
    sim::OnLaunch([&during] { during = ValuesAt(PatchKey(PATCH_HASH)); });
    ASSERT_EQ(RunLaunchSequence(), 0u);
    ASSERT_TRUE(during.has_value());
    EXPECT_EQ(during->exitCode, RESULT_STARTED);
    EXPECT_EQ(during->succeeded, 0u);
    EXPECT_EQ(sim::GetDword(View::Bit64, RECORD, u"ExitCode"), 0u) << "completed after the run";
}

TEST(RunRecordLifeTest, AFailedRerunOfTheSamePatchReplacesItsSuccess) {
    testing::TypicalMachine();
    ASSERT_EQ(RunLaunchSequence(), 0u);
    ASSERT_EQ(sim::GetDword(View::Bit64, PatchKey(PATCH_HASH), u"Succeeded"), 1u);
    sim::ScriptTool({.exitCode = 5});
    sim::SetProcessId(4343);
    ASSERT_EQ(RunLaunchSequence(), 5u);
    EXPECT_EQ(sim::GetDword(View::Bit64, PatchKey(PATCH_HASH), u"Succeeded"), 0u);
    EXPECT_EQ(sim::GetDword(View::Bit64, PatchKey(PATCH_HASH), u"ExitCode"), 5u);
    EXPECT_EQ(sim::GetString(View::Bit64, PatchKey(PATCH_HASH), u"Log"),
              u"C:\\ProgramData\\Velmor\\Orvane.Launcher-1600000000-4343.txt");
}

TEST(RunRecordLifeTest, ARunThatMayNotWriteHklmHasTheSameLogAndCodeAndNoRecord) {
    testing::TypicalMachine();
    ASSERT_EQ(RunLaunchSequence(), 0u);
    const std::string log = testing::LogBytes();
    testing::TypicalMachine();
    sim::DenyRegistryWrites(platform::ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunLaunchSequence(), 0u);
    EXPECT_EQ(testing::LogBytes(), log);
    EXPECT_FALSE(sim::KeyExists(View::Bit64, u"SOFTWARE\\Velmor"));
    EXPECT_FALSE(sim::KeyExists(View::Bit64, EVENT_SOURCE_KEY));
    ASSERT_EQ(sim::Events().size(), 1u) << "an unregistered source still logs";
    EXPECT_EQ(sim::OpenKeys(), 0);
}

TEST(RunRecordLifeTest, WithoutALogTheRecordNamesNone) {
    testing::TypicalMachine();
    // Neither the log folder nor the elevated run's fallback can be made.
    sim::DenyCreateDirectory(u"C:\\ProgramData\\Velmor", platform::ERROR_ACCESS_DENIED);
    sim::DenyCreateDirectory(u"C:\\Windows\\Logs\\Velmor", platform::ERROR_ACCESS_DENIED);
    ASSERT_EQ(RunLaunchSequence(), 0u);
    ASSERT_EQ(sim::WriteSizes().size(), 0u);
    EXPECT_EQ(sim::GetString(View::Bit64, RECORD, u"Log"), u"");
    EXPECT_EQ(sim::GetString(View::Bit64, PatchKey(PATCH_HASH), u"Log"), u"");
}

// ---- The event -----------------------------------------------------------------------------

TEST(RunEventTest, TextStartsWithTheCodeAndNamesPatchHashVersionAndLog) {
    LegacyMachine();
    sim::ScriptTool({.exitCode = 0xC0000005});
    ASSERT_EQ(RunLaunchSequence(), 0xC0000005u);
    ASSERT_EQ(sim::Events().size(), 1u);
    EXPECT_EQ(sim::Events()[0].text, std::u16string(u"Exit code -1073741819 (0xC0000005): the tool failed.\r\n"
                                                    u"Patch file: D:\\deploy\\patch.rkv.old\r\n"
                                                    u"SHA-256: ") +
                                         OLD_HASH + u"\r\nTool version: 6.0.2.999\r\nLog: " + testing::LOG_PATH);
}

TEST(RunEventTest, RegistersTheSourceOnceWithTheSystemsMessageFile) {
    testing::TypicalMachine();
    ASSERT_EQ(RunLaunchSequence(), 0u);
    const auto file = sim::GetValue(View::Bit64, EVENT_SOURCE_KEY, u"EventMessageFile");
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->type, platform::REG_EXPAND_SZ);
    EXPECT_EQ(sim::GetDword(View::Bit64, EVENT_SOURCE_KEY, u"TypesSupported"), 7u);
    EXPECT_EQ(sim::GetDword(View::Bit64, EVENT_SOURCE_KEY, u"CustomSource"), 1u);

    // A registration that is there already is the administrator's: left as it is.
    testing::TypicalMachine();
    sim::SetString(View::Bit64, EVENT_SOURCE_KEY, u"EventMessageFile", u"C:\\Custom\\messages.dll",
                   platform::REG_EXPAND_SZ);
    const auto custom = sim::GetValue(View::Bit64, EVENT_SOURCE_KEY, u"EventMessageFile");
    ASSERT_EQ(RunLaunchSequence(), 0u);
    EXPECT_EQ(sim::GetValue(View::Bit64, EVENT_SOURCE_KEY, u"EventMessageFile")->bytes, custom->bytes);
    EXPECT_FALSE(sim::GetValue(View::Bit64, EVENT_SOURCE_KEY, u"TypesSupported").has_value());
    EXPECT_EQ(sim::Events().size(), 1u);
}

}  // namespace
}  // namespace orvane
