#include "log/log_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "launcher/launch_sequence.h"
#include "launcher/messages.h"
#include "log/log_write.h"
#include "platform/filesystem.h"
#include "platform/owners.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/sim/sim.h"
#include "support/log_fixture.h"
#include "support/machine.h"
#include "support/named_case.h"

namespace orvane {
namespace {

using platform::DWORD;

constexpr std::int64_t EPOCH_1970 = 116444736000000000;
constexpr std::int64_t TICKS_PER_SECOND = 10000000;
using testing::BOM;
constexpr const char16_t* PROGRAM_DATA = u"C:\\ProgramData";
constexpr const char16_t* VELMOR = u"C:\\ProgramData\\Velmor";
constexpr const char16_t* ASIDE = u"C:\\ProgramData\\Velmor.untrusted-1600000000-4242";
constexpr const char16_t* FALLBACK = u"C:\\Windows\\Logs\\Velmor";
constexpr const char16_t* SHARED = u"C:\\Shared";
const std::u16string DEFAULT_NAME = u"Orvane.Launcher-1600000000-4242.txt";
const std::u16string DEFAULT_LOG = testing::LOG_PATH;

std::vector<std::u16string> DirectoryPaths() {
    std::vector<std::u16string> paths;
    for (const sim::DirectoryCall& call : sim::DirectoryCalls()) {
        paths.push_back(call.path);
    }
    return paths;
}

class LogFileTest : public testing::LogFixture {
protected:
    static std::u16string LogPath() { return orvane::LogPath().Text(); }
};

struct SecondsCase {
    const char* name;
    std::int64_t ticks;
    const char16_t* text;
};
ORVANE_PRINT_BY_NAME(SecondsCase)

const SecondsCase SECONDS_CASES[] = {
    {"Epoch", EPOCH_1970, u"0"},
    {"LastTickOfFirstSecond", EPOCH_1970 + TICKS_PER_SECOND - 1, u"0"},
    {"OneTickBeforeEpoch", EPOCH_1970 - 1, u"0"},
    {"JustUnderOneSecondBeforeEpoch", EPOCH_1970 - TICKS_PER_SECOND + 1, u"0"},
    {"OneSecondBeforeEpoch", EPOCH_1970 - TICKS_PER_SECOND, u"-1"},
    {"OneAndHalfSecondsBeforeEpoch", EPOCH_1970 - 3 * TICKS_PER_SECOND / 2, u"-1"},
    {"Typical", EPOCH_1970 + 1600000000 * TICKS_PER_SECOND, u"1600000000"},
    {"BeyondInt32", EPOCH_1970 + 2147483648LL * TICKS_PER_SECOND, u"2147483648"},
    {"Year1601", 0, u"-11644473600"},
    {"BeforeYear1601", -TICKS_PER_SECOND / 2, u"-11644473600"},
    {"LargestTicks", std::numeric_limits<std::int64_t>::max(), u"910692730085"},
    {"SmallestTicks", std::numeric_limits<std::int64_t>::min(), u"-933981677285"},
};

class SecondsTextTest : public LogFileTest, public ::testing::WithParamInterface<SecondsCase> {};

TEST_P(SecondsTextTest, TruncatesTowardZero) {
    GuardedString text;
    SecondsText(GetParam().ticks, text);
    EXPECT_EQ(std::u16string(text.Text()), GetParam().text);
}

ORVANE_NAMED_ROWS(Ticks, SecondsTextTest, SECONDS_CASES);

struct NameCase {
    const char* name;
    bool preciseClock;  // the system offers its precise clock
    std::int64_t ticks;
    DWORD processId;
    const char16_t* fileName;
};
ORVANE_PRINT_BY_NAME(NameCase)

const NameCase NAME_CASES[] = {
    {"ClockBeforeEpoch", true, EPOCH_1970 - 3 * TICKS_PER_SECOND / 2, 4242, u"Orvane.Launcher--1-4242.txt"},
    {"LargeTime", true, EPOCH_1970 + 32503680000LL * TICKS_PER_SECOND, 7, u"Orvane.Launcher-32503680000-7.txt"},
    {"PlainClock", false, EPOCH_1970 + 42 * TICKS_PER_SECOND, 4242, u"Orvane.Launcher-42-4242.txt"},
    {"ProcessIdZero", true, EPOCH_1970, 0, u"Orvane.Launcher-0-0.txt"},
    {"ProcessIdTopBitSet", true, EPOCH_1970, 0x80000000, u"Orvane.Launcher-0--2147483648.txt"},
    {"ProcessIdAllBits", true, EPOCH_1970, 0xFFFFFFFF, u"Orvane.Launcher-0--1.txt"},
};

class LogFileNameTest : public LogFileTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(LogFileNameTest, NamesFileBySecondsOfTheClockOfferedAndProcessId) {
    sim::SetPreciseClockAvailable(GetParam().preciseClock);
    RefreshClockSource();
    sim::SetSystemTime(GetParam().ticks);
    sim::SetProcessId(GetParam().processId);
    OpenLog();

    EXPECT_EQ(LogPath(), std::u16string(VELMOR) + u"\\" + GetParam().fileName);
    EXPECT_EQ(OnDisk(), BOM);
    EXPECT_EQ(sim::PreciseClockReads(), GetParam().preciseClock ? 1 : 0);
    EXPECT_EQ(sim::PlainClockReads(), GetParam().preciseClock ? 0 : 1);
}

ORVANE_NAMED_ROWS(Names, LogFileNameTest, NAME_CASES);

// ---- Log folder ----------------------------------------------------------------------------

struct FolderCase {
    const char* name;
    const char16_t* commonAppData;  // what the shell reports when it succeeds
    platform::HRESULT shellResult;
    std::vector<std::u16string> existingFolders;
    const char16_t* folder;
    std::vector<std::u16string> created;
};
ORVANE_PRINT_BY_NAME(FolderCase)

// A failing shell must not lead to a folder that exists elsewhere.
const FolderCase FOLDER_CASES[] = {
    {"CommonFolderExists", PROGRAM_DATA, 0, {PROGRAM_DATA}, VELMOR, {VELMOR}},
    {"VelmorExists", PROGRAM_DATA, 0, {VELMOR}, VELMOR, {}},
    {"CommonFolderMissing", PROGRAM_DATA, 0, {}, VELMOR, {PROGRAM_DATA, VELMOR}},
    {"CommonFolderElsewhereAndDeep",
     u"C:\\S\\D",
     0,
     {},
     u"C:\\S\\D\\Velmor",
     {u"C:\\S", u"C:\\S\\D", u"C:\\S\\D\\Velmor"}},
    {"CommonFolderIsDriveRoot", u"C:\\", 0, {}, u"C:\\Velmor", {u"C:\\Velmor"}},
    {"ShellFailsFixedFolderParentExists", SHARED, platform::E_FAIL, {PROGRAM_DATA, SHARED}, VELMOR, {VELMOR}},
    {"ShellFailsFixedFolderParentMissing", SHARED, platform::E_FAIL, {SHARED}, VELMOR, {PROGRAM_DATA, VELMOR}},
    {"ShellReturnsSFalse", SHARED, 1, {PROGRAM_DATA}, VELMOR, {VELMOR}},
};

class LogFolderTest : public LogFileTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(LogFolderTest, PlacesLogInVelmorFolder) {
    const FolderCase& c = GetParam();
    sim::SetCommonAppData(c.commonAppData);
    if (c.shellResult != 0) sim::FailCommonAppData(c.shellResult);
    for (const std::u16string& folder : c.existingFolders) sim::MakeFolder(folder);

    OpenLog();

    EXPECT_EQ(LogPath(), c.folder + (u"\\" + DEFAULT_NAME));
    EXPECT_EQ(DirectoryPaths(), c.created);
    ASSERT_NE(logStream, nullptr);
    EXPECT_EQ(OnDisk(), BOM);
}

ORVANE_NAMED_ROWS(Folders, LogFolderTest, FOLDER_CASES);

// The shell's answer is read as a C string, so it ends inside the buffer whatever the shell left.
TEST_F(LogFileTest, AnUnterminatedShellFolderEndsAtTheBuffersLastCharacter) {
    const std::u16string kept = u"C:\\" + std::u16string(256, u'd');
    sim::SetCommonAppDataUnterminated(kept + u"e");
    sim::SetProcessAccount(sim::Account::User);  // an elevated run would name its fallback instead
    OpenLog();
    EXPECT_EQ(LogPath(), kept + u"\\Velmor\\" + DEFAULT_NAME);
}

struct EnsureCase {
    const char* name;
    std::u16string path;
    std::vector<std::u16string> existingFolders;
    std::optional<std::u16string> deniedFolder;
    DWORD deniedError;
    FolderState result;
    std::vector<std::u16string> created;
};
ORVANE_PRINT_BY_NAME(EnsureCase)

using enum FolderState;

const EnsureCase ENSURE_CASES[] = {
    {"FolderExists", u"C:\\a", {u"C:\\a"}, std::nullopt, 0, Existing, {}},
    {"ParentsFirst", u"C:\\a\\b\\c", {}, std::nullopt, 0, Created, {u"C:\\a", u"C:\\a\\b", u"C:\\a\\b\\c"}},
    {"OnlyMissingPart", u"C:\\a\\b\\c", {u"C:\\a"}, std::nullopt, 0, Created, {u"C:\\a\\b", u"C:\\a\\b\\c"}},
    {"TrailingBackslash", u"C:\\a\\b\\", {}, std::nullopt, 0, Created, {u"C:\\a", u"C:\\a\\b\\"}},
    {"CreatedMeanwhile", u"C:\\a", {}, u"C:\\a", platform::ERROR_ALREADY_EXISTS, Existing, {u"C:\\a"}},
    {"AccessDenied", u"C:\\a", {}, u"C:\\a", platform::ERROR_ACCESS_DENIED, Missing, {u"C:\\a"}},
    {"ParentDenied", u"C:\\a\\b", {}, u"C:\\a", platform::ERROR_ACCESS_DENIED, Missing, {u"C:\\a", u"C:\\a\\b"}},
    {"MissingDrive", u"Q:\\logs", {}, std::nullopt, 0, Missing, {u"Q:\\", u"Q:\\logs"}},
};

class EnsureDirectoryTest : public LogFileTest, public ::testing::WithParamInterface<EnsureCase> {};

TEST_P(EnsureDirectoryTest, CreatesMissingFoldersParentFirst) {
    const EnsureCase& c = GetParam();
    for (const std::u16string& folder : c.existingFolders) sim::MakeFolder(folder);
    if (c.deniedFolder) sim::DenyCreateDirectory(*c.deniedFolder, c.deniedError);

    EXPECT_EQ(EnsureDirectory(FixedPathString(c.path.c_str())), c.result);
    EXPECT_EQ(DirectoryPaths(), c.created);
}

ORVANE_NAMED_ROWS(Paths, EnsureDirectoryTest, ENSURE_CASES);

TEST_F(LogFileTest, AFileAtTheFolderNameCountsAsExisting) {
    sim::MakeFile(VELMOR, "not a folder");
    EXPECT_EQ(EnsureDirectory(FixedPathString(VELMOR)), FolderState::Existing);
    EXPECT_TRUE(sim::DirectoryCalls().empty());
}

struct ExistingCase {
    const char* name;
    std::string before;
    std::string after;
};
ORVANE_PRINT_BY_NAME(ExistingCase)

const std::string NOT_FOUND_LINE = testing::LogOf({msg::INSTALL_PATH_NOT_FOUND}).substr(3);

const ExistingCase EXISTING_CASES[] = {
    {"WithMark", BOM + "earlier\r\n", BOM + "earlier\r\n" + NOT_FOUND_LINE},
    {"Empty", "", BOM + NOT_FOUND_LINE},
    {"Utf16BigEndianIsNotOpened", "\xFE\xFF", "\xFE\xFF"},
};

class LogExistingFileTest : public LogFileTest, public ::testing::WithParamInterface<ExistingCase> {};

TEST_P(LogExistingFileTest, AppendsAfterContent) {
    sim::MakeFile(DEFAULT_LOG, GetParam().before);
    OpenLog();
    LogWrite(msg::INSTALL_PATH_NOT_FOUND);
    CloseLog();
    EXPECT_EQ(sim::ReadFile(DEFAULT_LOG), GetParam().after);
}

ORVANE_NAMED_ROWS(Files, LogExistingFileTest, EXISTING_CASES);

constexpr const char16_t* TARGET = u"C:\\Windows\\target.ini";
const std::string TARGET_BYTES = "[settings]\r\n";
constexpr const char16_t* RECORD_KEY = u"SOFTWARE\\Velmor\\Orvane.Launcher";
const std::u16string EARLIER_LOG = u"\\Orvane.Launcher-1600000000-1111.txt";

struct TargetCase {
    const char* name;
    sim::Account launcher;
    bool elevated;
    void (*plant)();
    const char16_t* logFolder;            // the folder the run names its log in; null: it writes none
    const char16_t* setAside;             // what an untrusted Velmor was renamed to, or null
    const char16_t* bytesIn = nullptr;    // where the bytes went when not `logFolder` (a swap meanwhile)
    const char16_t* earlierIn = nullptr;  // the folder where an earlier run's log must still be, whole
};
ORVANE_PRINT_BY_NAME(TargetCase)

using enum sim::Account;

template <sim::Account owner>
void FolderOf() {
    sim::MakeFolder(VELMOR);
    sim::SetOwner(VELMOR, owner);
}

// A whole run of an earlier launcher, process 1111, in the same second.
template <sim::Account account, bool elevated>
void EarlierRun() {
    sim::SetProcessAccount(account, elevated);
    sim::SetProcessId(1111);
    RunLaunchSequence();
    sim::SetProcessId(4242);
}

template <sim::Account owner>
void ForgedLog() {
    FolderOf<System>();
    sim::MakeFile(testing::LOG_PATH, "forged\r\n");
    sim::SetOwner(testing::LOG_PATH, owner);
}

void CommonFolder() { sim::MakeFolder(PROGRAM_DATA); }

// The elevated run's folder check passed; before the file is opened, the name Velmor is made a
// junction to C:\Windows (on Windows the emptied folder itself turns into one; here it moves away).
void SwapForJunctionBeforeTheFileOpens() {
    FolderOf<System>();
    sim::BeforeCallOn("", testing::LOG_PATH, [] {
        sim::Rename(VELMOR, u"C:\\ProgramData\\Velmor.real");
        sim::MakeLink(VELMOR, u"C:\\Windows");
    });
}

const TargetCase TARGET_CASES[] = {
    {"NewFolder", User, false, CommonFolder, VELMOR, nullptr},
    {"NewFolderElevated", System, true, CommonFolder, VELMOR, nullptr},
    {"FolderOfSystem", System, true, FolderOf<System>, VELMOR, nullptr},
    {"FolderOfAdministrators", System, true, FolderOf<Administrators>, VELMOR, nullptr},
    {"FolderOfTrustedInstaller", System, true, FolderOf<TrustedInstaller>, VELMOR, nullptr},
    {"FolderOfLaunchersUser", User, false, FolderOf<User>, VELMOR, nullptr},
    // An administrator's elevated run does not trust what their own non-elevated half owns.
    {"FolderOfLaunchersUserElevated", User, true, FolderOf<User>, VELMOR, ASIDE},
    {"FolderOfAnotherUser", System, true, FolderOf<OtherUser>, VELMOR, ASIDE},
    {"FolderOfAnotherUserNotElevated", User, false, FolderOf<OtherUser>, nullptr, nullptr},
    {"FolderIsJunction", System, true, [] { sim::MakeLink(VELMOR, u"C:\\Windows"); }, VELMOR, ASIDE},
    {"FolderIsAFile", System, true, [] { sim::MakeFile(VELMOR, "not a folder"); }, VELMOR, ASIDE},
    {"FolderIsAFileNotElevated", User, false, [] { sim::MakeFile(VELMOR, "not a folder"); }, nullptr, nullptr},
    {"AsideNameTaken", System, true,
     [] {
         FolderOf<OtherUser>();
         sim::MakeFolder(ASIDE);
     },
     FALLBACK, nullptr},
    {"FolderCannotBeCreated", System, true, [] { sim::DenyCreateDirectory(VELMOR, platform::ERROR_ACCESS_DENIED); },
     FALLBACK, nullptr},
    {"FolderCannotBeCreatedNotElevated", User, false,
     [] { sim::DenyCreateDirectory(VELMOR, platform::ERROR_ACCESS_DENIED); }, nullptr, nullptr},
    {"FolderMadeAgainBeforeTheFreshOne", System, true,
     [] {
         FolderOf<OtherUser>();
         sim::BeforeCallOn("CreateDirectoryW", VELMOR, FolderOf<OtherUser>);
     },
     FALLBACK, ASIDE},
    {"NewFolderTurnedJunctionBeforeItsCheck", System, true,
     [] {
         CommonFolder();
         sim::BeforeCallOn("CreateFileW", VELMOR, [] {
             sim::Rename(VELMOR, u"C:\\ProgramData\\emptied");
             sim::MakeLink(VELMOR, u"C:\\Windows");
         });
     },
     VELMOR, ASIDE},
    {"FolderSwappedForJunctionBeforeTheFileOpens", System, true, SwapForJunctionBeforeTheFileOpens, VELMOR, nullptr,
     u"C:\\ProgramData\\Velmor.real"},
    {"LogNameIsSymbolicLink", System, true, [] { sim::MakeLink(testing::LOG_PATH, TARGET); }, FALLBACK, nullptr},
    {"LogNameIsHardLink", System, true, [] { sim::MakeHardLink(testing::LOG_PATH, TARGET); }, FALLBACK, nullptr},
    {"LogNameForgedByAUser", System, true, ForgedLog<User>, FALLBACK, nullptr},
    {"LogNameForgedNotElevated", User, false, ForgedLog<OtherUser>, nullptr, nullptr},
    {"FolderOfAnEarlierElevatedRun", System, true, EarlierRun<System, true>, VELMOR, nullptr, nullptr, VELMOR},
    {"FolderOfAnEarlierRunNotElevated", System, true, EarlierRun<User, false>, VELMOR, ASIDE, nullptr, ASIDE},
    {"NotElevatedInTheFolderOfAnElevatedRun", User, false, EarlierRun<System, true>, VELMOR, nullptr, nullptr, VELMOR},
};

// A whole run's log: the mark, and the launch's outcome as its last line.
void ExpectARunsLog(const std::u16string& path) {
    const std::string bytes = sim::ReadFile(path);
    EXPECT_EQ(bytes.substr(0, 3), BOM) << sim::Utf8(path);
    EXPECT_NE(bytes.find(sim::Utf8(msg::TOOL_SUCCEEDED)), std::string::npos) << sim::Utf8(path);
}

class LogTargetTest : public ::testing::TestWithParam<TargetCase> {};

// A whole run against what a standard user may have done beforehand or does meanwhile. The log is
// written only into a folder checked through the handle the file is created relative to, and only
// into a file this run created or one whose owner the run's rule accepts. What a run refuses stays
// as it was; an elevated run moves an untrusted folder aside and logs in a fresh one, or else in the
// fallback folder; and the Application event names the file that was written.
TEST_P(LogTargetTest, WritesOnlyThroughWhatItCheckedAndNamesWhatItWrote) {
    const TargetCase& c = GetParam();
    testing::TypicalMachine();
    sim::MakeFile(TARGET, TARGET_BYTES);
    sim::MakeFolder(u"C:\\Windows\\Logs");
    c.plant();
    sim::SetProcessAccount(c.launcher, c.elevated);
    const std::string atLogName = sim::ReadFile(testing::LOG_PATH);
    const std::size_t launches = sim::Launches().size();
    const std::size_t writes = sim::WriteSizes().size();

    EXPECT_EQ(RunLaunchSequence(), 0u);
    EXPECT_EQ(sim::Launches().size(), launches + 1);
    EXPECT_EQ(sim::ReadFile(TARGET), TARGET_BYTES);
    EXPECT_EQ(sim::ListFolder(u"C:\\Windows"), (std::vector<std::u16string>{u"Logs", u"target.ini"}));
    const std::u16string named = c.logFolder != nullptr ? c.logFolder + (u"\\" + DEFAULT_NAME) : u"";
    EXPECT_EQ(testing::LogNamedByTheEvent(), named);
    if (c.elevated) {
        EXPECT_EQ(sim::GetString(sim::View::Bit64, RECORD_KEY, u"Log"), named);
    }
    if (c.logFolder != nullptr) {
        ExpectARunsLog(std::u16string(c.bytesIn != nullptr ? c.bytesIn : c.logFolder) + u"\\" + DEFAULT_NAME);
    } else {
        EXPECT_EQ(sim::WriteSizes().size(), writes);
    }
    if (c.logFolder != VELMOR) {
        EXPECT_EQ(sim::ReadFile(testing::LOG_PATH), atLogName);
    }
    EXPECT_EQ(sim::ListFolder(u"C:\\Windows\\Logs").size(), c.logFolder == FALLBACK ? 1u : 0u);
    EXPECT_TRUE(c.setAside == nullptr || sim::FileExists(c.setAside) || sim::FolderExists(c.setAside));
    if (c.earlierIn != nullptr) {
        ExpectARunsLog(c.earlierIn + EARLIER_LOG);
    }
    EXPECT_EQ(sim::LiveSecurityDescriptors(), 0);
    EXPECT_EQ(sim::OpenTokens(), 0);
}

ORVANE_NAMED_ROWS(Targets, LogTargetTest, TARGET_CASES);

TEST_F(LogFileTest, CloseLogReleasesFileAndKeepsStreamClosed) {
    OpenLog();
    ASSERT_NE(logStream, nullptr);
    CloseLog();
    EXPECT_FALSE(logStream->IsOpen());
    EXPECT_TRUE(platform::ScopedFile(
                    platform::CreateFileW(DEFAULT_LOG.c_str(), platform::GENERIC_WRITE, 0, platform::OPEN_EXISTING, 0))
                    .Holds());
    CloseLog();
    EXPECT_EQ(OnDisk(), BOM);
}

}  // namespace
}  // namespace orvane
