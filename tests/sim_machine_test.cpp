// The simulated machine itself: clocks, reset, the fatal stop, the call trace and injected failures.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimMachineTest = SimFixture;
using SimMachineDeathTest = SimFixture;

TEST_F(SimMachineTest, BothClocksGiveTheSetTimeAndCountTheirReads) {
    sim::SetSystemTime(0x0123456789ABCDEFLL);
    FILETIME plain{}, precise{};
    GetSystemTimeAsFileTime(&plain);
    SystemTimeFunction find = FindGetSystemTimePreciseAsFileTime();
    ASSERT_NE(find, nullptr);
    find(&precise);
    find(&precise);
    for (const FILETIME& t : {plain, precise}) {
        EXPECT_EQ(t.dwHighDateTime, 0x01234567u);
        EXPECT_EQ(t.dwLowDateTime, 0x89ABCDEFu);
    }
    EXPECT_EQ(sim::PlainClockReads(), 1);
    EXPECT_EQ(sim::PreciseClockReads(), 2);
    sim::SetPreciseClockAvailable(false);
    EXPECT_EQ(FindGetSystemTimePreciseAsFileTime(), nullptr);
}

TEST_F(SimMachineDeathTest, AChildProcessThatResetsLeavesTheParentsFilesAlone) {
    sim::MakeFile(u"C:\\keep.txt", "kept");
    EXPECT_DEATH(
        {
            sim::Reset();
            FatalStop(FatalSite::GuardBroken);
        },
        "fatal stop: guard broken");
    EXPECT_EQ(sim::ReadFile(u"C:\\keep.txt"), "kept");
}

// ---- Call trace and injected failures ----------------------------------------------------

TEST_F(SimMachineTest, FailCallsOfOneNameCountTheSameCalls) {
    sim::FailCall("PathFileExistsW", ERROR_ACCESS_DENIED, 3);
    sim::FailCall("PathFileExistsW", ERROR_FILE_NOT_FOUND, 1);
    sim::FailCall("CreateFileW", ERROR_ACCESS_DENIED, 1);
    std::vector<BOOL> answers;
    for (int i = 0; i < 4; ++i) answers.push_back(PathFileExistsW(u"C:\\"));
    EXPECT_EQ(answers, (std::vector<BOOL>{FALSE, TRUE, FALSE, TRUE}));
}

TEST_F(SimMachineTest, FailCallOnCountsOnlyTheCallsOnItsTargetAndTheTraceNamesIt) {
    sim::MakeFolder(u"C:\\a");
    sim::MakeFolder(u"C:\\b");
    sim::FailCallOn("PathFileExistsW", u"C:\\b", ERROR_ACCESS_DENIED, 2);
    std::vector<BOOL> answers;
    for (const char16_t* path : {u"C:\\b", u"C:\\a", u"C:\\a", u"C:\\b", u"C:\\b"}) {
        answers.push_back(PathFileExistsW(path));
    }
    EXPECT_EQ(answers, (std::vector<BOOL>{TRUE, TRUE, TRUE, FALSE, TRUE}));
    EXPECT_EQ(sim::Trace().back().name, "PathFileExistsW");
    EXPECT_EQ(sim::Trace().back().on, u"C:\\b");
}

TEST_F(SimMachineTest, FailCallFailsEachOperationTheWayItFailsOnWindows) {
    sim::MakeFile(u"C:\\t.exe", "MZ");
    sim::SetFileVersion(u"C:\\t.exe", 1, 2);
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"x");
    for (const char* name : {"RegOpenKeyExW", "SHGetFolderPathW", "WaitForSingleObject", "GetFileVersionInfoSizeW",
                             "CreateDirectoryW", "PathFileExistsW", "GetModuleFileNameW", "ShellExecuteExW",
                             "FindGetSystemTimePreciseAsFileTime", "IsWow64Process"}) {
        sim::FailCall(name, ERROR_ACCESS_DENIED);
    }
    HKEY key = nullptr;
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), LONG{ERROR_ACCESS_DENIED});
    char16_t path[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), static_cast<HRESULT>(0x80070005));
    SHELLEXECUTEINFOW info = Record();
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 1), WAIT_FAILED);
    EXPECT_EQ(GetFileVersionInfoSizeW(u"C:\\t.exe", nullptr), 0u);
    EXPECT_FALSE(CreateDirectoryW(u"C:\\new", nullptr));
    EXPECT_FALSE(sim::FolderExists(u"C:\\new"));
    EXPECT_FALSE(PathFileExistsW(u"C:\\t.exe"));
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    EXPECT_EQ(FindGetSystemTimePreciseAsFileTime(), nullptr);
    BOOL flag = 7;
    EXPECT_FALSE(IsWow64Process(GetCurrentProcess(), &flag));
    EXPECT_EQ(flag, 7);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // Each failure was one-shot.
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), 0);
    EXPECT_TRUE(PathFileExistsW(u"C:\\t.exe"));
    RegCloseKey(key);
}

TEST_F(SimMachineTest, BeforeCallOnRunsItsActionOnceJustBeforeTheNthMatchingCall) {
    int runs = 0;
    sim::BeforeCallOn(
        "PathFileExistsW", u"C:\\x",
        [&runs] {
            ++runs;
            sim::MakeFolder(u"C:\\x");
        },
        2);
    std::vector<BOOL> answers;
    for (const char16_t* path : {u"C:\\x", u"C:\\y", u"C:\\x", u"C:\\x"}) answers.push_back(PathFileExistsW(path));
    EXPECT_EQ(answers, (std::vector<BOOL>{FALSE, FALSE, TRUE, TRUE}));
    EXPECT_EQ(runs, 1);
}

// Each operation of the run record once, as a run uses them; what each returned (0: it worked).
std::vector<DWORD> RecordHashAndReport() {
    std::vector<DWORD> errors;
    auto check = [&errors](BOOL ok) { errors.push_back(ok ? 0 : GetLastError()); };
    const std::uint8_t one[] = {1, 0, 0, 0};
    HKEY key = nullptr;
    errors.push_back(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE | KEY_WOW64_64KEY, &key, nullptr));
    errors.push_back(RegSetValueExW(key, u"ExitCode", REG_DWORD, one, sizeof one));
    errors.push_back(RegCloseKey(key));
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    check(CryptAcquireContextW(&provider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    check(CryptCreateHash(provider, CALG_SHA_256, &hash));
    check(CryptHashData(hash, one, sizeof one));
    std::uint8_t digest[SHA256_BYTES];
    DWORD length = sizeof digest;
    check(CryptGetHashParam(hash, HP_HASHVAL, digest, &length));
    check(CryptDestroyHash(hash));
    check(CryptReleaseContext(provider));
    HANDLE source = RegisterEventSourceW(u"Orvane.Launcher");
    check(source != nullptr);
    check(ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 1000, u"done"));
    check(DeregisterEventSource(source));
    return errors;
}

TEST_F(SimMachineTest, RunRecordOperationsAreTracedByWhatTheyActOnAndFailThereAsOnWindows) {
    using Traced = std::pair<std::string, std::u16string>;
    const std::vector<Traced> expected = {
        {"RegCreateKeyExW", RECORD_KEY},
        {"RegSetValueExW", u"ExitCode"},
        {"RegCloseKey", RECORD_KEY},
        {"CryptAcquireContextW", sim::CRYPT_PROVIDER},
        {"CryptCreateHash", sim::SHA256_HASH},
        {"CryptHashData", sim::SHA256_HASH},
        {"CryptGetHashParam", sim::SHA256_HASH},
        {"CryptDestroyHash", sim::SHA256_HASH},
        {"CryptReleaseContext", sim::CRYPT_PROVIDER},
        {"RegisterEventSourceW", u"Orvane.Launcher"},
        {"ReportEventW", u"Orvane.Launcher"},
        {"DeregisterEventSource", u"Orvane.Launcher"},
    };
    EXPECT_EQ(RecordHashAndReport(), std::vector<DWORD>(expected.size(), 0));
    EXPECT_EQ(sim::OpenKeys() + sim::OpenCryptHandles() + sim::OpenEventSources(), 0);
    // A failure told for another target leaves the call alone: each is traced by what it acts on.
    for (std::size_t i = 0; i < expected.size(); ++i) {
        sim::Reset();
        sim::FailCallOn(expected[i].first, u"elsewhere", ERROR_ACCESS_DENIED);
        sim::FailCallOn(expected[i].first, expected[i].second, ERROR_ACCESS_DENIED);
        const std::vector<DWORD> errors = RecordHashAndReport();
        EXPECT_EQ(std::vector<DWORD>(errors.begin(), errors.begin() + i), std::vector<DWORD>(i, 0))
            << expected[i].first;
        EXPECT_EQ(errors[i], ERROR_ACCESS_DENIED) << expected[i].first;
    }
}

TEST_F(SimMachineTest, ResetForgetsWriteDenialsHandlesAndEvents) {
    sim::DenyRegistryWrites(ERROR_ACCESS_DENIED);
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextW(&provider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA_256, &hash));
    ASSERT_TRUE(CryptHashData(hash, nullptr, 0));
    HANDLE source = RegisterEventSourceW(u"Orvane.Launcher");
    ASSERT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 1, u"x"));
    EXPECT_EQ(sim::OpenCryptHandles(), 2);
    sim::Reset();
    EXPECT_EQ(sim::OpenCryptHandles(), 0);
    EXPECT_TRUE(sim::HashDataSizes().empty());
    EXPECT_EQ(sim::OpenEventSources(), 0);
    EXPECT_TRUE(sim::Events().empty());
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 1, u"x"));
    EXPECT_EQ(RecordHashAndReport(), std::vector<DWORD>(12, 0)) << "writes allowed again";
}

}  // namespace
