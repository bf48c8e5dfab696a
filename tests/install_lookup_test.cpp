#include "launcher/install_lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/registry.h"
#include "support/machine.h"
#include "support/named_case.h"
#include "support/text.h"

namespace orvane {
namespace {

using testing::Str;
using testing::UNINSTALL_KEY;

std::vector<std::uint8_t> Bytes(const std::u16string& text, bool terminator = true) {
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
    // The whole buffer, with no room kept for a terminator.
    ASSERT_EQ(sim::RegistryQueries().size(), 2u);
    EXPECT_EQ(sim::RegistryQueries()[0].name, u"InstallLocation");
    EXPECT_TRUE(sim::RegistryQueries()[0].reservedWasNull);
    EXPECT_EQ(sim::RegistryQueries()[0].byteCountIn, 2048u);
}

TEST_F(InstallLookupTest, SuccessAdoptsTheValueBuffer) {
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"C:\\P\\");
    (void)ReadInstallLocation(true);
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

enum class Key { Missing, Present, Denied };

struct ValueCase {
    const char* name;
    Key key;
    platform::DWORD type;  // 0: no value
    std::vector<std::uint8_t> bytes;
    std::u16string found;
    // A failure gives a new empty string with its first block; a value that passes the checks
    // hands over the value buffer itself.
    std::uint32_t capacity = 64;
    platform::DWORD reportedSize = 0;  // what the query says it stored, when not the truth
};
ORVANE_PRINT_BY_NAME(ValueCase)

const std::u16string LONGEST(1023, u'x');
constexpr platform::DWORD SZ = platform::REG_SZ;

const ValueCase VALUE_CASES[] = {
    {"KeyMissing", Key::Missing, 0, {}, u""},
    {"KeyDenied", Key::Denied, SZ, Bytes(u"C:\\P\\"), u""},
    {"ValueMissing", Key::Present, 0, {}, u""},
    {"Longest", Key::Present, SZ, Bytes(LONGEST), LONGEST, 1024},
    {"OneCharacterTooLong", Key::Present, SZ, Bytes(LONGEST + u"x"), u""},
    {"Dword", Key::Present, platform::REG_DWORD, {1, 0, 0, 0}, u""},
    {"Binary", Key::Present, platform::REG_BINARY, Bytes(u"C:\\P"), u""},
    {"MultiString", Key::Present, platform::REG_MULTI_SZ, Bytes(u"C:\\P"), u""},
    {"NoTerminator", Key::Present, SZ, Bytes(u"C:\\P", false), u""},
    {"OddByteCount", Key::Present, SZ, {u'C', 0, u':', 0, 0}, u""},
    {"OddByteCountEndingInAZeroCharacter", Key::Present, SZ, {u'C', 0, 0, 0, 0}, u""},
    {"ZeroBytes", Key::Present, SZ, {}, u"", 1024},
    {"EmptyString", Key::Present, SZ, Bytes(u""), u"", 1024},
    {"EmptyExpandableString", Key::Present, platform::REG_EXPAND_SZ, Bytes(u""), u"", 1024},
    // One character past the room given: its last character would be the buffer's own
    // terminator slot, so only the bound on the count refuses it.
    {"ByteCountPastTheRoom", Key::Present, SZ, Bytes(u"C:\\P"), u"", 64, 2050},
    {"ExpandableStringUnexpanded", Key::Present, platform::REG_EXPAND_SZ, Bytes(u"%ProgramFiles%\\P"),
     u"%ProgramFiles%\\P", 1024},
    {"EndsAtTheFirstZero", Key::Present, SZ, Bytes(std::u16string(u"C:\\A\0B", 6)), u"C:\\A", 1024},
    {"OutsideTheBasicPlane", Key::Present, SZ, Bytes(u"C:\\\U0001F600\\"), u"C:\\\U0001F600\\", 1024},
};

class InstallValueTest : public InstallLookupTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(InstallValueTest, IsReturnedAsStoredOrEmpty) {
    const ValueCase& row = GetParam();
    if (row.key != Key::Missing) sim::MakeKey(sim::View::Bit64, UNINSTALL_KEY);
    if (row.key == Key::Denied) sim::DenyKey(UNINSTALL_KEY, platform::ERROR_ACCESS_DENIED);
    if (row.type != 0) sim::SetValue(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", row.type, row.bytes);
    if (row.reportedSize != 0) sim::MisreportNextValueSize(row.reportedSize);
    const GuardedString found = ReadInstallLocation(true);
    EXPECT_EQ(Str(found), row.found);
    EXPECT_EQ(found.Capacity(), row.capacity);
    EXPECT_EQ(sim::RegistryCloses(), row.key == Key::Present ? 1 : 0);
    EXPECT_EQ(sim::OpenKeys(), 0);
    EXPECT_EQ(sim::Heap().runtimeLive, 1) << "only the result's block is left";
}

ORVANE_NAMED_ROWS(Values, InstallValueTest, VALUE_CASES);

}  // namespace
}  // namespace orvane
