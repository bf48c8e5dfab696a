#include "launcher/launch_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/messages.h"
#include "support/machine.h"
#include "support/named_case.h"

namespace orvane {
namespace {

using testing::INSTALL_FOLDER;
using testing::Line;
using testing::LogBytes;
using testing::LogOf;
using testing::TOOL_PATH;
using testing::UNINSTALL_KEY;

const std::u16string FOUND = Line(msg::INSTALL_PATH_FOUND, INSTALL_FOLDER);
const std::u16string WILL_RUN = Line(msg::WILL_RUN, TOOL_PATH, u" /encfile \"D:\\deploy\\patch.rkv\"");

class LaunchSequenceTest : public ::testing::Test {
protected:
    void SetUp() override { testing::TypicalMachine(); }
};

// How a run ends: its code, its log and, when the tool started, the folder it started in.
struct OutcomeCase {
    const char* name;
    void (*arrange)();
    LaunchResult result;
    std::vector<std::u16string> lines;
    const char16_t* directory = nullptr;  // no launch
};
ORVANE_PRINT_BY_NAME(OutcomeCase)

const std::u16string DEEP_FOLDER = u"C:\\" + std::u16string(200, u'p') + u"\\" + std::u16string(40, u'q');
const std::u16string LONG_MODULE = u"D:\\" + std::u16string(300, u'd') + u"\\Orvane.Launcher.exe";
const std::u16string SIZE_FAILED = Line(msg::VERSION_SIZE_FAILED, u"1812");
const std::u16string LEGACY_PARAMETERS = u" /encfile \"D:\\deploy\\patch.rkv.old\" /var scriptdir \"D:\\deploy\"";

void SetInstallLocation(const std::u16string& folder) {
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", folder);
}

const OutcomeCase OUTCOME_CASES[] = {
    {"Typical", [] {}, 0, {FOUND, WILL_RUN, msg::TOOL_SUCCEEDED}, u"D:\\deploy"},
    {"NoInstallFolder", [] { sim::Reset(); }, 3, {msg::INSTALL_PATH_NOT_FOUND}},
    {"EmptyInstallFolder", [] { SetInstallLocation(u""); }, 3, {msg::INSTALL_PATH_NOT_FOUND}},
    {"ToolMissing",
     [] { SetInstallLocation(u"C:\\Elsewhere"); },
     2,
     {Line(msg::INSTALL_PATH_FOUND, u"C:\\Elsewhere"), Line(msg::NOT_FOUND, u"C:\\Elsewhere\\installer\\kestrun.exe")}},
    {"InstallFolderWithoutTrailingBackslash",
     [] { SetInstallLocation(u"C:\\Program Files\\Product"); },
     0,
     {Line(msg::INSTALL_PATH_FOUND, u"C:\\Program Files\\Product"), WILL_RUN, msg::TOOL_SUCCEEDED},
     u"D:\\deploy"},
    {"PatchMissing",
     [] { sim::SetModuleFileName(u"D:\\x\\l.exe"); },
     2,
     {FOUND, Line(msg::NOT_FOUND, u"D:\\x\\patch.rkv")}},
    // The module's path cut short by the buffer has no folder to take.
    {"CutShortModulePath",
     [] { sim::SetModuleFileName(LONG_MODULE); },
     2,
     {FOUND, Line(msg::NOT_FOUND, LONG_MODULE.substr(0, 259) + u"\\patch.rkv")}},
    {"FailedModulePathLooksForBareNamesInTheCurrentFolder",
     [] {
         sim::FailModuleFileName(platform::ERROR_ACCESS_DENIED);
         sim::SetCurrentFolder(u"D:\\deploy");
     },
     0,
     {FOUND, Line(msg::WILL_RUN, TOOL_PATH, u" /encfile \"patch.rkv\""), msg::TOOL_SUCCEEDED},
     u""},
    {"OnlyTheLegacyFileAndToolWithoutVersion",
     [] {
         sim::SetModuleFileName(u"D:\\old\\l.exe");
         sim::MakeFile(u"D:\\old\\patch.rkv.old");
     },
     2,
     {FOUND, SIZE_FAILED, msg::VERSION_DEFAULTING, Line(msg::NOT_FOUND, u"D:\\old\\patch.rkv")}},
    // A program without longPathAware gets paths of 260 characters or more refused: the tool
    // of a deep install folder looks missing, though it is there.
    {"InstallFolderTooDeep",
     [] {
         SetInstallLocation(DEEP_FOLDER);
         sim::MakeFile(DEEP_FOLDER + u"\\installer\\kestrun.exe", "MZ");
     },
     2,
     {Line(msg::INSTALL_PATH_FOUND, DEEP_FOLDER), Line(msg::NOT_FOUND, DEEP_FOLDER + u"\\installer\\kestrun.exe")}},
    {"LegacyToolGetsTheOldFileAndTheScriptFolder",
     [] {
         sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
         sim::SetFileVersion(TOOL_PATH, 0x00060006, 0x001100FD);
     },
     0,
     {FOUND, Line(msg::WILL_RUN, TOOL_PATH, LEGACY_PARAMETERS), msg::TOOL_SUCCEEDED},
     u"D:\\deploy"},
    {"LauncherInADriveRoot",
     [] {
         sim::MakeDrive(u'E');
         sim::SetModuleFileName(u"E:\\Orvane.Launcher.exe");
         sim::MakeFile(u"E:\\patch.rkv", "p");
         sim::MakeFile(u"E:\\patch.rkv.old", "p");
         sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x00010000);
     },
     0,
     {FOUND, Line(msg::WILL_RUN, TOOL_PATH, u" /encfile \"E:\\patch.rkv.old\" /var scriptdir \"E:\""),
      msg::TOOL_SUCCEEDED},
     u"E:"},
};

class LaunchOutcomeTest : public LaunchSequenceTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(LaunchOutcomeTest, EndsWithItsCodeAndLog) {
    const OutcomeCase& row = GetParam();
    row.arrange();
    EXPECT_EQ(RunLaunchSequence(), row.result);
    EXPECT_EQ(LogBytes(), LogOf(row.lines));
    ASSERT_EQ(sim::Launches().size(), row.directory != nullptr ? 1u : 0u);
    if (row.directory != nullptr) {
        EXPECT_EQ(sim::Launches()[0].directory, row.directory);
    }
    EXPECT_EQ(sim::OpenProcessHandles(), 0);
    EXPECT_EQ(sim::Heap().runtimeLive, 0) << "every local string is released";
    EXPECT_EQ(sim::Heap().generalLive, 0);
}

ORVANE_NAMED_ROWS(Outcomes, LaunchOutcomeTest, OUTCOME_CASES);

struct Wow64Case {
    const char* name;
    bool fails;
    platform::BOOL flag;
    platform::DWORD access;
};
ORVANE_PRINT_BY_NAME(Wow64Case)

const Wow64Case WOW64_CASES[] = {
    {"CallFails", true, 1, 0x0001},
    {"NotUnderWow64", false, 0, 0x0001},
    {"UnderWow64", false, 1, 0x0101},
    {"FlagOtherThanOneIsNotWow64", false, 2, 0x0001},
};

class Wow64ViewTest : public LaunchSequenceTest, public ::testing::WithParamInterface<Wow64Case> {};

TEST_P(Wow64ViewTest, AnswerPicksTheRegistryView) {
    sim::SetWow64Answer(GetParam().fails, GetParam().flag);
    RunLaunchSequence();
    ASSERT_EQ(sim::RegistryOpens().size(), 1u);
    EXPECT_EQ(sim::RegistryOpens()[0].access, GetParam().access);
}

ORVANE_NAMED_ROWS(Answers, Wow64ViewTest, WOW64_CASES);

// The heap use a run is known by, pinned: a string more, or a block that is no longer reserved
// before it is filled, shows here before it shows in the benchmarks.
struct HeapUseCase {
    const char* name;
    void (*arrange)();
    int blockRequests;  // runtime allocations and resizes
    int descriptors;    // general allocations: descriptors, and the version's buffer
};
ORVANE_PRINT_BY_NAME(HeapUseCase)

const HeapUseCase HEAP_USE_CASES[] = {
    {"Typical", [] {}, 8, 7},
    {"VersionRead",
     [] {
         sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
         sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x00010000);
     },
     10, 10},
};

class LaunchHeapUseTest : public LaunchSequenceTest, public ::testing::WithParamInterface<HeapUseCase> {};

TEST_P(LaunchHeapUseTest, BlockRequestsAndDescriptorsOfOneRun) {
    GetParam().arrange();
    EXPECT_EQ(RunLaunchSequence(), 0u);
    const sim::HeapCounts heap = sim::Heap();
    EXPECT_EQ(heap.runtimeAllocs + heap.runtimeReallocs, GetParam().blockRequests);
    EXPECT_EQ(heap.generalAllocs, GetParam().descriptors);
}

ORVANE_NAMED_ROWS(Runs, LaunchHeapUseTest, HEAP_USE_CASES);

TEST_F(LaunchSequenceTest, LogFolderTooDeepToCreateSendsTheLogToTheFallback) {
    const std::u16string deep = u"C:\\" + std::u16string(200, u'a') + u"\\" + std::u16string(44, u'b');
    sim::MakeFolder(deep);
    sim::SetCommonAppData(deep);  // with "\\Velmor" 255 characters: beyond what a new folder may have
    EXPECT_EQ(RunLaunchSequence(), 0u);
    EXPECT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::ListFolder(deep), std::vector<std::u16string>{});
    EXPECT_EQ(sim::DirectoryCalls().front().error, 206u);
    EXPECT_EQ(sim::ReadFile(u"C:\\Windows\\Logs\\Velmor\\Orvane.Launcher-1600000000-4242.txt"),
              LogOf({FOUND, WILL_RUN, msg::TOOL_SUCCEEDED}));
}

TEST_F(LaunchSequenceTest, RunWithoutALogStillEndsWithTheRightCode) {
    sim::SetProcessAccount(sim::Account::User);  // not elevated: leaves what it may not use alone
    sim::MakeFile(u"C:\\ProgramData\\Velmor", "a file, not a folder");
    sim::ScriptTool({.exitCode = 42});
    EXPECT_EQ(RunLaunchSequence(), 42u);
    EXPECT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::ReadFile(u"C:\\ProgramData\\Velmor"), "a file, not a folder");
}

TEST_F(LaunchSequenceTest, CharactersOutsideTheBasicPlaneReachTheLogAsFourBytes) {
    SetInstallLocation(u"C:\\\U0001F600\\");
    sim::MakeFile(u"C:\\\U0001F600\\installer\\kestrun.exe", "MZ");
    EXPECT_EQ(RunLaunchSequence(), 0u);
    EXPECT_NE(LogBytes().find("C:\\\xF0\x9F\x98\x80\\\r\n"), std::string::npos);
}

}  // namespace
}  // namespace orvane
