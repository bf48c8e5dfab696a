#include "launcher/install_lookup.h"

#include "platform/fatal_stop.h"
#include "platform/owners.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace orvane {

namespace {

constexpr const char16_t* UNINSTALL_KEY = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvantis";
constexpr const char16_t* VALUE_NAME = u"InstallLocation";
constexpr std::uint32_t VALUE_CHARACTERS = 1024;

/// The empty result: a string with its first block and no characters.
void MakeEmpty(GuardedString& result) {
    if (!result.Assign(EMPTY_TEXT, TO_TERMINATOR)) platform::FatalStop(platform::FatalSite::BlockAllocationFailed);
}

/// The status of a query by the rules for a string value: its own error, 13 for another type,
/// an odd byte count or a missing terminator; a value of zero bytes is the empty text.
platform::LONG Validate(platform::LONG queryStatus, platform::DWORD type, platform::DWORD byteCount, char16_t* chars) {
    if (queryStatus != 0) return queryStatus;
    if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) return platform::ERROR_INVALID_DATA;
    if (byteCount == 0) {
        chars[0] = 0;
        return 0;
    }
    // A count beyond the room given cannot come from a well-behaved registry; refusing it keeps
    // the terminator test inside the buffer.
    if (byteCount % 2 != 0 || byteCount > 2 * VALUE_CHARACTERS || chars[byteCount / 2 - 1] != 0) {
        return platform::ERROR_INVALID_DATA;
    }
    return 0;
}

}  // namespace

GuardedString ReadInstallLocation(bool use64BitView) {
    const platform::DWORD access = platform::KEY_QUERY_VALUE | (use64BitView ? platform::KEY_WOW64_64KEY : 0);
    GuardedString result;
    platform::ScopedKey key;
    if (platform::RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, access, key.Receive()) != 0) {
        MakeEmpty(result);
        return result;
    }

    GuardedString buffer;
    if (!buffer.Reserve(0) || !buffer.Reserve(VALUE_CHARACTERS)) {
        platform::FatalStop(platform::FatalSite::BlockAllocationFailed);
    }
    char16_t* chars = buffer.WritableBuffer();
    platform::DWORD type = 0;
    // 2048 bytes: the 1024 characters and no more. The terminator slot behind them is always 0,
    // so the scan below ends inside the block whatever the registry wrote.
    platform::DWORD byteCount = 2 * VALUE_CHARACTERS;
    const platform::LONG query = platform::RegQueryValueExW(key.Get(), VALUE_NAME, nullptr, &type,
                                                            reinterpret_cast<std::uint8_t*>(chars), &byteCount);
    const platform::LONG status = Validate(query, type, byteCount, chars);
    buffer.Recount();

    if (status != 0) {
        MakeEmpty(result);
    } else {
        result.TakeOver(buffer);
    }
    return result;
}

}  // namespace orvane
