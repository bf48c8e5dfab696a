#include "launcher/launch_sequence.h"

#include <gtest/gtest.h>

#include "launcher/messages.h"
#include "support/machine.h"

namespace orvane {
namespace {

using testing::INSTALL_FOLDER;
using testing::LogBytes;
using testing::LogOf;
using testing::TOOL_PATH;
using testing::UNINSTALL_KEY;

const std::u16string FOUND = std::u16string(u"[INFO] installation path found: ") + INSTALL_FOLDER;
const std::u16string WILL_RUN =
    std::u16string(u"[INFO] will run ") + TOOL_PATH + u" with parameters :\n\t  /encfile \"D:\\deploy\\patch.rkv\"";

class LaunchSequenceTest : public ::testing::Test {
protected:
    void SetUp() override { testing::TypicalMachine(); }
};

TEST_F(LaunchSequenceTest, TypicalRunWritesTheExactLog) {
    EXPECT_EQ(RunLaunchSequence(), 0u);
    EXPECT_EQ(LogBytes(),
              "\xEF\xBB\xBF"
              "[INFO] installation path found: C:\\Program Files\\Product\\\r\n"
              "[INFO] will run C:\\Program Files\\Product\\installer\\kestrun.exe with parameters :\r\n"
              "\t  /encfile \"D:\\deploy\\patch.rkv\"\r\n"
              "[INFO] kestrun.exe returned with ERROR_SUCCESS.\r\n");
    ASSERT_EQ(sim::Launches().size(), 1u);
    EXPECT_EQ(sim::Launches()[0].directory, u"D:\\deploy");
    EXPECT_EQ(sim::VersionSizeCalls(), 0);
    EXPECT_EQ(sim::Heap().runtimeLive, 0) << "every local string is released";
    EXPECT_EQ(sim::Heap().generalLive, 0);
}

TEST_F(LaunchSequenceTest, OutcomeTable) {
    struct Row {
        const char* outcome;
        void (*arrange)();
        LaunchResult result;
        std::initializer_list<std::u16string> lines;
    };
    const std::u16string tool(TOOL_PATH);
    const std::u16string sizeFailed = u"[ERROR] GetFileVersionInfoSize failed! GetLastError: 1812";
    const Row rows[] = {
        {"no install folder", [] { sim::Reset(); }, 3, {msg::INSTALL_PATH_NOT_FOUND}},
        {"empty install folder",
         [] { sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u""); },
         3,
         {msg::INSTALL_PATH_NOT_FOUND}},
        {"tool missing",
         [] { sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\Elsewhere"); },
         2,
         {u"[INFO] installation path found: C:\\Elsewhere",
          u"[ERROR] C:\\Elsewhere\\installer\\kestrun.exe not found!"}},
        {"patch missing",
         [] { sim::SetModuleFileName(u"D:\\x\\l.exe"); },
         2,
         {FOUND, u"[ERROR] D:\\x\\patch.rkv not found!"}},
        {"only the legacy file, tool without version",
         [] {
             sim::SetModuleFileName(u"D:\\old\\l.exe");
             sim::MakeFile(u"D:\\old\\patch.rkv.old");
         },
         2,
         {FOUND, sizeFailed, msg::VERSION_DEFAULTING, u"[ERROR] D:\\old\\patch.rkv not found!"}},
        {"start fails", [] { sim::ScriptTool({.startFails = true}); }, 5, {FOUND, WILL_RUN, msg::COULD_NOT_RUN}},
        {"time-out",
         [] { sim::ScriptTool({.waitResult = 258}); },
         258,
         {FOUND, WILL_RUN, u"[ERROR] WaitForSingleObject returned 258"}},
        {"wait fails",
         [] { sim::ScriptTool({.waitResult = 0xFFFFFFFF}); },
         0xFFFFFFFF,
         {FOUND, WILL_RUN, u"[ERROR] WaitForSingleObject returned -1"}},
        {"tool fails",
         [] { sim::ScriptTool({.exitCode = 0xC0000005}); },
         0xC0000005,
         {FOUND, WILL_RUN, u"[ERROR] " + tool + u" returned -1073741819"}},
        // A program without longPathAware gets paths of 260 characters or more refused: the tool
        // of a deep install folder looks missing, though it is there.
        {"install folder too deep",
         [] {
             const std::u16string deep = u"C:\\" + std::u16string(200, u'p') + u"\\" + std::u16string(40, u'q');
             sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", deep);
             sim::MakeFile(deep + u"\\installer\\kestrun.exe", "MZ");
         },
         2,
         {u"[INFO] installation path found: C:\\" + std::u16string(200, u'p') + u"\\" + std::u16string(40, u'q'),
          u"[ERROR] C:\\" + std::u16string(200, u'p') + u"\\" + std::u16string(40, u'q') +
              u"\\installer\\kestrun.exe not found!"}},
        {"legacy file present, version unreadable, tool succeeds",
         [] { sim::MakeFile(u"D:\\deploy\\patch.rkv.old"); },
         0,
         {FOUND, sizeFailed, msg::VERSION_DEFAULTING, WILL_RUN, msg::TOOL_SUCCEEDED}},
    };
    for (const Row& row : rows) {
        testing::TypicalMachine();
        row.arrange();
        EXPECT_EQ(RunLaunchSequence(), row.result) << row.outcome;
        EXPECT_EQ(LogBytes(), LogOf(row.lines)) << row.outcome;
        EXPECT_EQ(sim::OpenProcessHandles(), 0) << row.outcome;
        EXPECT_EQ(sim::Heap().runtimeLive, 0) << row.outcome;
    }
}

TEST_F(LaunchSequenceTest, Wow64AnswerPicksTheRegistryView) {
    struct Row {
        bool fails;
        platform::BOOL flag;
        platform::DWORD access;
    };
    for (const Row& row : {Row{true, 1, 0x0001}, Row{false, 0, 0x0001}, Row{false, 1, 0x0101}, Row{false, 2, 0x0001}}) {
        testing::TypicalMachine();
        sim::SetWow64Answer(row.fails, row.flag);
        RunLaunchSequence();
        ASSERT_EQ(sim::RegistryOpens().size(), 1u);
        EXPECT_EQ(sim::RegistryOpens()[0].access, row.access) << row.fails << " " << row.flag;
    }
}

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
    EXPECT_EQ(LogBytes(), LogOf({FOUND, u"[ERROR] " + cut + u"\\patch.rkv not found!"}));
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
