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

TEST_F(LaunchSequenceTest, TypicalRunWritesTheExactLog) {
    EXPECT_EQ(RunLaunchSequence(), 0u);
    EXPECT_EQ(LogBytes(), LogOf({FOUND, WILL_RUN, msg::TOOL_SUCCEEDED}));
    ASSERT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::Launches()[0].directory, u"D:\\deploy");
    EXPECT_EQ(sim::VersionSizeCalls(), 0);
    EXPECT_EQ(sim::Heap().runtimeLive, 0) << "every local string is released";
    EXPECT_EQ(sim::Heap().generalLive, 0);
}

// How the run ends before the tool runs; the tool's own outcomes are RunPatchTool's table.
struct OutcomeCase {
    const char* name;
    void (*arrange)();
    LaunchResult result;
    std::vector<std::u16string> lines;
};
ORVANE_PRINT_BY_NAME(OutcomeCase)

const std::u16string DEEP_FOLDER = u"C:\\" + std::u16string(200, u'p') + u"\\" + std::u16string(40, u'q');
const std::u16string SIZE_FAILED = Line(msg::VERSION_SIZE_FAILED, u"1812");

const OutcomeCase OUTCOME_CASES[] = {
    {"NoInstallFolder", [] { sim::Reset(); }, 3, {msg::INSTALL_PATH_NOT_FOUND}},
    {"EmptyInstallFolder",
     [] { sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u""); },
     3,
     {msg::INSTALL_PATH_NOT_FOUND}},
    {"ToolMissing",
     [] { sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\Elsewhere"); },
     2,
     {Line(msg::INSTALL_PATH_FOUND, u"C:\\Elsewhere"), Line(msg::NOT_FOUND, u"C:\\Elsewhere\\installer\\kestrun.exe")}},
    {"PatchMissing",
     [] { sim::SetModuleFileName(u"D:\\x\\l.exe"); },
     2,
     {FOUND, Line(msg::NOT_FOUND, u"D:\\x\\patch.rkv")}},
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
         sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", DEEP_FOLDER);
         sim::MakeFile(DEEP_FOLDER + u"\\installer\\kestrun.exe", "MZ");
     },
     2,
     {Line(msg::INSTALL_PATH_FOUND, DEEP_FOLDER), Line(msg::NOT_FOUND, DEEP_FOLDER + u"\\installer\\kestrun.exe")}},
    {"LegacyFilePresentVersionUnreadableToolSucceeds",
     [] { sim::MakeFile(u"D:\\deploy\\patch.rkv.old"); },
     0,
     {FOUND, SIZE_FAILED, msg::VERSION_DEFAULTING, WILL_RUN, msg::TOOL_SUCCEEDED}},
};

class LaunchOutcomeTest : public LaunchSequenceTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(LaunchOutcomeTest, EndsWithItsCodeAndLog) {
    GetParam().arrange();
    EXPECT_EQ(RunLaunchSequence(), GetParam().result);
    EXPECT_EQ(LogBytes(), LogOf(GetParam().lines));
    EXPECT_EQ(sim::OpenProcessHandles(), 0);
    EXPECT_EQ(sim::Heap().runtimeLive, 0);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, LaunchOutcomeTest, ::testing::ValuesIn(OUTCOME_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

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

INSTANTIATE_TEST_SUITE_P(Answers, Wow64ViewTest, ::testing::ValuesIn(WOW64_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LaunchSequenceTest, LegacyToolGetsTheOldFileAndTheScriptFolder) {
    sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
    sim::SetFileVersion(TOOL_PATH, 0x00060006, 0x001100FD);
    EXPECT_EQ(RunLaunchSequence(), 0u);
    ASSERT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::Launches()[0].parameters, u" /encfile \"D:\\deploy\\patch.rkv.old\" /var scriptdir \"D:\\deploy\"");
}

TEST_F(LaunchSequenceTest, LauncherInADriveRoot) {
    sim::MakeDrive(u'E');
    sim::SetModuleFileName(u"E:\\Orvane.Launcher.exe");
    sim::MakeFile(u"E:\\patch.rkv", "p");
    sim::MakeFile(u"E:\\patch.rkv.old", "p");
    sim::SetFileVersion(TOOL_PATH, 0x00060000, 0x00010000);
    EXPECT_EQ(RunLaunchSequence(), 0u);
    ASSERT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::Launches()[0].directory, u"E:");
    EXPECT_EQ(sim::Launches()[0].parameters, u" /encfile \"E:\\patch.rkv.old\" /var scriptdir \"E:\"");
}

TEST_F(LaunchSequenceTest, CutShortModulePathDerivesNoFolder) {
    const std::u16string longPath = u"D:\\" + std::u16string(300, u'd') + u"\\Orvane.Launcher.exe";
    sim::SetModuleFileName(longPath);
    EXPECT_EQ(RunLaunchSequence(), 2u);
    const std::u16string cut = longPath.substr(0, 259);
    EXPECT_EQ(LogBytes(), LogOf({FOUND, Line(msg::NOT_FOUND, cut + u"\\patch.rkv")}));
    EXPECT_TRUE(sim::Launches().empty());
}

TEST_F(LaunchSequenceTest, FailedModulePathLooksForBareNamesInTheCurrentFolder) {
    sim::FailModuleFileName(platform::ERROR_ACCESS_DENIED);
    sim::SetCurrentFolder(u"D:\\deploy");
    EXPECT_EQ(RunLaunchSequence(), 0u);
    ASSERT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::Launches()[0].parameters, u" /encfile \"patch.rkv\"");
    EXPECT_EQ(sim::Launches()[0].directory, u"");
}

TEST_F(LaunchSequenceTest, InstallFolderWithoutTrailingBackslash) {
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\Program Files\\Product");
    EXPECT_EQ(RunLaunchSequence(), 0u);
    ASSERT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::Launches()[0].file, TOOL_PATH);
}

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
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\\U0001F600\\");
    sim::MakeFile(u"C:\\\U0001F600\\installer\\kestrun.exe", "MZ");
    EXPECT_EQ(RunLaunchSequence(), 0u);
    EXPECT_NE(LogBytes().find("C:\\\xF0\x9F\x98\x80\\\r\n"), std::string::npos);
}

}  // namespace
}  // namespace orvane
