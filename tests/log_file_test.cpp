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
const std::u16string DEFAULT_NAME = u"Orvane.Launcher-1600000000-4242.txt";
const std::u16string DEFAULT_LOG = u"C:\\ProgramData\\Velmor\\" + DEFAULT_NAME;

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

// ---- Start time as text --------------------------------------------------------------------

struct SecondsCase {
    const char* name;
    std::int64_t ticks;
    const char16_t* text;
};
ORVANE_PRINT_BY_NAME(SecondsCase)

const SecondsCase SECONDS_CASES[] = {
    {"Epoch", EPOCH_1970, u"0"},
    {"HalfSecondAfterEpoch", EPOCH_1970 + TICKS_PER_SECOND / 2, u"0"},
    {"LastTickOfFirstSecond", EPOCH_1970 + TICKS_PER_SECOND - 1, u"0"},
    {"OneTickBeforeEpoch", EPOCH_1970 - 1, u"0"},
    {"HalfSecondBeforeEpochTruncatesToZero", EPOCH_1970 - TICKS_PER_SECOND / 2, u"0"},
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

INSTANTIATE_TEST_SUITE_P(Ticks, SecondsTextTest, ::testing::ValuesIn(SECONDS_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- File name -----------------------------------------------------------------------------

struct NameCase {
    const char* name;
    std::int64_t ticks;
    DWORD processId;
    const char16_t* fileName;
};
ORVANE_PRINT_BY_NAME(NameCase)

const NameCase NAME_CASES[] = {
    {"HalfSecondAfterEpoch", EPOCH_1970 + TICKS_PER_SECOND / 2, 4242, u"Orvane.Launcher-0-4242.txt"},
    {"ClockBeforeEpoch", EPOCH_1970 - 3 * TICKS_PER_SECOND / 2, 4242, u"Orvane.Launcher--1-4242.txt"},
    {"LargeTime", EPOCH_1970 + 32503680000LL * TICKS_PER_SECOND, 7, u"Orvane.Launcher-32503680000-7.txt"},
    {"ProcessIdZero", EPOCH_1970, 0, u"Orvane.Launcher-0-0.txt"},
    {"ProcessIdTopBitSet", EPOCH_1970, 0x80000000, u"Orvane.Launcher-0--2147483648.txt"},
    {"ProcessIdAllBits", EPOCH_1970, 0xFFFFFFFF, u"Orvane.Launcher-0--1.txt"},
};

class LogFileNameTest : public LogFileTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(LogFileNameTest, NamesFileBySecondsAndProcessId) {
    sim::SetSystemTime(GetParam().ticks);
    sim::SetProcessId(GetParam().processId);
    OpenLog();

    const std::u16string expected = u"C:\\ProgramData\\Velmor\\" + std::u16string(GetParam().fileName);
    EXPECT_EQ(LogPath(), expected);
    ASSERT_NE(logStream, nullptr);
    EXPECT_TRUE(sim::FileExists(expected));
}

INSTANTIATE_TEST_SUITE_P(Names, LogFileNameTest, ::testing::ValuesIn(NAME_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Clock source --------------------------------------------------------------------------

struct ClockCase {
    const char* name;
    bool preciseAvailable;
    int preciseReads;
    int plainReads;
};
ORVANE_PRINT_BY_NAME(ClockCase)

const ClockCase CLOCK_CASES[] = {
    {"PreciseWhenAvailable", true, 1, 0},
    {"PlainOtherwise", false, 0, 1},
};

class LogClockTest : public LogFileTest, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(LogClockTest, ReadsTheClockTheSystemOffers) {
    sim::SetPreciseClockAvailable(GetParam().preciseAvailable);
    RefreshClockSource();
    sim::SetSystemTime(EPOCH_1970 + 42 * TICKS_PER_SECOND);
    OpenLog();

    EXPECT_EQ(LogPath(), u"C:\\ProgramData\\Velmor\\Orvane.Launcher-42-4242.txt");
    EXPECT_EQ(sim::PreciseClockReads(), GetParam().preciseReads);
    EXPECT_EQ(sim::PlainClockReads(), GetParam().plainReads);
}

INSTANTIATE_TEST_SUITE_P(Sources, LogClockTest, ::testing::ValuesIn(CLOCK_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Log folder ----------------------------------------------------------------------------

struct FolderCase {
    const char* name;
    std::optional<std::u16string> commonAppData;  // nullopt: the shell does not report it
    platform::HRESULT shellFailure;
    std::vector<std::u16string> existingFolders;
    std::u16string folder;
    std::vector<std::u16string> created;
};
ORVANE_PRINT_BY_NAME(FolderCase)

const FolderCase FOLDER_CASES[] = {
    {"CommonFolderExists",
     u"C:\\ProgramData",
     0,
     {u"C:\\ProgramData"},
     u"C:\\ProgramData\\Velmor",
     {u"C:\\ProgramData\\Velmor"}},
    {"VelmorExists", u"C:\\ProgramData", 0, {u"C:\\ProgramData\\Velmor"}, u"C:\\ProgramData\\Velmor", {}},
    {"CommonFolderMissing",
     u"C:\\ProgramData",
     0,
     {},
     u"C:\\ProgramData\\Velmor",
     {u"C:\\ProgramData", u"C:\\ProgramData\\Velmor"}},
    {"CommonFolderElsewhereAndDeep",
     u"C:\\Shared\\Data",
     0,
     {},
     u"C:\\Shared\\Data\\Velmor",
     {u"C:\\Shared", u"C:\\Shared\\Data", u"C:\\Shared\\Data\\Velmor"}},
    {"CommonFolderIsDriveRoot", u"C:\\", 0, {}, u"C:\\Velmor", {u"C:\\Velmor"}},
    {"ShellFailsFixedFolderParentExists",
     std::nullopt,
     platform::E_FAIL,
     {u"C:\\ProgramData", u"C:\\Shared"},
     u"C:\\ProgramData\\Velmor",
     {u"C:\\ProgramData\\Velmor"}},
    {"ShellFailsFixedFolderParentMissing",
     std::nullopt,
     platform::E_FAIL,
     {u"C:\\Shared"},
     u"C:\\ProgramData\\Velmor",
     {u"C:\\ProgramData", u"C:\\ProgramData\\Velmor"}},
    {"ShellReturnsSFalse",
     std::nullopt,
     1,
     {u"C:\\ProgramData"},
     u"C:\\ProgramData\\Velmor",
     {u"C:\\ProgramData\\Velmor"}},
};

class LogFolderTest : public LogFileTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(LogFolderTest, PlacesLogInVelmorFolder) {
    const FolderCase& c = GetParam();
    // A failing shell must not lead to a folder that exists elsewhere.
    sim::SetCommonAppData(c.commonAppData.value_or(u"C:\\Shared"));
    if (!c.commonAppData) {
        sim::FailCommonAppData(c.shellFailure);
    }
    for (const std::u16string& folder : c.existingFolders) {
        sim::MakeFolder(folder);
    }

    OpenLog();

    EXPECT_EQ(LogPath(), c.folder + u"\\" + DEFAULT_NAME);
    EXPECT_EQ(DirectoryPaths(), c.created);
    EXPECT_TRUE(sim::FolderExists(c.folder));
    ASSERT_NE(logStream, nullptr);
    EXPECT_TRUE(logStream->IsOpen());
    EXPECT_EQ(sim::ReadFile(LogPath()), BOM);
}

INSTANTIATE_TEST_SUITE_P(Folders, LogFolderTest, ::testing::ValuesIn(FOLDER_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// The shell's answer is read as a C string, so it ends inside the buffer whatever the shell left.
TEST_F(LogFileTest, AnUnterminatedShellFolderEndsAtTheBuffersLastCharacter) {
    const std::u16string kept = u"C:\\" + std::u16string(256, u'd');
    sim::SetCommonAppDataUnterminated(kept + u"e");
    sim::SetProcessAccount(sim::Account::User);  // an elevated run would name its fallback instead
    OpenLog();
    EXPECT_EQ(LogPath(), kept + u"\\Velmor\\" + DEFAULT_NAME);
}

// ---- EnsureDirectory -----------------------------------------------------------------------

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
    for (const std::u16string& folder : c.existingFolders) {
        sim::MakeFolder(folder);
    }
    if (c.deniedFolder) {
        sim::DenyCreateDirectory(*c.deniedFolder, c.deniedError);
    }

    EXPECT_EQ(EnsureDirectory(FixedPathString(c.path.c_str())), c.result);
    EXPECT_EQ(DirectoryPaths(), c.created);
}

INSTANTIATE_TEST_SUITE_P(Paths, EnsureDirectoryTest, ::testing::ValuesIn(ENSURE_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogFileTest, FileNamedVelmorCountsAsFolderButNoLogIsOpened) {
    sim::SetProcessAccount(sim::Account::User);
    sim::MakeFile(u"C:\\ProgramData\\Velmor", "not a folder");

    EXPECT_EQ(EnsureDirectory(FixedPathString(u"C:\\ProgramData\\Velmor")), FolderState::Existing);
    OpenLog();
    LogWrite(msg::INSTALL_PATH_NOT_FOUND);
    CloseLog();

    EXPECT_EQ(logStream, nullptr);
    EXPECT_TRUE(sim::DirectoryCalls().empty());
    EXPECT_TRUE(sim::WriteSizes().empty());
    EXPECT_EQ(sim::ReadFile(u"C:\\ProgramData\\Velmor"), "not a folder");
}

TEST_F(LogFileTest, FolderThatCannotBeCreatedLeavesLogAbsent) {
    sim::SetProcessAccount(sim::Account::User);  // an elevated run would use the fallback
    sim::MakeFolder(u"C:\\ProgramData");
    sim::DenyCreateDirectory(u"C:\\ProgramData\\Velmor", platform::ERROR_ACCESS_DENIED);

    OpenLog();
    LogWrite(msg::INSTALL_PATH_NOT_FOUND);

    EXPECT_EQ(logStream, nullptr);
    EXPECT_EQ(LogPath(), DEFAULT_LOG);
    EXPECT_FALSE(sim::FileExists(DEFAULT_LOG));
}

// ---- Existing file of the same name --------------------------------------------------------

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

INSTANTIATE_TEST_SUITE_P(Files, LogExistingFileTest, ::testing::ValuesIn(EXISTING_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Targets a standard user could have planted --------------------------------------------

// A whole run against what a standard user may have done beforehand or does meanwhile. The log is
// written only into a folder checked through the handle the file is created relative to, and only
// into a file this run created or one whose owner the run's rule accepts. What a run refuses stays
// as it was; an elevated run moves an untrusted folder aside and logs in a fresh one, or else in the
// fallback folder; and the Application event names the file that was written.
constexpr const char16_t* VELMOR = u"C:\\ProgramData\\Velmor";
constexpr const char16_t* ASIDE = u"C:\\ProgramData\\Velmor.untrusted-1600000000-4242";
constexpr const char16_t* FALLBACK = u"C:\\Windows\\Logs\\Velmor";
constexpr const char16_t* TARGET = u"C:\\Windows\\target.ini";
constexpr const char16_t* RECORD_KEY = u"SOFTWARE\\Velmor\\Orvane.Launcher";
const std::string TARGET_BYTES = "[settings]\r\n";
const std::u16string EARLIER_NAME = u"Orvane.Launcher-1600000000-1111.txt";

struct TargetCase {
    const char* name;
    sim::Account launcher;
    bool elevated;
    void (*plant)();
    const char16_t* logFolder;             // the folder the run names its log in; null: it writes none
    const char16_t* setAside;              // what an untrusted Velmor was renamed to, or null
    const char16_t* bytesIn = nullptr;     // where the bytes went when not `logFolder` (a swap meanwhile)
    const char16_t* earlierLog = nullptr;  // a log of an earlier run that must still be there, whole
};
ORVANE_PRINT_BY_NAME(TargetCase)

void FolderOwnedBy(sim::Account owner) {
    sim::MakeFolder(VELMOR);
    sim::SetOwner(VELMOR, owner);
}

// A whole run of an earlier launcher, process 1111, in the same second.
void EarlierRun(sim::Account account, bool elevated) {
    sim::SetProcessAccount(account, elevated);
    sim::SetProcessId(1111);
    RunLaunchSequence();
    sim::SetProcessId(4242);
}

void PlantAtLogName(sim::Account owner) {
    FolderOwnedBy(sim::Account::System);
    sim::MakeFile(testing::LOG_PATH, "forged\r\n");
    sim::SetOwner(testing::LOG_PATH, owner);
}

// The elevated run's folder check passed; before the file is opened, the name Velmor is made a
// junction to C:\Windows (on Windows the emptied folder itself turns into one; here it moves away).
void SwapForJunctionBeforeTheFileOpens() {
    FolderOwnedBy(sim::Account::System);
    sim::BeforeCallOn("", testing::LOG_PATH, [] {
        sim::Rename(VELMOR, u"C:\\ProgramData\\Velmor.real");
        sim::MakeLink(VELMOR, u"C:\\Windows");
    });
}

const TargetCase TARGET_CASES[] = {
    {"NewFolder", sim::Account::User, false, [] { sim::MakeFolder(u"C:\\ProgramData"); }, VELMOR, nullptr},
    {"NewFolderElevated", sim::Account::System, true, [] { sim::MakeFolder(u"C:\\ProgramData"); }, VELMOR, nullptr},
    {"FolderOfSystem", sim::Account::System, true, [] { FolderOwnedBy(sim::Account::System); }, VELMOR, nullptr},
    {"FolderOfAdministrators", sim::Account::System, true, [] { FolderOwnedBy(sim::Account::Administrators); }, VELMOR,
     nullptr},
    {"FolderOfTrustedInstaller", sim::Account::System, true, [] { FolderOwnedBy(sim::Account::TrustedInstaller); },
     VELMOR, nullptr},
    {"FolderOfLaunchersUser", sim::Account::User, false, [] { FolderOwnedBy(sim::Account::User); }, VELMOR, nullptr},
    // An administrator's elevated run does not trust what their own non-elevated half owns.
    {"FolderOfLaunchersUserElevated", sim::Account::User, true, [] { FolderOwnedBy(sim::Account::User); }, VELMOR,
     ASIDE},
    {"FolderOfAnotherUser", sim::Account::System, true, [] { FolderOwnedBy(sim::Account::OtherUser); }, VELMOR, ASIDE},
    {"FolderOfAnotherUserNotElevated", sim::Account::User, false, [] { FolderOwnedBy(sim::Account::OtherUser); },
     nullptr, nullptr},
    {"FolderIsJunction", sim::Account::System, true, [] { sim::MakeLink(VELMOR, u"C:\\Windows"); }, VELMOR, ASIDE},
    {"FolderIsAFile", sim::Account::System, true, [] { sim::MakeFile(VELMOR, "not a folder"); }, VELMOR, ASIDE},
    {"AsideNameTaken", sim::Account::System, true,
     [] {
         FolderOwnedBy(sim::Account::OtherUser);
         sim::MakeFolder(ASIDE);
     },
     FALLBACK, nullptr},
    {"FolderCannotBeCreated", sim::Account::System, true,
     [] { sim::DenyCreateDirectory(VELMOR, platform::ERROR_ACCESS_DENIED); }, FALLBACK, nullptr},
    {"FolderMadeAgainBeforeTheFreshOne", sim::Account::System, true,
     [] {
         FolderOwnedBy(sim::Account::OtherUser);
         sim::BeforeCallOn("CreateDirectoryW", VELMOR, [] { FolderOwnedBy(sim::Account::OtherUser); });
     },
     FALLBACK, ASIDE},
    {"NewFolderTurnedJunctionBeforeItsCheck", sim::Account::System, true,
     [] {
         sim::MakeFolder(u"C:\\ProgramData");
         sim::BeforeCallOn("CreateFileW", VELMOR, [] {
             sim::Rename(VELMOR, u"C:\\ProgramData\\emptied");
             sim::MakeLink(VELMOR, u"C:\\Windows");
         });
     },
     VELMOR, ASIDE},
    {"FolderSwappedForJunctionBeforeTheFileOpens", sim::Account::System, true, SwapForJunctionBeforeTheFileOpens,
     VELMOR, nullptr, u"C:\\ProgramData\\Velmor.real"},
    {"LogNameIsSymbolicLink", sim::Account::System, true, [] { sim::MakeLink(testing::LOG_PATH, TARGET); }, FALLBACK,
     nullptr},
    {"LogNameIsHardLink", sim::Account::System, true, [] { sim::MakeHardLink(testing::LOG_PATH, TARGET); }, FALLBACK,
     nullptr},
    {"LogNameForgedByAUser", sim::Account::System, true, [] { PlantAtLogName(sim::Account::User); }, FALLBACK, nullptr},
    {"LogNameForgedNotElevated", sim::Account::User, false, [] { PlantAtLogName(sim::Account::OtherUser); }, nullptr,
     nullptr},
    {"FolderOfAnEarlierElevatedRun", sim::Account::System, true, [] { EarlierRun(sim::Account::System, true); }, VELMOR,
     nullptr, nullptr, u"C:\\ProgramData\\Velmor\\Orvane.Launcher-1600000000-1111.txt"},
    {"FolderOfAnEarlierRunNotElevated", sim::Account::System, true, [] { EarlierRun(sim::Account::User, false); },
     VELMOR, ASIDE, nullptr, u"C:\\ProgramData\\Velmor.untrusted-1600000000-4242\\Orvane.Launcher-1600000000-1111.txt"},
    {"NotElevatedInTheFolderOfAnElevatedRun", sim::Account::User, false, [] { EarlierRun(sim::Account::System, true); },
     VELMOR, nullptr, nullptr, u"C:\\ProgramData\\Velmor\\Orvane.Launcher-1600000000-1111.txt"},
};

class LogTargetTest : public ::testing::TestWithParam<TargetCase> {};

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
    const std::u16string named = c.logFolder != nullptr ? std::u16string(c.logFolder) + u"\\" + DEFAULT_NAME : u"";
    EXPECT_EQ(testing::LogNamedByTheEvent(), named);
    if (c.elevated) {
        EXPECT_EQ(sim::GetString(sim::View::Bit64, RECORD_KEY, u"Log"), named);
    }
    if (c.logFolder != nullptr) {
        const std::u16string written =
            std::u16string(c.bytesIn != nullptr ? c.bytesIn : c.logFolder) + u"\\" + DEFAULT_NAME;
        EXPECT_EQ(sim::ReadFile(written).substr(0, 3), BOM);
        EXPECT_NE(sim::ReadFile(written).find("returned with ERROR_SUCCESS"), std::string::npos);
    } else {
        EXPECT_EQ(sim::WriteSizes().size(), writes);
    }
    if (c.logFolder != VELMOR) {
        EXPECT_EQ(sim::ReadFile(testing::LOG_PATH), atLogName);
    }
    EXPECT_EQ(sim::ListFolder(u"C:\\Windows\\Logs").size(), c.logFolder == FALLBACK ? 1u : 0u);
    if (c.setAside != nullptr) {
        EXPECT_TRUE(sim::FileExists(c.setAside) || sim::FolderExists(c.setAside));
    }
    if (c.earlierLog != nullptr) {
        EXPECT_EQ(sim::ReadFile(c.earlierLog).substr(0, 3), BOM);
        EXPECT_NE(sim::ReadFile(c.earlierLog).find("returned with ERROR_SUCCESS"), std::string::npos);
    }
    EXPECT_EQ(sim::LiveSecurityDescriptors(), 0);
    EXPECT_EQ(sim::OpenTokens(), 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, LogTargetTest, ::testing::ValuesIn(TARGET_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Closing -------------------------------------------------------------------------------

TEST_F(LogFileTest, CloseLogReleasesFileAndKeepsStreamClosed) {
    OpenLog();
    ASSERT_NE(logStream, nullptr);
    CloseLog();

    EXPECT_NE(logStream, nullptr);
    EXPECT_FALSE(logStream->IsOpen());
    const platform::HANDLE writer =
        platform::CreateFileW(DEFAULT_LOG.c_str(), platform::GENERIC_WRITE, platform::FILE_SHARE_READ,
                              platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(writer, platform::INVALID_HANDLE_VALUE);
    platform::CloseHandle(writer);
    CloseLog();
    EXPECT_EQ(sim::ReadFile(DEFAULT_LOG), BOM);
}

}  // namespace
}  // namespace orvane
