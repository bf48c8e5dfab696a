// HKEY_LOCAL_MACHINE with its 32- and 64-bit views and raw typed values. Key and value names
// compare without regard to ASCII case, as the registry's do. Registry calls report their
// error as their result and leave the last error alone, as on Windows.
#include <algorithm>
#include <cstring>

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

// A key exists with every key above it, as RegCreateKeyEx leaves them.
RegistryKey& CreateKey(View view, const std::u16string& key) {
    auto& keys = M().keys[Index(view)];
    std::u16string path = KeyPath(key);
    for (std::size_t at = path.find(u'\\'); at != std::u16string::npos; at = path.find(u'\\', at + 1)) {
        keys[path.substr(0, at)];
    }
    return keys[path];
}

}  // namespace
}  // namespace sim::detail

namespace sim {

using namespace detail;

void SetMachine64Bit(bool is64Bit) { M().machine64 = is64Bit; }

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

const std::vector<RegistryOpen>& RegistryOpens() { return M().registryOpens; }
const std::vector<RegistryQuery>& RegistryQueries() { return M().registryQueries; }
int RegistryCloses() { return M().registryCloses; }
int OpenKeys() { return static_cast<int>(M().openKeys.size()); }

}  // namespace sim

namespace platform {

using namespace sim::detail;
using sim::View;

namespace {

LONG Open(HKEY root, const char16_t* subKey, DWORD access, HKEY* result) {
    Machine& m = M();
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    std::u16string path;
    View view = View::Bit32;
    if (root == HKEY_LOCAL_MACHINE) {
        view = m.machine64 && (access & KEY_WOW64_64KEY) && !(access & KEY_WOW64_32KEY) ? View::Bit64 : View::Bit32;
    } else if (auto parent = m.openKeys.find(reinterpret_cast<std::uintptr_t>(root)); parent != m.openKeys.end()) {
        view = parent->second.view;
        path = parent->second.path;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    std::u16string sub = TextOf(subKey);
    if (!sub.empty() && sub[0] == u'\\') return 161;  // ERROR_BAD_PATHNAME
    if (!sub.empty()) path = path.empty() ? KeyPath(sub) : path + u"\\" + KeyPath(sub);
    if (auto denied = m.deniedKeys.find(path); denied != m.deniedKeys.end()) return denied->second;
    if (!path.empty() && m.keys[view == View::Bit64 ? 1 : 0].count(path) == 0) return ERROR_FILE_NOT_FOUND;
    std::uintptr_t value = NewHandleValue();
    m.openKeys[value] = OpenKey{view, path, access, sub};
    *result = reinterpret_cast<HKEY>(value);
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
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExW(HKEY root, const char16_t* subKey, DWORD options, DWORD access, HKEY* result) {
    DWORD error = 0;
    LONG outcome =
        Enter("RegOpenKeyExW", TextOf(subKey), &error) ? static_cast<LONG>(error) : Open(root, subKey, access, result);
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
