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

// ---- Registry ----------------------------------------------------------------------------

std::u16string ReadString(HKEY key, const char16_t* name) {
    char16_t buffer[64] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<std::uint8_t*>(buffer), &size) != 0) return u"?";
    return buffer;
}

struct ViewRow {
    const char* what;
    bool machine64;
    DWORD access;
    std::u16string seen;  // "?" when the key does not open
};

TEST_F(SimRegistryTest, RegistryViewFollowsTheAccessMaskOnA64BitMachineOnly) {
    const ViewRow rows[] = {
        {"64-bit machine, 64-bit view", true, KEY_QUERY_VALUE | KEY_WOW64_64KEY, u"sixty-four"},
        {"64-bit machine, default view", true, KEY_QUERY_VALUE, u"thirty-two"},
        {"64-bit machine, 32-bit view asked", true, KEY_QUERY_VALUE | KEY_WOW64_32KEY, u"thirty-two"},
        {"32-bit machine ignores the 64-bit flag", false, KEY_QUERY_VALUE | KEY_WOW64_64KEY, u"thirty-two"},
    };
    for (const ViewRow& row : rows) {
        sim::Reset();
        sim::SetMachine64Bit(row.machine64);
        sim::SetString(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", u"sixty-four");
        sim::SetString(sim::View::Bit32, UNINSTALL_KEY, u"InstallLocation", u"thirty-two");
        HKEY key = nullptr;
        ASSERT_EQ(OpenKey(row.access, &key), 0) << row.what;
        EXPECT_EQ(ReadString(key, u"InstallLocation"), row.seen) << row.what;
        EXPECT_EQ(RegCloseKey(key), 0);
    }
}

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
    const char* what;
    std::vector<std::uint8_t> stored;
    DWORD room;
    LONG result;
    DWORD byteCountOut;
};

TEST_F(SimRegistryTest, RegistryValuesAreCopiedRaw) {
    const std::vector<std::uint8_t> noTerminator = {'a', 0, 'b', 0, 'c', 0};
    const QueryRow rows[] = {
        {"fits exactly", noTerminator, 6, 0, 6},
        {"more room", noTerminator, 16, 0, 6},
        {"too small", noTerminator, 4, LONG{ERROR_MORE_DATA}, 6},
        {"odd length", {'a', 0, 'b'}, 16, 0, 3},
        {"empty", {}, 16, 0, 0},
    };
    for (const QueryRow& row : rows) {
        sim::Reset();
        sim::SetValue(sim::View::Bit64, UNINSTALL_KEY, u"InstallLocation", REG_EXPAND_SZ, row.stored);
        HKEY key = nullptr;
        ASSERT_EQ(OpenKey(KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key), 0);
        std::vector<std::uint8_t> buffer(32, 0xEE);
        DWORD type = 0;
        DWORD size = row.room;
        EXPECT_EQ(RegQueryValueExW(key, u"InstallLocation", nullptr, &type, buffer.data(), &size), row.result)
            << row.what;
        EXPECT_EQ(size, row.byteCountOut) << row.what;
        if (row.result == 0) {
            EXPECT_EQ(type, REG_EXPAND_SZ);
            EXPECT_TRUE(std::equal(row.stored.begin(), row.stored.end(), buffer.begin())) << row.what;
        }
        for (std::size_t i = std::min<std::size_t>(row.room, row.stored.size()); i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], 0xEE) << row.what << ": written beyond the value at " << i;
        }
        ASSERT_EQ(sim::RegistryQueries().size(), 1u);
        EXPECT_EQ(sim::RegistryQueries()[0].byteCountIn, row.room);
        EXPECT_TRUE(sim::RegistryQueries()[0].reservedWasNull);
        EXPECT_EQ(sim::RegistryQueries()[0].result, row.result);
        EXPECT_EQ(RegCloseKey(key), 0);
    }
}

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

// ---- Registry writes ---------------------------------------------------------------------

struct CreateRow {
    const char* what;
    bool machine64;
    DWORD viewFlag;
    sim::View made, other;
};

TEST_F(SimRegistryTest, RegistryCreateMakesTheKeyAndThoseAboveItInTheChosenView) {
    using V = sim::View;
    const CreateRow rows[] = {
        {"64-bit machine, 64-bit view", true, KEY_WOW64_64KEY, V::Bit64, V::Bit32},
        {"64-bit machine, default view", true, 0, V::Bit32, V::Bit64},
        {"32-bit machine ignores the 64-bit flag", false, KEY_WOW64_64KEY, V::Bit32, V::Bit64},
    };
    for (const CreateRow& row : rows) {
        sim::Reset();
        sim::SetMachine64Bit(row.machine64);
        sim::MakeKey(row.made, u"SOFTWARE");
        HKEY key = nullptr, below = nullptr, again = nullptr;
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE | row.viewFlag, &key, &disposition), 0)
            << row.what;
        EXPECT_EQ(disposition, REG_CREATED_NEW_KEY) << row.what;
        // Relative to an open key, without a view flag: the parent's view.
        ASSERT_EQ(RegCreateKeyExW(key, u"Runs\\Last", KEY_SET_VALUE, &below, &disposition), 0) << row.what;
        EXPECT_EQ(disposition, REG_CREATED_NEW_KEY) << row.what;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\VELMOR\\orvane.launcher\\", row.viewFlag, &again,
                                  &disposition),
                  0);
        EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY) << row.what;
        EXPECT_EQ(sim::SubKeys(row.made, u"software"), std::vector<std::u16string>{u"Velmor"}) << row.what;
        EXPECT_EQ(sim::SubKeys(row.made, u"SOFTWARE\\Velmor"), std::vector<std::u16string>{u"Orvane.Launcher"});
        EXPECT_TRUE(sim::KeyExists(row.made, std::u16string(RECORD_KEY) + u"\\Runs\\Last")) << row.what;
        EXPECT_FALSE(sim::KeyExists(row.other, u"SOFTWARE\\Velmor")) << row.what;
        EXPECT_EQ(sim::RegistryCreates().at(1).subKey, u"Runs\\Last");
        EXPECT_EQ(sim::Trace().at(1).on, u"Runs\\Last") << "named as spelt";
        for (HKEY open : {key, below, again}) EXPECT_EQ(RegCloseKey(open), 0);
        EXPECT_EQ(sim::OpenKeys(), 0);
    }
}

TEST_F(SimRegistryTest, RegistrySetValueStoresRawBytesOnAKeyOpenedToWrite) {
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
    RegCloseKey(key);
    EXPECT_EQ(RegSetValueExW(key, u"Other", REG_DWORD, number, 4), LONG{ERROR_INVALID_HANDLE});
}

struct DenialRow {
    const char* what;
    std::u16string denied;  // the key denied with everything below it; "" is all of HKLM
    bool exists;            // the record key exists before the call
    bool create;            // RegCreateKeyExW, else RegOpenKeyExW
    DWORD access;
    LONG result;
};

TEST_F(SimRegistryTest, RegistryWritesDeniedToAStandardUser) {
    const LONG DENIED = ERROR_ACCESS_DENIED;
    const DenialRow rows[] = {
        {"create to write", u"", false, true, KEY_SET_VALUE, DENIED},
        {"create to read a missing key", u"", false, true, KEY_QUERY_VALUE, DENIED},
        {"create opens an existing key to read", u"", true, true, KEY_QUERY_VALUE, 0},
        {"create of an existing key to add keys", u"", true, true, KEY_CREATE_SUB_KEY, DENIED},
        {"open to write", u"", true, false, KEY_SET_VALUE, DENIED},
        {"open to read", u"", true, false, KEY_QUERY_VALUE, 0},
        {"denied above the key", u"software\\velmor", false, true, KEY_SET_VALUE, DENIED},
        {"denied beside the key", u"SOFTWARE\\Velmor\\Orvane", false, true, KEY_SET_VALUE, 0},
    };
    for (const DenialRow& row : rows) {
        sim::Reset();
        if (row.exists) sim::MakeKey(sim::View::Bit64, RECORD_KEY);
        sim::DenyRegistryWrites(DENIED, row.denied);
        HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A});
        DWORD disposition = 77;
        const DWORD access = row.access | KEY_WOW64_64KEY;
        const LONG result = row.create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, access, &key, &disposition)
                                       : RegOpenKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, access, &key);
        EXPECT_EQ(result, row.result) << row.what;
        EXPECT_EQ(sim::KeyExists(sim::View::Bit64, RECORD_KEY), row.exists || result == 0) << row.what;
        if (result != 0) {
            EXPECT_EQ(key, reinterpret_cast<HKEY>(std::uintptr_t{0x5A5A})) << row.what;
            EXPECT_EQ(disposition, 77u) << row.what;
        } else {
            RegCloseKey(key);
        }
    }
    sim::Reset();
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RECORD_KEY, KEY_SET_VALUE, &key, nullptr), 0) << "Reset lifts it";
    RegCloseKey(key);
}

}  // namespace
