#include "launcher/install_lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/registry.h"
#include "support/machine.h"
#include "support/text.h"

namespace orvane {
namespace {

using testing::UNINSTALL_KEY;

using testing::Str;

std::vector<std::uint8_t> Bytes(const std::u16string& text, bool terminator) {
    std::vector<std::uint8_t> bytes((text.size() + (terminator ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

class InstallLookupTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(InstallLookupTest, ReadsTheValueFromTheRequestedView) {
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\Product64\\");
    sim::SetString(sim::View::Bit32, UNINSTALL_KEY, u"InstallLocation", u"C:\\Product32\\");
    EXPECT_EQ(Str(ReadInstallLocation(true)), u"C:\\Product64\\");
    EXPECT_EQ(Str(ReadInstallLocation(false)), u"C:\\Product32\\");
    ASSERT_EQ(sim::RegistryOpens().size(), 2u);
    EXPECT_EQ(sim::RegistryOpens()[0].access, 0x0101u);
    EXPECT_EQ(sim::RegistryOpens()[1].access, 0x0001u);
    EXPECT_EQ(sim::RegistryOpens()[0].subKey, UNINSTALL_KEY);
    EXPECT_EQ(sim::RegistryOpens()[0].options, 0u);
    EXPECT_EQ(sim::RegistryCloses(), 2);
    EXPECT_EQ(sim::OpenKeys(), 0);
}

TEST_F(InstallLookupTest, QueryIsToldTheWholeBufferWithoutRoomForATerminator) {
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\P");
    (void)ReadInstallLocation(true);
    ASSERT_EQ(sim::RegistryQueries().size(), 1u);
    EXPECT_EQ(sim::RegistryQueries()[0].name, u"InstallLocation");
    EXPECT_TRUE(sim::RegistryQueries()[0].reservedWasNull);
    EXPECT_EQ(sim::RegistryQueries()[0].byteCountIn, 2048u);
}

TEST_F(InstallLookupTest, SuccessAdoptsTheValueBuffer) {
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\P\\");
    const GuardedString found = ReadInstallLocation(true);
    EXPECT_EQ(found.Capacity(), 1024u) << "the buffer itself, not a copy";
    EXPECT_EQ(sim::Heap().generalAllocs, 1);
    EXPECT_EQ(sim::Heap().runtimeAllocs + sim::Heap().runtimeReallocs, 2) << "a first block, then one resize";
}

TEST_F(InstallLookupTest, NoBlockForTheValueIsTheFatalStop) {
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\P\\");
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_DEATH(
        {
            sim::FailRuntimeAllocation(1);
            (void)ReadInstallLocation(true);
        },
        "fatal stop: block allocation failed");
}

TEST_F(InstallLookupTest, FailureTable) {
    struct Row {
        const char* situation;
        bool makeKey;
        platform::DWORD type;
        std::vector<std::uint8_t> bytes;  // empty with makeValue false: no value
        bool makeValue;
        // A failure gives a new empty string with its first block; an empty value passes the
        // checks and hands over the value buffer itself.
        std::uint32_t capacity = 64;
        platform::DWORD reportedSize = 0;  // what the query says it stored, when not the truth
    };
    const std::u16string long1024(1024, u'x');
    const Row rows[] = {
        {"key missing", false, 0, {}, false},
        {"value missing", true, 0, {}, false},
        {"1024 characters plus terminator", true, platform::REG_SZ, Bytes(long1024, true), true},
        {"REG_DWORD", true, platform::REG_DWORD, {1, 0, 0, 0}, true},
        {"REG_BINARY", true, platform::REG_BINARY, Bytes(u"C:\\P", true), true},
        {"REG_MULTI_SZ", true, platform::REG_MULTI_SZ, Bytes(u"C:\\P", true), true},
        {"no terminator", true, platform::REG_SZ, Bytes(u"C:\\P", false), true},
        {"odd byte count", true, platform::REG_SZ, {u'C', 0, u':', 0, 0}, true},
        {"odd byte count ending in a zero character", true, platform::REG_SZ, {u'C', 0, 0, 0, 0}, true},
        {"zero bytes", true, platform::REG_SZ, {}, true, 1024},
        {"empty string", true, platform::REG_SZ, Bytes(u"", true), true, 1024},
        {"empty expandable string", true, platform::REG_EXPAND_SZ, Bytes(u"", true), true, 1024},
        // One character past the room given: its last character would be the buffer's own
        // terminator slot, so only the bound on the count refuses it.
        {"byte count past the room", true, platform::REG_SZ, Bytes(u"C:\\P", true), true, 64, 2050},
    };
    for (const Row& row : rows) {
        sim::Reset();
        if (row.makeKey) sim::MakeKey(sim::View::Bit64, UNINSTALL_KEY);
        if (row.makeValue) sim::SetValue(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", row.type, row.bytes);
        if (row.reportedSize != 0) sim::MisreportNextValueSize(row.reportedSize);
        const GuardedString found = ReadInstallLocation(true);
        EXPECT_EQ(found.Length(), 0u) << row.situation;
        EXPECT_EQ(found.Capacity(), row.capacity) << row.situation;
        EXPECT_EQ(sim::RegistryCloses(), row.makeKey ? 1 : 0) << row.situation;
        EXPECT_EQ(sim::OpenKeys(), 0) << row.situation;
        EXPECT_EQ(sim::Heap().runtimeLive, 1) << row.situation << ": only the result's block is left";
    }
}

TEST_F(InstallLookupTest, AccessDeniedGivesTheEmptyResultAndClosesNothing) {
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\P\\");
    sim::DenyKey(UNINSTALL_KEY, platform::ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadInstallLocation(true).Length(), 0u);
    EXPECT_EQ(sim::RegistryCloses(), 0);
}

TEST_F(InstallLookupTest, LengthEdgeAt1023Characters) {
    const std::u16string longest(1023, u'y');
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", longest);
    EXPECT_EQ(Str(ReadInstallLocation(true)), longest);
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", longest + u"y");
    EXPECT_EQ(ReadInstallLocation(true).Length(), 0u);
}

TEST_F(InstallLookupTest, ValueIsReturnedAsStored) {
    struct Row {
        platform::DWORD type;
        std::vector<std::uint8_t> bytes;
        std::u16string expected;
    };
    const Row rows[] = {
        {platform::REG_EXPAND_SZ, Bytes(u"%ProgramFiles%\\Product", true), u"%ProgramFiles%\\Product"},
        {platform::REG_SZ, Bytes(u"C:\\Product", true), u"C:\\Product"},
        {platform::REG_SZ, Bytes(std::u16string(u"C:\\A\0B", 6), true), u"C:\\A"},
        {platform::REG_SZ, Bytes(u"C:\\\U0001F600\\", true), u"C:\\\U0001F600\\"},
    };
    for (const Row& row : rows) {
        sim::Reset();
        sim::SetValue(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", row.type, row.bytes);
        EXPECT_EQ(Str(ReadInstallLocation(true)), row.expected);
    }
}

TEST_F(InstallLookupTest, ThirtyTwoBitMachineHasOneView) {
    sim::SetMachine64Bit(false);
    sim::SetString(sim::View::Bit32, UNINSTALL_KEY, u"InstallLocation", u"C:\\Only\\");
    EXPECT_EQ(Str(ReadInstallLocation(false)), u"C:\\Only\\");
}

}  // namespace
}  // namespace orvane
