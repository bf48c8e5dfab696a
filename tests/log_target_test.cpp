// The log target's own units: which owners each rule accepts, and what the security descriptors of an
// elevated run's folders leave a standard user.
#include "log/log_target.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "log/log_file.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/sim/sim.h"
#include "support/named_case.h"

namespace orvane {
namespace {

using platform::DWORD;
using sim::Account;

// ---- Owners each rule accepts --------------------------------------------------------------

struct OwnerCase {
    const char* name;
    Account owner;
    bool administrative;  // accepted by an elevated run
    bool orLauncher;      // accepted by a run that is not elevated, as the launcher's user
};
ORVANE_PRINT_BY_NAME(OwnerCase)

const OwnerCase OWNER_CASES[] = {
    {"System", Account::System, true, true},
    {"Administrators", Account::Administrators, true, true},
    {"TrustedInstaller", Account::TrustedInstaller, true, true},
    // What an administrator's non-elevated half made: any program the user runs may have planted it.
    {"LaunchersOwnUser", Account::User, false, true},
    {"AnotherUser", Account::OtherUser, false, false},
};

class OwnerRuleTest : public ::testing::TestWithParam<OwnerCase> {};

TEST_P(OwnerRuleTest, AcceptsTheOwnersOfItsRuleOnly) {
    sim::Reset();
    sim::SetProcessAccount(Account::User);
    sim::MakeFile(u"C:\\logs\\run.txt", "x");
    sim::SetOwner(u"C:\\logs\\run.txt", GetParam().owner);
    const platform::ScopedFile file(platform::CreateFileW(u"C:\\logs\\run.txt", platform::GENERIC_READ,
                                                          platform::FILE_SHARE_READ, platform::OPEN_EXISTING, 0));

    EXPECT_EQ(IsAcceptedFile(file.Get(), OwnerRule::Administrative), GetParam().administrative);
    EXPECT_EQ(IsAcceptedFile(file.Get(), OwnerRule::AdministrativeOrLauncher), GetParam().orLauncher);
    EXPECT_EQ(sim::LiveSecurityDescriptors(), 0);
}

ORVANE_NAMED_ROWS(Owners, OwnerRuleTest, OWNER_CASES);

// ---- What an elevated run's folders leave a standard user ----------------------------------

constexpr DWORD LIST = 0x0001;        // FILE_LIST_DIRECTORY, FILE_READ_DATA on a file
constexpr DWORD ADD_FILE = 0x0002;    // FILE_ADD_FILE, FILE_WRITE_DATA on a file
constexpr DWORD ADD_FOLDER = 0x0004;  // FILE_ADD_SUBDIRECTORY, FILE_APPEND_DATA on a file
constexpr DWORD WRITE_EA = 0x0010;
constexpr DWORD DELETE_CHILD = 0x0040;
constexpr DWORD WRITE_ATTRIBUTES = 0x0100;
constexpr DWORD WRITE_DAC = 0x00040000;
constexpr DWORD WRITE_OWNER = 0x00080000;
// Anything that lets a user re-point, rename, take over or empty what the run relies on.
constexpr DWORD TAKEOVER =
    WRITE_EA | DELETE_CHILD | WRITE_ATTRIBUTES | platform::DELETE | WRITE_DAC | WRITE_OWNER | ADD_FOLDER;

const std::u16string LOG_NAME = u"\\Orvane.Launcher-1600000000-4242.txt";
constexpr const char16_t* VELMOR = u"C:\\ProgramData\\Velmor";
constexpr const char16_t* FALLBACK = u"C:\\Windows\\Logs\\Velmor";

struct SecurityCase {
    const char* name;
    void (*arrange)();
    std::u16string path;
    Account owner;  // a folder's as its descriptor names it, a file's as SYSTEM's token gives it
    DWORD granted;  // all of these
    DWORD denied;   // none of these
};
ORVANE_PRINT_BY_NAME(SecurityCase)

void VelmorRefused() { sim::DenyCreateDirectory(VELMOR, platform::ERROR_ACCESS_DENIED); }

const SecurityCase SECURITY_CASES[] = {
    // A run that is not elevated adds its own log: the one right to write it has here.
    {"LogFolder", [] {}, VELMOR, Account::Administrators, LIST | ADD_FILE | platform::FILE_TRAVERSE, TAKEOVER},
    {"LogOfTheElevatedRun", [] {}, VELMOR + LOG_NAME, Account::System, LIST, TAKEOVER | ADD_FILE},
    {"FallbackFolder", VelmorRefused, FALLBACK, Account::Administrators, LIST, TAKEOVER | ADD_FILE},
    {"LogInTheFallback", VelmorRefused, FALLBACK + LOG_NAME, Account::System, LIST, TAKEOVER | ADD_FILE},
};

class FolderSecurityTest : public ::testing::TestWithParam<SecurityCase> {};

TEST_P(FolderSecurityTest, StandardUsersGetOnlyWhatARunThatIsNotElevatedNeeds) {
    sim::Reset();
    GetParam().arrange();
    OpenLog();
    CloseLog();

    const sim::Security security = sim::SecurityOf(GetParam().path);
    EXPECT_EQ(security.owner, GetParam().owner);
    EXPECT_TRUE(security.hasDacl);
    EXPECT_EQ(security.standardUser & GetParam().granted, GetParam().granted);
    EXPECT_EQ(security.standardUser & GetParam().denied, 0u);
    if (GetParam().path == VELMOR || GetParam().path == FALLBACK) {
        EXPECT_TRUE(security.protectedDacl);  // nothing of the parent's entries for users reaches it
    }
    EXPECT_EQ(sim::LiveSecurityDescriptors(), 0);
}

ORVANE_NAMED_ROWS(Folders, FolderSecurityTest, SECURITY_CASES);

}  // namespace
}  // namespace orvane
