// HKEY_LOCAL_MACHINE with its 32- and 64-bit views and raw typed values, read and written. Key
// and value names compare without regard to ASCII case, as the registry's do. Registry calls
// report their error as their result and leave the last error alone, as on Windows.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/registry.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim::detail {
namespace {

std::u16string KeyPath(const std::u16string& key) {
    std::u16string folded = FoldCase(key);
    while (!folded.empty() && folded.back() == u'\\') folded.pop_back();
    return folded;
}

int Index(View view) { return view == View::Bit64 ? 1 : 0; }

// A key exists with every key above it, as RegCreateKeyEx leaves them. A key keeps the spelling
// it was first created with, whatever spelling later opens it.
RegistryKey& CreateKey(View view, const std::u16string& key) {
    auto& keys = M().keys[Index(view)];
    std::u16string spelt = key;
    while (!spelt.empty() && spelt.back() == u'\\') spelt.pop_back();
    const std::u16string path = FoldCase(spelt);
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(path.find(u'\\', start), path.size());
        RegistryKey& made = keys[path.substr(0, end)];
        if (made.name.empty()) made.name = spelt.substr(start, end - start);
        if (end == path.size()) return made;
        start = end + 1;
    }
}

const RegistryValue* FindValue(View view, const std::u16string& key, const std::u16string& name) {
    const auto& keys = M().keys[Index(view)];
    const auto found = keys.find(KeyPath(key));
    if (found == keys.end()) return nullptr;
    const auto value = found->second.values.find(FoldCase(name));
    return value == found->second.values.end() ? nullptr : &value->second;
}

// The error that refuses writing the key at `path` (folded), or 0. A denied key denies the keys
// below it too, as the permissions of a key pass to the keys made below it.
LONG WriteDenial(const std::u16string& path) {
    for (const auto& [denied, error] : M().deniedWrites) {
        if (denied.empty() || path == denied || path.starts_with(denied + u"\\")) return error;
    }
    return 0;
}

}  // namespace
}  // namespace sim::detail

namespace sim {

using namespace detail;

void SetMachine64Bit(bool is64Bit) { M().machine64 = is64Bit; }

void MisreportNextValueSize(DWORD byteCount) { M().misreportedSize = byteCount; }

void SetValue(View view, const std::u16string& key, const std::u16string& name, DWORD type,
              const std::vector<std::uint8_t>& bytes) {
    CreateKey(view, key).values[FoldCase(name)] = RegistryValue{type, bytes};
}

void SetString(View view, const std::u16string& key, const std::u16string& name, const std::u16string& text,
               DWORD type) {
    std::vector<std::uint8_t> bytes((text.size() + 1) * sizeof(char16_t));
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    SetValue(view, key, name, type, bytes);
}

void MakeKey(View view, const std::u16string& key) { CreateKey(view, key); }

void DenyKey(const std::u16string& key, LONG error) { M().deniedKeys[KeyPath(key)] = error; }

void DenyRegistryWrites(LONG error, const std::u16string& key) { M().deniedWrites[KeyPath(key)] = error; }

std::optional<RegistryValue> GetValue(View view, const std::u16string& key, const std::u16string& name) {
    const RegistryValue* value = FindValue(view, key, name);
    return value != nullptr ? std::optional<RegistryValue>(*value) : std::nullopt;
}

std::optional<std::u16string> GetString(View view, const std::u16string& key, const std::u16string& name) {
    const RegistryValue* value = FindValue(view, key, name);
    if (value == nullptr || value->type != platform::REG_SZ || value->bytes.size() % sizeof(char16_t) != 0) {
        return std::nullopt;
    }
    std::u16string text(value->bytes.size() / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), value->bytes.data(), value->bytes.size());
    if (text.empty() || text.find(u'\0') != text.size() - 1) return std::nullopt;
    text.pop_back();
    return text;
}

std::optional<DWORD> GetDword(View view, const std::u16string& key, const std::u16string& name) {
    const RegistryValue* value = FindValue(view, key, name);
    if (value == nullptr || value->type != platform::REG_DWORD || value->bytes.size() != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD number = 0;
    for (std::size_t i = 0; i < sizeof number; ++i) number |= DWORD{value->bytes[i]} << (8 * i);
    return number;
}

bool KeyExists(View view, const std::u16string& key) { return M().keys[Index(view)].count(KeyPath(key)) != 0; }

std::vector<std::u16string> SubKeys(View view, const std::u16string& key) {
    const std::u16string above = KeyPath(key);
    const std::u16string prefix = above.empty() ? above : above + u"\\";
    std::vector<std::u16string> names;
    for (const auto& [path, stored] : M().keys[Index(view)]) {
        if (path.size() > prefix.size() && path.starts_with(prefix) &&
            path.find(u'\\', prefix.size()) == std::u16string::npos) {
            names.push_back(stored.name);
        }
    }
    return names;
}

const std::vector<RegistryOpen>& RegistryOpens() { return M().registryOpens; }
const std::vector<RegistryQuery>& RegistryQueries() { return M().registryQueries; }
const std::vector<RegistryCreate>& RegistryCreates() { return M().registryCreates; }
int RegistryCloses() { return M().registryCloses; }
int OpenKeys() { return static_cast<int>(M().openKeys.size()); }

}  // namespace sim

namespace platform {

using namespace sim::detail;
using sim::RegistryValue;
using sim::View;

namespace {

constexpr DWORD WRITE_ACCESS = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

// Where a sub-key of `root` lies: its view, and its path both folded and as spelt (the part that
// an open parent key contributes is folded).
struct Location {
    LONG error = ERROR_SUCCESS;
    View view = View::Bit32;
    std::u16string spelt;
    std::u16string path;
};

Location Locate(HKEY root, const std::u16string& sub, DWORD access) {
    Machine& m = M();
    Location at;
    if (root == HKEY_LOCAL_MACHINE) {
        at.view = m.machine64 && (access & KEY_WOW64_64KEY) && !(access & KEY_WOW64_32KEY) ? View::Bit64 : View::Bit32;
    } else if (auto parent = m.openKeys.find(reinterpret_cast<std::uintptr_t>(root)); parent != m.openKeys.end()) {
        at.view = parent->second.view;
        at.spelt = parent->second.path;
    } else {
        at.error = ERROR_INVALID_HANDLE;
        return at;
    }
    if (!sub.empty() && sub[0] == u'\\') {
        at.error = 161;  // ERROR_BAD_PATHNAME
        return at;
    }
    if (!sub.empty()) at.spelt = at.spelt.empty() ? sub : at.spelt + u"\\" + sub;
    while (!at.spelt.empty() && at.spelt.back() == u'\\') at.spelt.pop_back();
    at.path = FoldCase(at.spelt);
    return at;
}

bool Exists(const Location& at) { return at.path.empty() || M().keys[Index(at.view)].count(at.path) != 0; }

// RegOpenKeyExW, or with a `disposition` to set RegCreateKeyExW. Making a key takes the right to
// write the key it is made in, so a denied account cannot even create a key to read.
LONG OpenOrCreate(HKEY root, const char16_t* subKey, DWORD access, HKEY* result, DWORD* disposition) {
    Machine& m = M();
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    const std::u16string sub = TextOf(subKey);
    const Location at = Locate(root, sub, access);
    if (at.error != ERROR_SUCCESS) return at.error;
    if (auto denied = m.deniedKeys.find(at.path); denied != m.deniedKeys.end()) return denied->second;
    const bool exists = Exists(at);
    if (!exists && disposition == nullptr) return ERROR_FILE_NOT_FOUND;
    if (LONG denied = WriteDenial(at.path); denied != 0 && (!exists || (access & WRITE_ACCESS))) return denied;
    if (!exists) CreateKey(at.view, at.spelt);
    const std::uintptr_t value = NewHandleValue();
    m.openKeys[value] = OpenKey{at.view, at.path, access, sub};
    *result = reinterpret_cast<HKEY>(value);
    if (disposition != nullptr) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LONG Set(HKEY key, const char16_t* name, DWORD type, const std::uint8_t* data, DWORD byteCount) {
    Machine& m = M();
    auto open = m.openKeys.find(reinterpret_cast<std::uintptr_t>(key));
    if (open == m.openKeys.end()) return ERROR_INVALID_HANDLE;
    if (!(open->second.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (data == nullptr && byteCount != 0) return ERROR_NOACCESS;
    std::vector<std::uint8_t> bytes(byteCount);
    if (byteCount != 0) std::memcpy(bytes.data(), data, byteCount);
    m.keys[Index(open->second.view)][open->second.path].values[FoldCase(TextOf(name))] =
        RegistryValue{type, std::move(bytes)};
    return ERROR_SUCCESS;
}

LONG Query(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type, std::uint8_t* data, DWORD* byteCount) {
    Machine& m = M();
    auto open = m.openKeys.find(reinterpret_cast<std::uintptr_t>(key));
    if (open == m.openKeys.end()) return ERROR_INVALID_HANDLE;
    if (reserved != nullptr || (data != nullptr && byteCount == nullptr)) return ERROR_INVALID_PARAMETER;
    if (!(open->second.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    const auto& keys = m.keys[open->second.view == View::Bit64 ? 1 : 0];
    auto found = keys.find(open->second.path);
    if (found == keys.end()) return ERROR_FILE_NOT_FOUND;
    auto value = found->second.values.find(FoldCase(TextOf(name)));
    if (value == found->second.values.end()) return ERROR_FILE_NOT_FOUND;
    const RegistryValue& stored = value->second;
    auto size = static_cast<DWORD>(stored.bytes.size());
    if (type != nullptr) *type = stored.type;
    if (byteCount == nullptr) return ERROR_SUCCESS;
    if (data == nullptr) {
        *byteCount = size;
        return ERROR_SUCCESS;
    }
    if (size > *byteCount) {
        *byteCount = size;
        return ERROR_MORE_DATA;
    }
    std::copy(stored.bytes.begin(), stored.bytes.end(), data);
    *byteCount = size;
    if (m.misreportedSize != 0) {
        *byteCount = m.misreportedSize;
        m.misreportedSize = 0;
    }
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExW(HKEY root, const char16_t* subKey, DWORD options, DWORD access, HKEY* result) {
    DWORD error = 0;
    LONG outcome = Enter("RegOpenKeyExW", TextOf(subKey), &error) ? static_cast<LONG>(error)
                                                                  : OpenOrCreate(root, subKey, access, result, nullptr);
    M().registryOpens.push_back(sim::RegistryOpen{TextOf(subKey), options, access, outcome});
    return outcome;
}

LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type, std::uint8_t* data,
                      DWORD* byteCount) {
    DWORD error = 0;
    DWORD byteCountIn = byteCount != nullptr ? *byteCount : 0;
    LONG outcome = Enter("RegQueryValueExW", TextOf(name), &error) ? static_cast<LONG>(error)
                                                                   : Query(key, name, reserved, type, data, byteCount);
    M().registryQueries.push_back(sim::RegistryQuery{TextOf(name), reserved == nullptr, byteCountIn, outcome});
    return outcome;
}

LONG RegCreateKeyExW(HKEY root, const char16_t* subKey, DWORD access, HKEY* result, DWORD* disposition) {
    DWORD error = 0;
    DWORD made = 0;
    const LONG outcome = Enter("RegCreateKeyExW", TextOf(subKey), &error)
                             ? static_cast<LONG>(error)
                             : OpenOrCreate(root, subKey, access, result, &made);
    if (outcome == ERROR_SUCCESS && disposition != nullptr) *disposition = made;
    M().registryCreates.push_back(sim::RegistryCreate{TextOf(subKey), access, outcome, made});
    return outcome;
}

LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD type, const std::uint8_t* data, DWORD byteCount) {
    DWORD error = 0;
    if (Enter("RegSetValueExW", TextOf(name), &error)) return static_cast<LONG>(error);
    return Set(key, name, type, data, byteCount);
}

LONG RegCloseKey(HKEY key) {
    DWORD error = 0;
    Machine& m = M();
    const auto open = m.openKeys.find(reinterpret_cast<std::uintptr_t>(key));
    bool injected = Enter("RegCloseKey", open != m.openKeys.end() ? open->second.named : std::u16string(), &error);
    ++m.registryCloses;
    if (injected) return static_cast<LONG>(error);
    if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    if (m.openKeys.erase(reinterpret_cast<std::uintptr_t>(key)) == 0) return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

}  // namespace platform
