// The simulation's registry: views, raw values, writes and what a standard user may not do.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimRegistryTest = SimFixture;

std::u16string ReadString(HKEY key, const char16_t* name) {
    char16_t buffer[64] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<std::uint8_t*>(buffer), &size) != 0) return u"?";
    return buffer;
}

struct ViewRow {
    const char* name;
    bool machine64;
    DWORD access;
    std::u16string seen;
};
ORVANE_PRINT_BY_NAME(ViewRow)

const ViewRow VIEW_ROWS[] = {
    {"Machine64View64", true, KEY_QUERY_VALUE | KEY_WOW64_64KEY, u"sixty-four"},
    {"Machine64DefaultView", true, KEY_QUERY_VALUE, u"thirty-two"},
    {"Machine64View32Asked", true, KEY_QUERY_VALUE | KEY_WOW64_32KEY, u"thirty-two"},
    {"Machine32IgnoresThe64BitFlag", false, KEY_QUERY_VALUE | KEY_WOW64_64KEY, u"thirty-two"},
};

class RegistryViewTest : public SimFixture, public ::testing::WithParamInterface<ViewRow> {};

TEST_P(RegistryViewTest, FollowsTheAccessMaskOnA64BitMachineOnly) {
    sim::SetMachine64Bit(GetParam().machine64);
    sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"sixty-four");
    sim::SetString(sim::View::Bit32, UNINSTALL_KEY, u"InstallLocation", u"thirty-two");
    HKEY key = nullptr;
    ASSERT_EQ(OpenKey(GetParam().access, &key), 0);
    EXPECT_EQ(ReadString(key, u"InstallLocation"), GetParam().seen);
    EXPECT_EQ(RegCloseKey(key), 0);
}

ORVANE_NAMED_ROWS(Rows, RegistryViewTest, VIEW_ROWS);

TEST_F(SimRegistryTest, RegistryKeysThatAreMissingOrDenied) {
    sim::SetString(sim::View::Bit32, UNINSTALL_KEY, u"InstallLocation", u"x");
    HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A});
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), LONG{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(key, reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A})) << "untouched on failure";
    // Names compare without case; the keys above a value exist too.
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\MICROSOFT", 0, KEY_QUERY_VALUE, &key), 0);
    EXPECT_EQ(RegCloseKey(key), 0);
    sim::DenyKey(UNINSTALL_KEY, LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE, &key), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(sim::RegistryOpens().size(), 4u);
    EXPECT_EQ(sim::RegistryOpens()[3].access, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
    EXPECT_EQ(sim::RegistryOpens()[3].result, LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(sim::OpenKeys(), 0);
}

struct QueryRow {
    const char* name;
    std::vector<std::uint8_t> stored;
    DWORD room;
    LONG result;
    DWORD byteCountOut;
};
ORVANE_PRINT_BY_NAME(QueryRow)

const std::vector<std::uint8_t> NO_TERMINATOR = {'a', 0, 'b', 0, 'c', 0};

const QueryRow QUERY_ROWS[] = {
    {"FitsExactly", NO_TERMINATOR, 6, 0, 6},
    {"MoreRoom", NO_TERMINATOR, 16, 0, 6},
    {"TooSmall", NO_TERMINATOR, 4, LONG{ERROR_MORE_DATA}, 6},
    {"OneByteShort", NO_TERMINATOR, 5, LONG{ERROR_MORE_DATA}, 6},
    {"OddLength", {'a', 0, 'b'}, 16, 0, 3},
    {"Empty", {}, 16, 0, 0},
};

class RegistryQueryTest : public SimFixture, public ::testing::WithParamInterface<QueryRow> {};

TEST_P(RegistryQueryTest, CopiesTheValueRaw) {
    const QueryRow& row = GetParam();
    sim::SetValue(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", REG_EXPAND_SZ, row.stored);
    HKEY key = nullptr;
    ASSERT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), 0);
    std::vector<std::uint8_t> buffer(32, 0xEE);
    DWORD type = 0;
    DWORD size = row.room;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallLocation", nullptr, &type, buffer.data(), &size), row.result);
    EXPECT_EQ(size, row.byteCountOut);
    if (row.result == 0) {
        EXPECT_EQ(type, REG_EXPAND_SZ);
        EXPECT_TRUE(std::equal(row.stored.begin(), row.stored.end(), buffer.begin()));
    }
    for (std::size_t i = std::min<std::size_t>(row.room, row.stored.size()); i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], 0xEE) << "written beyond the value at " << i;
    }
    ASSERT_EQ(sim::RegistryQueries().size(), 1u);
    EXPECT_EQ(sim::RegistryQueries()[0].byteCountIn, row.room);
    EXPECT_TRUE(sim::RegistryQueries()[0].reservedWasNull);
    EXPECT_EQ(sim::RegistryQueries()[0].result, row.result);
    EXPECT_EQ(RegCloseKey(key), 0);
}

ORVANE_NAMED_ROWS(Rows, RegistryQueryTest, QUERY_ROWS);

TEST_F(SimRegistryTest, RegistryQueryOfAMissingValueAndKeyBookkeeping) {
    sim::SetValue(sim::View::Bit64, UNINSTALL_KEY, u"Other", REG_DWORD, {1, 0, 0, 0});
    HKEY key = nullptr;
    ASSERT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), 0);
    EXPECT_EQ(sim::OpenKeys(), 1);
    std::uint8_t buffer[8];
    DWORD type = 0, size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallLocation", nullptr, &type, buffer, &size), LONG{ERROR_FILE_NOT_FOUND});
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, u"other", nullptr, &type, buffer, &size), 0);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_EQ(RegCloseKey(key), LONG{ERROR_INVALID_HANDLE});
    EXPECT_EQ(sim::RegistryCloses(), 2);
    EXPECT_EQ(sim::OpenKeys(), 0);
}

struct CreateRow {
    const char* name;
    bool machine64;
    DWORD viewFlag;
    sim::View made, other;
};
ORVANE_PRINT_BY_NAME(CreateRow)

const CreateRow CREATE_ROWS[] = {
    {"Machine64View64", true, KEY_WOW64_64KEY, sim::View::Bit64, sim::View::Bit32},
    {"Machine64DefaultView", true, 0, sim::View::Bit32, sim::View::Bit64},
    {"Machine32IgnoresThe64BitFlag", false, KEY_WOW64_64KEY, sim::View::Bit32, sim::View::Bit64},
};

class RegistryCreateTest : public SimFixture, public ::testing::WithParamInterface<CreateRow> {};

TEST_P(RegistryCreateTest, MakesTheKeyAndThoseAboveItInTheChosenView) {
    const CreateRow& row = GetParam();
    sim::SetMachine64Bit(row.machine64);
    sim::MakeKey(row.made, u"SOFTWARE");
    HKEY key = nullptr, below = nullptr, again = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE | row.viewFlag, &key, &disposition), 0);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    // Relative to an open key, without a view flag: the parent's view.
    ASSERT_EQ(RegCreateKeyExW(key, u"Runs\\Last", KEY_SET_VALUE, &below, &disposition), 0);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\VELMOR\\orvane.launcher\\", row.viewFlag, &again, &disposition),
        0);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(sim::SubKeys(row.made, u"software"), std::vector<std::u16string>{u"Velmor"});
    EXPECT_EQ(sim::SubKeys(row.made, u"SOFTWARE\\Velmor"), std::vector<std::u16string>{u"Orvane.Launcher"});
    EXPECT_TRUE(sim::KeyExists(row.made, std::u16string(RECORD_KEY) + u"\\Runs\\Last"));
    EXPECT_FALSE(sim::KeyExists(row.other, u"SOFTWARE\\Velmor"));
    EXPECT_EQ(sim::RegistryCreates().at(1).subKey, u"Runs\\Last");
    EXPECT_EQ(sim::Trace().at(1).on, u"Runs\\Last") << "named as spelt";
    for (HKEY open : {key, below, again}) EXPECT_EQ(RegCloseKey(open), 0);
    EXPECT_EQ(sim::OpenKeys(), 0);
}

ORVANE_NAMED_ROWS(Rows, RegistryCreateTest, CREATE_ROWS);

TEST_F(SimRegistryTest, RegistrySetValueStoresRawBytesOnAKeyOpenedToWriteAndOnlyThere) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key,
                              nullptr),
              0);
    const std::u16string path = u"D:\\deploy";
    const auto* text = reinterpret_cast<const std::uint8_t*>(path.c_str());
    const std::uint8_t number[] = {0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(RegSetValueExW(key, u"Folder", REG_SZ, text, static_cast<DWORD>(2 * (path.size() + 1))), 0);
    EXPECT_EQ(RegSetValueExW(key, u"Unterminated", REG_SZ, text, static_cast<DWORD>(2 * path.size())), 0);
    EXPECT_EQ(RegSetValueExW(key, u"Code", REG_BINARY, number, 3), 0);
    EXPECT_EQ(RegSetValueExW(key, u"code", REG_DWORD, number, 4), 0) << "replaces, whatever the case";
    EXPECT_EQ(sim::Trace().back().on, u"code");
    constexpr sim::View V64 = sim::View::Bit64;
    EXPECT_EQ(sim::GetString(V64, RECORD_KEY, u"folder"), path);
    EXPECT_EQ(sim::GetString(V64, RECORD_KEY, u"Unterminated"), std::nullopt);
    EXPECT_EQ(sim::GetValue(V64, RECORD_KEY, u"Unterminated")->bytes.size(), 2 * path.size());
    EXPECT_EQ(sim::GetDword(V64, RECORD_KEY, u"Code"), 0x01020304u);
    EXPECT_EQ(sim::GetString(V64, RECORD_KEY, u"Code"), std::nullopt);
    EXPECT_EQ(sim::GetValue(sim::View::Bit32, RECORD_KEY, u"Code"), std::nullopt);
    EXPECT_EQ(ReadString(key, u"Folder"), path) << "the same store the reads use";
    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &readOnly), 0);
    EXPECT_EQ(RegSetValueExW(readOnly, u"Other", REG_DWORD, number, 4), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(sim::GetValue(V64, RECORD_KEY, u"Other"), std::nullopt);
    RegCloseKey(readOnly);
    HKEY writeOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &writeOnly), 0);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(writeOnly, u"Folder", nullptr, nullptr, nullptr, &size), LONG{ERROR_ACCESS_DENIED});
    RegCloseKey(writeOnly);
    RegCloseKey(key);
    EXPECT_EQ(RegSetValueExW(key, u"Other", REG_DWORD, number, 4), LONG{ERROR_INVALID_HANDLE});
}

struct DenialRow {
    const char* name;
    std::u16string denied;  // the key denied with everything below it; "" is all of HKLM
    bool exists;            // the record key exists before the call
    bool create;            // RegCreateKeyExW, else RegOpenKeyExW
    DWORD access;
    LONG result;
};
ORVANE_PRINT_BY_NAME(DenialRow)

constexpr LONG DENIED = ERROR_ACCESS_DENIED;

const DenialRow DENIAL_ROWS[] = {
    {"CreateToWrite", u"", false, true, KEY_SET_VALUE, DENIED},
    {"CreateToReadAMissingKey", u"", false, true, KEY_QUERY_VALUE, DENIED},
    {"CreateOpensAnExistingKeyToRead", u"", true, true, KEY_QUERY_VALUE, 0},
    {"CreateOfAnExistingKeyToAddKeys", u"", true, true, KEY_CREATE_SUB_KEY, DENIED},
    {"OpenToWrite", u"", true, false, KEY_SET_VALUE, DENIED},
    {"OpenToRead", u"", true, false, KEY_QUERY_VALUE, 0},
    {"DeniedAboveTheKey", u"software\\velmor", false, true, KEY_SET_VALUE, DENIED},
    {"DeniedBesideTheKey", u"SOFTWARE\\Velmor\\Orvane", false, true, KEY_SET_VALUE, 0},
};

class RegistryDenialTest : public SimFixture, public ::testing::WithParamInterface<DenialRow> {};

TEST_P(RegistryDenialTest, RefusesAStandardUsersWrites) {
    const DenialRow& row = GetParam();
    if (row.exists) sim::MakeKey(sim::View::Bit64, RECORD_KEY);
    sim::DenyRegistryWrites(DENIED, row.denied);
    HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A});
    DWORD disposition = 77;
    const DWORD access = row.access | KEY_WOW64_64KEY;
    const LONG result = row.create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, access, &key, &disposition)
                                   : RegOpenKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, access, &key);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(sim::KeyExists(sim::View::Bit64, RECORD_KEY), row.exists || result == 0);
    if (result != 0) {
        EXPECT_EQ(key, reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A}));
        EXPECT_EQ(disposition, 77u);
    } else {
        RegCloseKey(key);
    }
    sim::Reset();
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE, &key, nullptr), 0) << "Reset lifts it";
    RegCloseKey(key);
}

ORVANE_NAMED_ROWS(Rows, RegistryDenialTest, DENIAL_ROWS);

}  // namespace
