// The platform's owners: each resource given back once, on leaving scope, and never by an owner
// it was moved out of.
#include "platform/owners.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/sim/sim.h"

namespace {

using namespace platform;

constexpr const char16_t* KEY = u"SOFTWARE\\Owned";

class OwnersTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::MakeKey(sim::View::Bit32, KEY);
    }
};

long CallsOf(const char* name) { return std::count(sim::Calls().begin(), sim::Calls().end(), name); }

TEST_F(OwnersTest, AMovedKeyIsClosedOnceByItsLastOwner) {
    {
        ScopedKey first;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY, 0, KEY_QUERY_VALUE, first.Receive()), LONG{0});
        ScopedKey second(std::move(first));
        EXPECT_FALSE(first.Holds());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
        EXPECT_EQ(sim::OpenKeys(), 1);
    }
    EXPECT_EQ(sim::OpenKeys(), 0);
    EXPECT_EQ(sim::RegistryCloses(), 1);
}

TEST_F(OwnersTest, AFailedOpenLeavesNothingToClose) {
    {
        ScopedKey key;
        EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Missing", 0, KEY_QUERY_VALUE, key.Receive()), LONG{0});
        const ScopedFile file(CreateFileW(u"Q:\\none.txt", GENERIC_WRITE, 0, OPEN_ALWAYS, 0));
        EXPECT_FALSE(file.Holds());
        const ScopedHandle process(nullptr);
    }
    EXPECT_EQ(sim::RegistryCloses(), 0);
    EXPECT_EQ(CallsOf("CloseHandle"), 0);
}

TEST_F(OwnersTest, AssigningOverOrClosingAHeapBlockFreesItAndReleaseHandsItOver) {
    void* released = nullptr;
    {
        ScopedHeapBlock block(GeneralAlloc(16));
        block = ScopedHeapBlock(GeneralAlloc(32));
        EXPECT_EQ(sim::Heap().generalFrees, 1);
        block.Close();
        EXPECT_EQ(sim::Heap().generalFrees, 2);
        ScopedHeapBlock kept(GeneralAlloc(8));
        released = kept.Release();
    }
    EXPECT_EQ(sim::Heap().generalFrees, 2);
    EXPECT_EQ(sim::Heap().generalLive, 1);
    GeneralFree(released);
}

// A failing call, then an owner's close before the error is read: the error read is the call's,
// not the close's, whether the close fails or succeeds.
TEST_F(OwnersTest, ACloseKeepsTheLastErrorOfTheCallBeforeIt) {
    {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpFile = u"C:\\tool.exe";
        ASSERT_NE(ShellExecuteExW(&info), FALSE);
        const ScopedHandle process(info.hProcess);
        EXPECT_EQ(CreateFileW(u"C:\\missing.txt", GENERIC_WRITE, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
        sim::FailCall("CloseHandle", ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(sim::Calls().back(), "CloseHandle");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    {
        const ScopedFile file(CreateFileW(u"C:\\made.txt", GENERIC_WRITE, 0, OPEN_ALWAYS, 0));
        ASSERT_TRUE(file.Holds());
        EXPECT_EQ(CreateFileW(u"C:\\missing\\x.txt", GENERIC_WRITE, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    }
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND) << "a close that succeeds sets no error either";
}

}  // namespace
