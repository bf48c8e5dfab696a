// Whole launches under injected faults.
//
// Refused memory: a run's string allocations are counted first, then each one is refused in
// turn. Counted as string allocations: on the runtime heap every block request of the strings'
// memory manager (a new block or a resize; DefaultMemMgr asks Reallocate first), on the general
// heap the string descriptors and the tool's version buffer. Out of memory stays out of memory
// (every later request fails too), so each run must end by the fatal stop, with the log holding
// the byte-order mark and whole messages of the normal run, nothing cut and nothing after.
//
// Failing platform calls: each call of a run fails in turn, and the run must end with the exit
// code and exactly the log lines that the outcome of that failure gives.
#include <signal.h>

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "launcher/launch_sequence.h"
#include "launcher/messages.h"
#include "platform/process.h"
#include "support/machine.h"
#include "support/named_case.h"

namespace orvane {
namespace {

using testing::Line;
using testing::LogOf;
using testing::TOOL_PATH;
using testing::UNINSTALL_KEY;

const std::u16string TOOL(TOOL_PATH);
const std::u16string FOUND = Line(msg::INSTALL_PATH_FOUND, testing::INSTALL_FOLDER);
const std::u16string WILL_RUN_CURRENT = Line(msg::WILL_RUN, TOOL, u" /encfile \"D:\\deploy\\patch.rkv\"");
const std::u16string WILL_RUN_LEGACY =
    Line(msg::WILL_RUN, TOOL, u" /encfile \"D:\\deploy\\patch.rkv.old\" /var scriptdir \"D:\\deploy\"");

/// The launcher beside both patch files with a legacy tool (6.0.1.0), so that the tool's version
/// is read and the legacy file chosen.
void VersionReadingMachine() {
    testing::TypicalMachine();
    sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
    sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x00010000);
}

/// The log's bytes as `lines` would leave them, with or without the byte-order mark.
std::string LogBytesOf(const std::vector<std::u16string>& lines, bool mark = true) {
    return LogOf(lines).substr(mark ? 0 : testing::BOM.size());
}

const std::vector<std::u16string> NORMAL = {FOUND, WILL_RUN_LEGACY, msg::TOOL_SUCCEEDED};
const std::vector<std::u16string> CURRENT_FILE = {FOUND, WILL_RUN_CURRENT, msg::TOOL_SUCCEEDED};

// ---- refused memory ------------------------------------------------------------------------

enum class Heap { Runtime, General };

struct RefusalCase {
    const char* name;
    Heap heap;
    void (*arrange)();
    std::vector<std::u16string> messages;  // of the normal run, in order
    int versionBufferRefusals;             // the one failure the run reports and goes on from
};
ORVANE_PRINT_BY_NAME(RefusalCase)

const RefusalCase REFUSAL_CASES[] = {
    {"RuntimeHeapTypical", Heap::Runtime, testing::TypicalMachine, CURRENT_FILE, 0},
    {"RuntimeHeapVersionRead", Heap::Runtime, VersionReadingMachine, NORMAL, 0},
    {"GeneralHeapTypical", Heap::General, testing::TypicalMachine, CURRENT_FILE, 0},
    {"GeneralHeapVersionRead", Heap::General, VersionReadingMachine, NORMAL, 1},
};

/// How many whole messages of the normal run the log holds (0 for the mark alone), or -1 when
/// there is no file yet; fails when the log is anything else.
::testing::AssertionResult CutAtAMessage(const std::vector<std::u16string>& messages, int& whole) {
    whole = -1;
    if (!sim::FileExists(testing::LOG_PATH)) return ::testing::AssertionSuccess();
    const std::string log = testing::LogBytes();
    for (std::size_t m = 0; m <= messages.size(); ++m) {
        if (log == LogBytesOf({messages.begin(), messages.begin() + static_cast<std::ptrdiff_t>(m)})) {
            whole = static_cast<int>(m);
            return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure() << "the log is not whole messages of the normal run: " << log;
}

/// The log of a run whose version buffer was refused: the found line, the refusal with its
/// error number, the fallback line; the next descriptor request then ends the run.
bool RefusedVersionBuffer(const std::string& log) {
    const std::string before = LogBytesOf({FOUND}) + sim::Utf8(Line(msg::MEMORY_ALLOCATION_FAILED));
    const std::string after = "\r\n" + LogBytesOf({msg::VERSION_DEFAULTING}, false);
    if (log.size() <= before.size() + after.size() || log.compare(0, before.size(), before) != 0 ||
        log.compare(log.size() - after.size(), after.size(), after) != 0) {
        return false;
    }
    const std::string number = log.substr(before.size(), log.size() - before.size() - after.size());
    return number.find_first_not_of("-0123456789") == std::string::npos;
}

int StringAllocations(Heap heap) {
    const sim::HeapCounts counts = sim::Heap();
    return heap == Heap::Runtime ? counts.runtimeAllocs + counts.runtimeReallocs : counts.generalAllocs;
}

/// Out of memory for blocks or for descriptors: the check that must stop the run.
platform::FatalSite RefusedSite(Heap heap) {
    return heap == Heap::Runtime ? platform::FatalSite::BlockAllocationFailed
                                 : platform::FatalSite::DescriptorAllocationFailed;
}

void Refuse(Heap heap, int k) {
    if (heap == Heap::Runtime) {
        sim::FailRuntimeAllocation(k);
    } else {
        sim::FailGeneralAllocation(k);
    }
}

class RefusedMemoryTest : public ::testing::TestWithParam<RefusalCase> {
protected:
    // The child must run in the parent's machine, whose files the parent reads afterwards: a
    // child that re-executed the test would set up a machine of its own.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }
};

TEST_P(RefusedMemoryTest, EveryRefusalEndsByTheFatalStopWithWholeLogLines) {
    const RefusalCase& run = GetParam();
    run.arrange();
    ASSERT_EQ(RunLaunchSequence(), 0u);
    ASSERT_EQ(testing::LogBytes(), LogBytesOf(run.messages));
    const int total = StringAllocations(run.heap);
    ASSERT_GT(total, 0);

    std::set<int> cuts;
    int refusedVersionBuffer = 0;
    for (int k = 1; k <= total; ++k) {
        run.arrange();
        EXPECT_EXIT(
            {
                Refuse(run.heap, k);
                RunLaunchSequence();
            },
            ::testing::KilledBySignal(SIGABRT), sim::FatalSiteName(RefusedSite(run.heap)))
            << "allocation " << k << " of " << total;
        if (RefusedVersionBuffer(testing::LogBytes())) {
            ++refusedVersionBuffer;
            continue;
        }
        int whole = -1;
        EXPECT_TRUE(CutAtAMessage(run.messages, whole)) << "allocation " << k << " of " << total;
        cuts.insert(whole);
    }
    // Strings are made before the log exists and after lines were written: the check saw both.
    EXPECT_GT(cuts.size(), 1u);
    EXPECT_EQ(refusedVersionBuffer, run.versionBufferRefusals);
}

ORVANE_NAMED_ROWS(Runs, RefusedMemoryTest, REFUSAL_CASES);

// ---- failing platform calls ----------------------------------------------------------------

constexpr const char16_t* DATA_LOG = u"C:\\Data\\Velmor\\Orvane.Launcher-1600000000-4242.txt";
constexpr platform::DWORD INJECTED = platform::ERROR_ACCESS_DENIED;

/// The version-reading machine with its common application-data folder in C:\Data, so that the
/// fixed fallback folder shows, run by a plain user, so that the folder check reads the token.
void CallProbeMachine() {
    VersionReadingMachine();
    sim::SetCommonAppData(u"C:\\Data");
    sim::SetProcessAccount(sim::Account::User);
}

enum class LogFile { Marked, Unmarked, Empty, Missing };

// What the probe machine's calls are made on, as the simulation's trace names it.
const std::u16string LOG_FOLDER = u"C:\\Data\\Velmor";
const std::u16string DATA_FOLDER = u"C:\\Data";
const std::u16string DRIVE_C = u"C:\\";
const std::u16string INSTALL_LOCATION = u"InstallLocation";
const std::u16string LAUNCHER = testing::LAUNCHER_PATH;
const std::u16string DEPLOY_FOLDER = u"D:\\deploy";
const std::u16string LEGACY_PATCH = u"D:\\deploy\\patch.rkv.old";
const std::u16string TOKEN = sim::TOKEN;
const std::u16string OWN_PROCESS = sim::OWN_PROCESS;
const std::u16string OWN_MODULE = sim::OWN_MODULE;
const std::u16string COMMON_APPDATA = sim::COMMON_APPDATA;

/// One call of the run, named by what it is made on and, among calls on that, its turn.
struct CallRow {
    const char* call;
    std::u16string on;
    int nth;
    LaunchResult result;
    std::vector<std::u16string> lines;
    LogFile log = LogFile::Marked;
    const char16_t* logPath = DATA_LOG;
    std::string name = "";  // the call, the letters and digits of what it is made on, its turn
};
ORVANE_PRINT_BY_NAME(CallRow)

std::vector<CallRow> CallRows() {
    const auto versionFailure = [](const char16_t* format) {
        return std::vector<std::u16string>{FOUND, Line(format, INJECTED), msg::VERSION_DEFAULTING, WILL_RUN_CURRENT,
                                           msg::TOOL_SUCCEEDED};
    };
    const auto ranThen = [](const std::u16string& last) {
        return std::vector<std::u16string>{FOUND, WILL_RUN_LEGACY, last};
    };
    return {
        // OpenLog: the folder, the run's rule, the folder's creation, the file and its mark.
        {"SHGetFolderPathW", COMMON_APPDATA, 1, 0, NORMAL, LogFile::Marked, testing::LOG_PATH},
        {"OpenProcessToken", TOKEN, 1, 0, NORMAL},  // an unread elevation counts as none: so it is
        {"GetTokenInformation", TOKEN, 1, 0, NORMAL},
        {"CloseHandle", TOKEN, 1, 0, NORMAL},
        {"PathFileExistsW", LOG_FOLDER, 1, 0, NORMAL},                        // missing anyway
        {"PathRemoveBackslashW", LOG_FOLDER, 1, 0, NORMAL},                   // none to remove
        {"PathRemoveFileSpecW", LOG_FOLDER, 1, 0, NORMAL, LogFile::Missing},  // no parent made: nor Velmor
        {"PathFileExistsW", DATA_FOLDER, 1, 0, NORMAL},                       // missing anyway
        {"PathRemoveBackslashW", DATA_FOLDER, 1, 0, NORMAL},
        {"PathRemoveFileSpecW", DATA_FOLDER, 1, 0, NORMAL},  // C:\ exists: C:\Data is made all the same
        {"PathFileExistsW", DRIVE_C, 1, 0, NORMAL},          // looks missing: making it fails, harmlessly
        {"CreateDirectoryW", DATA_FOLDER, 1, 0, NORMAL, LogFile::Missing},
        {"CreateDirectoryW", LOG_FOLDER, 1, 0, NORMAL, LogFile::Missing},
        // The folder is checked before the file: not known to be safe means no log. The file is
        // new: created in the checked folder, written to with no look at its start.
        {"CreateFileW", LOG_FOLDER, 1, 0, NORMAL, LogFile::Missing},
        {"GetFileInformationByHandle", LOG_FOLDER, 1, 0, NORMAL, LogFile::Missing},
        {"GetSecurityInfo", LOG_FOLDER, 1, 0, NORMAL, LogFile::Missing},
        {"OpenProcessToken", TOKEN, 2, 0, NORMAL, LogFile::Missing},
        {"GetTokenInformation", TOKEN, 2, 0, NORMAL, LogFile::Missing},
        {"CloseHandle", TOKEN, 2, 0, NORMAL},
        {"NtCreateFile", DATA_LOG, 1, 0, NORMAL, LogFile::Missing},
        {"WriteFileAtEnd", DATA_LOG, 1, 0, NORMAL, LogFile::Unmarked},  // the mark is lost
        {"CloseHandle", LOG_FOLDER, 1, 0, NORMAL},
        // The installation lookup.
        {"IsWow64Process", OWN_PROCESS, 1, 3, {msg::INSTALL_PATH_NOT_FOUND}},  // the 32-bit view has no entry
        {"RegOpenKeyExW", UNINSTALL_KEY, 1, 3, {msg::INSTALL_PATH_NOT_FOUND}},
        {"RegQueryValueExW", INSTALL_LOCATION, 1, 3, {msg::INSTALL_PATH_NOT_FOUND}},
        {"RegCloseKey", UNINSTALL_KEY, 1, 0, NORMAL},
        {"WriteFileAtEnd", DATA_LOG, 2, 0, {WILL_RUN_LEGACY, msg::TOOL_SUCCEEDED}},
        // The tool, the launcher's folder and the patch file.
        {"PathFileExistsW", TOOL, 1, 2, {FOUND, Line(msg::NOT_FOUND, TOOL)}},
        {"GetModuleFileNameW", OWN_MODULE, 1, 2, {FOUND, Line(msg::NOT_FOUND, u"patch.rkv")}},
        {"PathRemoveFileSpecW", LAUNCHER, 1, 2, {FOUND, Line(msg::NOT_FOUND, LAUNCHER + u"\\patch.rkv")}},
        {"PathAddBackslashW", DEPLOY_FOLDER, 1, 0, NORMAL},     // AppendPath adds the separator itself
        {"PathFileExistsW", LEGACY_PATCH, 1, 0, CURRENT_FILE},  // looks missing: the version is not read
        {"GetFileVersionInfoSizeW", TOOL, 1, 0, versionFailure(msg::VERSION_SIZE_FAILED)},
        {"GetFileVersionInfoW", TOOL, 1, 0, versionFailure(msg::VERSION_INFO_FAILED)},
        {"VerQueryValueW", TOOL, 1, 0, versionFailure(msg::VERSION_QUERY_FAILED)},
        {"PathFileExistsW", LEGACY_PATCH, 2, 2, {FOUND, Line(msg::NOT_FOUND, LEGACY_PATCH)}},  // chosen
        // The tool's run.
        {"WriteFileAtEnd", DATA_LOG, 3, 0, {FOUND, msg::TOOL_SUCCEEDED}},
        {"ShellExecuteExW", TOOL, 1, 5, ranThen(msg::COULD_NOT_RUN)},
        {"WaitForSingleObject", TOOL, 1, RESULT_WAIT_FAILED, ranThen(Line(msg::WAIT_RETURNED, u"-1"))},
        {"GetExitCodeProcess", TOOL, 1, RESULT_UNKNOWN, ranThen(Line(msg::EXIT_CODE_FAILED, INJECTED))},
        {"WriteFileAtEnd", DATA_LOG, 4, 0, {FOUND, WILL_RUN_LEGACY}},
        {"CloseHandle", TOOL, 1, 0, NORMAL},
        {"CloseHandle", DATA_LOG, 1, 0, NORMAL},  // the log, already flushed
    };
}

const std::u16string CURRENT_PATCH = u"D:\\deploy\\patch.rkv";
const std::u16string RECORD_KEY = u"SOFTWARE\\Velmor\\Orvane.Launcher";
const std::u16string SOURCE_KEY = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Orvane.Launcher";
const std::u16string PATCH_KEYS[] = {u"Patches\\A4895EB44AFC336FECBBA6E520CD67E178DACE0276655D102FCEFFA8E5F70570",
                                     u"Patches\\CBA06B5736FAF67E54B07B561EAE94395E774C517A7D910A54369E1263CCFBD4"};

/// The calls that hash the two patch files, write the run record (begun, then completed: under
/// each file's key and at the key itself) and report the event. Whichever fails, the run, its
/// exit code and its log stay as they are.
std::vector<CallRow> RecordRows() {
    std::vector<CallRow> rows;
    const auto add = [&rows](const char* call, const std::u16string& on, int times) {
        for (int nth = 1; nth <= times; ++nth) rows.push_back({call, on, nth, 0, NORMAL});
    };
    for (const std::u16string& patch : {CURRENT_PATCH, LEGACY_PATCH}) {
        add("CreateFileW", patch, 1);
        add("ReadFile", patch, 2);  // the content, then the end
        add("CloseHandle", patch, 1);
    }
    for (const char* call : {"CryptAcquireContextW", "CryptReleaseContext"}) add(call, sim::CRYPT_PROVIDER, 2);
    for (const char* call : {"CryptCreateHash", "CryptHashData", "CryptGetHashParam", "CryptDestroyHash"}) {
        add(call, sim::SHA256_HASH, 2);
    }
    const int writes = 2;  // begun before the tool, completed after it
    for (const std::u16string& key : {RECORD_KEY, PATCH_KEYS[0], PATCH_KEYS[1]}) {
        add("RegCreateKeyExW", key, writes);
        add("RegCloseKey", key, writes);
    }
    for (const char16_t* value :
         {u"ExitCode", u"Succeeded", u"PatchFile", u"ToolVersion", u"Time", u"Log", u"LauncherVersion"}) {
        add("RegSetValueExW", value, 3 * writes);
    }
    add("RegSetValueExW", u"LastPatchSha256", writes);
    add("RegCreateKeyExW", SOURCE_KEY, 1);
    add("RegCloseKey", SOURCE_KEY, 1);
    for (const char16_t* value : {u"EventMessageFile", u"TypesSupported", u"CustomSource"}) {
        add("RegSetValueExW", value, 1);
    }
    for (const char* call : {"RegisterEventSourceW", "ReportEventW", "DeregisterEventSource"}) {
        add(call, u"Orvane.Launcher", 1);
    }
    return rows;
}

std::vector<CallRow> AllRows() {
    std::vector<CallRow> rows = CallRows();
    const std::vector<CallRow> record = RecordRows();
    rows.insert(rows.end(), record.begin(), record.end());
    for (CallRow& row : rows) {
        row.name = std::string(row.call) + "_";
        for (const char16_t ch : row.on) {
            if (ch < 128 && std::isalnum(ch)) row.name += static_cast<char>(ch);
        }
        row.name += "_" + std::to_string(row.nth);
    }
    return rows;
}

/// Calls that cannot fail on Windows: a pseudo-handle, the process id, the clock, the last error,
/// questions about SIDs in memory the caller holds, freeing what the system handed out.
const std::set<std::string> CANNOT_FAIL = {"GetCurrentProcess", "GetCurrentProcessId", "GetSystemTimePreciseAsFileTime",
                                           "GetLastError",      "IsWellKnownSid",      "EqualSid",
                                           "LocalFree"};

using CallKey = std::tuple<std::string, std::u16string, int>;

std::string Show(const CallKey& key) {
    return std::get<0>(key) + " on \"" + sim::Utf8(std::get<1>(key)) + "\" #" + std::to_string(std::get<2>(key));
}

/// The traced calls that can fail, up to the first called `stop`, each with its turn among the
/// calls of its name on what it is made on.
std::vector<CallKey> FailableCalls(const std::string& stop = "") {
    std::vector<CallKey> calls;
    std::map<std::pair<std::string, std::u16string>, int> seen;
    for (const sim::TracedCall& traced : sim::Trace()) {
        if (traced.name == stop) break;
        if (CANNOT_FAIL.count(traced.name) == 0) {
            calls.emplace_back(traced.name, traced.on, ++seen[{traced.name, traced.on}]);
        }
    }
    return calls;
}

std::string Expected(const CallRow& row) {
    switch (row.log) {
        case LogFile::Marked: return LogBytesOf(row.lines);
        case LogFile::Unmarked: return LogBytesOf(row.lines, false);
        default: return "";
    }
}

TEST(CallRowsTest, EveryCallOfTheRunHasItsRow) {
    CallProbeMachine();
    RunLaunchSequence();
    const std::vector<CallKey> traced = FailableCalls();
    const std::set<CallKey> calls(traced.begin(), traced.end());
    std::set<CallKey> rows;
    for (const CallRow& row : AllRows()) rows.insert({row.call, row.on, row.nth});
    for (const CallKey& call : calls) EXPECT_EQ(rows.count(call), 1u) << "no row for " << Show(call);
    for (const CallKey& row : rows) EXPECT_EQ(calls.count(row), 1u) << "the run makes no call " << Show(row);
}

class FailingCallTest : public ::testing::TestWithParam<CallRow> {};

TEST_P(FailingCallTest, EndsWithItsExitCodeAndLog) {
    const CallRow& row = GetParam();
    CallProbeMachine();
    sim::FailCallOn(row.call, row.on, INJECTED, row.nth);
    EXPECT_EQ(RunLaunchSequence(), row.result);
    EXPECT_EQ(sim::FileExists(row.logPath), row.log != LogFile::Missing);
    EXPECT_EQ(sim::ReadFile(row.logPath), Expected(row));
    if (row.logPath != DATA_LOG) {
        EXPECT_FALSE(sim::FileExists(DATA_LOG));
    }
    EXPECT_EQ(sim::Heap().runtimeLive, 0);
    EXPECT_EQ(sim::Heap().generalLive, 0);
    EXPECT_EQ(sim::LiveSecurityDescriptors(), 0);
    const std::string call = row.call;
    const bool failedClose = call.find("Close") != std::string::npos || call.find("Release") != std::string::npos ||
                             call.find("Destroy") != std::string::npos || call == "DeregisterEventSource";
    if (!failedClose) {
        EXPECT_EQ(sim::OpenKeys(), 0);
        EXPECT_EQ(sim::OpenCryptHandles(), 0);
        EXPECT_EQ(sim::OpenEventSources(), 0);
    }
    // A close that fails leaves its handle open; every other path closes the token.
    EXPECT_EQ(sim::OpenTokens(), call == "CloseHandle" && row.on == TOKEN ? 1 : 0);
}

ORVANE_NAMED_ROWS(Calls, FailingCallTest, AllRows());

// ---- an elevated run that moves an untrusted folder aside ---------------------------------

// SYSTEM's run on a machine where another account made Velmor and left a file in it: every call
// of OpenLog fails in turn. Whatever fails, the run ends as usual, nothing is written into or
// through the other account's folder, the file it holds stays whole wherever the folder now is,
// and the Application event names exactly the file with the log, or none when there is none.
constexpr const char16_t* THEIR_VELMOR = u"C:\\ProgramData\\Velmor";
constexpr const char16_t* THEIR_ASIDE = u"C:\\ProgramData\\Velmor.untrusted-1600000000-4242";
const std::u16string THEIR_FILE = u"\\theirs.txt";
const std::u16string LOG_NAME = u"\\Orvane.Launcher-1600000000-4242.txt";

void ElevatedRunOverAnotherAccountsFolder() {
    testing::TypicalMachine();
    sim::MakeFolder(u"C:\\Windows\\Logs");
    sim::MakeFile(THEIR_VELMOR + THEIR_FILE, "theirs");
    sim::SetOwner(THEIR_VELMOR, sim::Account::OtherUser);
}

TEST(ElevatedFailingCallTest, EveryFailingCallOfAnElevatedRunThatMovesAFolderAsideLeavesTheLogWhereTheEventSays) {
    ElevatedRunOverAnotherAccountsFolder();
    RunLaunchSequence();
    ASSERT_EQ(testing::LogNamedByTheEvent(), THEIR_VELMOR + LOG_NAME);
    // OpenLog's calls: everything before the installation lookup's first.
    const std::vector<CallKey> calls = FailableCalls("IsWow64Process");
    ASSERT_GT(calls.size(), 15u);
    std::set<std::u16string> places;
    for (const CallKey& call : calls) {
        SCOPED_TRACE(Show(call));
        ElevatedRunOverAnotherAccountsFolder();
        sim::FailCallOn(std::get<0>(call), std::get<1>(call), INJECTED, std::get<2>(call));
        EXPECT_EQ(RunLaunchSequence(), 0u);
        const std::u16string named = testing::LogNamedByTheEvent();
        places.insert(named.substr(0, named.size() - std::min(named.size(), LOG_NAME.size())));
        if (!named.empty()) {
            const std::string log = sim::ReadFile(named);
            EXPECT_TRUE(log == LogBytesOf(CURRENT_FILE) || log == LogBytesOf(CURRENT_FILE, false));
        }
        for (const char16_t* folder : {THEIR_VELMOR, THEIR_ASIDE, u"C:\\Windows\\Logs\\Velmor"}) {
            if (folder + LOG_NAME != named) {
                EXPECT_FALSE(sim::FileExists(folder + LOG_NAME)) << "a log nobody names";
            }
        }
        EXPECT_NE(named, THEIR_ASIDE + LOG_NAME);
        EXPECT_TRUE(sim::ReadFile(THEIR_VELMOR + THEIR_FILE) == "theirs" ||
                    sim::ReadFile(THEIR_ASIDE + THEIR_FILE) == "theirs");
        EXPECT_EQ(sim::LiveSecurityDescriptors(), 0);
    }
    // The failures reach every place the log can go: the fresh folder, the fallback, none.
    EXPECT_EQ(places, (std::set<std::u16string>{u"", THEIR_VELMOR, u"C:\\Windows\\Logs\\Velmor"}));
}

}  // namespace
}  // namespace orvane
