// Owners and DACLs of files and folders, the launcher's access token, security descriptors in
// their text form, and the SIDs that name them, in Windows' binary form so that the logic's own
// SID constants compare as they would on Windows.
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim::detail {
namespace {

constexpr DWORD WRITE_DAC = 0x00040000;
// The generic file rights as the file system maps them.
constexpr DWORD FILE_ALL_ACCESS = 0x001F01FF;
constexpr DWORD FILE_GENERIC_READ = 0x00120089;
constexpr DWORD FILE_GENERIC_WRITE = 0x00120116;
constexpr DWORD FILE_GENERIC_EXECUTE = 0x001200A0;

std::vector<std::uint8_t> MakeSid(std::initializer_list<std::uint32_t> subAuthorities) {
    std::vector<std::uint8_t> sid = {1, static_cast<std::uint8_t>(subAuthorities.size()), 0, 0, 0, 0, 0, 5};
    for (std::uint32_t part : subAuthorities) {
        for (int shift = 0; shift < 32; shift += 8) sid.push_back(static_cast<std::uint8_t>(part >> shift));
    }
    return sid;
}

std::vector<std::uint8_t> SidOf(Account account) {
    switch (account) {
        case Account::System: return MakeSid({18});
        case Account::Administrators: return MakeSid({32, 544});
        case Account::TrustedInstaller: return MakeSid({80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464});
        case Account::User: return MakeSid({21, 1004336348, 1177238915, 682003330, 1001});
        case Account::OtherUser: return MakeSid({21, 1004336348, 1177238915, 682003330, 1002});
    }
    return {};
}

std::size_t SidLength(platform::PSID sid) { return 8 + 4 * std::size_t{reinterpret_cast<const std::uint8_t*>(sid)[1]}; }

bool SameSid(platform::PSID sid, const std::vector<std::uint8_t>& bytes) {
    return SidLength(sid) == bytes.size() && std::memcmp(sid, bytes.data(), bytes.size()) == 0;
}

/// What the security calls hand out for LocalFree: GetSecurityInfo's owner SID, or a descriptor
/// made from its text form.
struct Descriptor {
    std::vector<std::uint8_t> owner;
    std::optional<Account> namedOwner;
    Dacl dacl;
};

Account OwnerOf(const ObjectId& id) {
    auto it = M().owners.find(id);
    return it == M().owners.end() ? Account::Administrators : it->second;
}

// Vista's defaults: an elevated administrator's new objects belong to the Administrators group,
// SYSTEM's to SYSTEM, anyone else's to the user.
Account DefaultOwner() {
    const Machine& m = M();
    if (m.processAccount == Account::User || m.processAccount == Account::OtherUser) {
        return m.processElevated ? Account::Administrators : m.processAccount;
    }
    return m.processAccount;
}

bool Applies(const Ace& ace, Account who, bool elevated) {
    switch (ace.trustee) {
        case Trustee::System: return who == Account::System;
        case Trustee::Administrators: return elevated;
        case Trustee::Users: return true;
        case Trustee::CreatorOwner: return false;  // only a placeholder for what is created inside
        case Trustee::OneAccount: return who == ace.account;
    }
    return false;
}

DWORD Granted(const Dacl& dacl, Account who, bool elevated) {
    DWORD mask = 0;
    for (const Ace& ace : dacl.aces) {
        if (!ace.inheritOnly && Applies(ace, who, elevated)) mask |= ace.mask;
    }
    return mask;
}

// ---- the text form of a security descriptor ----

struct SddlReader {
    std::u16string text;
    std::size_t at = 0;

    bool Take(const char16_t* token) {
        const std::u16string t(token);
        if (text.compare(at, t.size(), t) != 0) return false;
        at += t.size();
        return true;
    }
    std::u16string Until(char16_t end) {
        const std::size_t stop = text.find(end, at);
        std::u16string field = text.substr(at, stop == std::u16string::npos ? std::u16string::npos : stop - at);
        at = stop == std::u16string::npos ? text.size() : stop;
        return field;
    }
};

bool ParseTrustee(const std::u16string& alias, Ace& ace) {
    if (alias == u"SY") {
        ace.trustee = Trustee::System;
    } else if (alias == u"BA") {
        ace.trustee = Trustee::Administrators;
    } else if (alias == u"BU" || alias == u"AU" || alias == u"WD") {
        ace.trustee = Trustee::Users;
    } else if (alias == u"CO") {
        ace.trustee = Trustee::CreatorOwner;
    } else {
        return false;
    }
    return true;
}

bool ParseRights(const std::u16string& rights, DWORD& mask) {
    if (rights.starts_with(u"0x")) {
        mask = static_cast<DWORD>(std::stoul(Utf8(rights.substr(2)), nullptr, 16));
        return true;
    }
    for (std::size_t i = 0; i < rights.size(); i += 2) {
        const std::u16string right = rights.substr(i, 2);
        if (right == u"FA") {
            mask |= FILE_ALL_ACCESS;
        } else if (right == u"FR") {
            mask |= FILE_GENERIC_READ;
        } else if (right == u"FW") {
            mask |= FILE_GENERIC_WRITE;
        } else if (right == u"FX") {
            mask |= FILE_GENERIC_EXECUTE;
        } else {
            return false;
        }
    }
    return !rights.empty();
}

bool ParseAce(const std::u16string& text, Ace& ace) {
    std::vector<std::u16string> fields(1);
    for (char16_t c : text) {
        if (c == u';') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (fields.size() != 6 || fields[0] != u"A" || !fields[3].empty() || !fields[4].empty()) return false;
    for (std::size_t i = 0; i < fields[1].size(); i += 2) {
        const std::u16string flag = fields[1].substr(i, 2);
        if (flag == u"OI") {
            ace.objectInherit = true;
        } else if (flag == u"CI") {
            ace.containerInherit = true;
        } else if (flag == u"IO") {
            ace.inheritOnly = true;
        } else {
            return false;
        }
    }
    return ParseRights(fields[2], ace.mask) && ParseTrustee(fields[5], ace);
}

bool ParseSddl(const std::u16string& text, Descriptor& out) {
    SddlReader in{text};
    if (in.Take(u"O:")) {
        const std::u16string owner = in.Until(u':');
        if (owner.size() < 3) return false;
        const std::u16string alias = owner.substr(0, 2);
        in.at -= owner.size() - 2;  // the next part's letter belongs to it
        if (alias == u"BA") {
            out.namedOwner = Account::Administrators;
        } else if (alias == u"SY") {
            out.namedOwner = Account::System;
        } else {
            return false;
        }
    }
    if (!in.Take(u"D:")) return false;
    out.dacl.isProtected = in.Take(u"P");
    while (in.Take(u"(")) {
        Ace ace;
        if (!ParseAce(in.Until(u')'), ace) || !in.Take(u")")) return false;
        out.dacl.aces.push_back(ace);
    }
    return in.at == in.text.size();
}

}  // namespace

ObjectId IdOf(const std::string& hostPath) {
    struct stat info {};
    ::lstat(hostPath.c_str(), &info);
    return {info.st_dev, info.st_ino};
}

ObjectId IdOf(int fd) {
    struct stat info {};
    ::fstat(fd, &info);
    return {info.st_dev, info.st_ino};
}

bool ReadDescriptor(const void* descriptor, std::optional<Account>& owner, Dacl& dacl) {
    if (M().descriptors.count(descriptor) == 0) return false;
    const auto* made = static_cast<const Descriptor*>(descriptor);
    owner = made->namedOwner;
    dacl = made->dacl;
    return true;
}

bool MayCreateIn(const ObjectId& parent, bool folder) {
    const Machine& m = M();
    auto it = m.dacls.find(parent);
    return it == m.dacls.end() || (Granted(it->second, m.processAccount, m.processElevated) &
                                   (folder ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE)) != 0;
}

bool MayAssignOwner(Account owner) {
    const Machine& m = M();
    return owner == DefaultOwner() || owner == m.processAccount ||
           (m.processElevated && owner == Account::Administrators);
}

void RecordCreated(const ObjectId& made, const ObjectId& parent, bool folder,
                   const std::optional<Account>& explicitOwner, const Dacl* explicitDacl) {
    Machine& m = M();
    const Account owner = explicitOwner.value_or(DefaultOwner());
    m.owners[made] = owner;
    m.dacls.erase(made);
    if (explicitDacl != nullptr) {
        m.dacls[made] = *explicitDacl;
        return;
    }
    auto inherited = m.dacls.find(parent);
    if (inherited == m.dacls.end()) return;
    Dacl dacl;
    for (Ace ace : inherited->second.aces) {
        if (folder ? !ace.containerInherit && !ace.objectInherit : !ace.objectInherit) continue;
        // A folder passes object-only entries on to the files it will hold, without taking them.
        ace.inheritOnly = folder && !ace.containerInherit;
        if (!folder) ace.objectInherit = ace.containerInherit = false;
        if (ace.trustee == Trustee::CreatorOwner && !ace.inheritOnly) {
            ace.trustee = Trustee::OneAccount;
            ace.account = owner;
        }
        dacl.aces.push_back(ace);
    }
    m.dacls[made] = dacl;
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

void SetOwner(const std::u16string& windowsPath, Account owner) {
    struct stat info {};
    if (::lstat(HostPath(windowsPath).c_str(), &info) == 0) M().owners[{info.st_dev, info.st_ino}] = owner;
}
void SetProcessAccount(Account account) {
    SetProcessAccount(account, account != Account::User && account != Account::OtherUser);
}
void SetProcessAccount(Account account, bool elevated) {
    M().processAccount = account;
    M().processElevated = elevated;
}
int LiveSecurityDescriptors() { return M().liveDescriptors; }
int OpenTokens() { return static_cast<int>(M().tokens.size()); }

Security SecurityOf(const std::u16string& windowsPath) {
    const ObjectId id = IdOf(HostPath(windowsPath));
    const Machine& m = M();
    Security security{OwnerOf(id), false, false, ~DWORD{0}};
    if (auto dacl = m.dacls.find(id); dacl != m.dacls.end()) {
        security.hasDacl = true;
        security.protectedDacl = dacl->second.isProtected;
        security.standardUser = Granted(dacl->second, Account::User, false);
    }
    // An owner may always read and rewrite the DACL.
    if (security.owner == Account::User) security.standardUser |= platform::READ_CONTROL | WRITE_DAC;
    return security;
}

}  // namespace sim

namespace platform {

using namespace sim::detail;

// Only what the launcher asks is modelled: the owner of an open file or folder. The generic
// rights include READ_CONTROL.
DWORD GetSecurityInfo(HANDLE object, int objectType, DWORD securityInfo, PSID* owner, PSID* group, void** dacl,
                      void** sacl, void** securityDescriptor) {
    DWORD error = 0;
    if (Enter("GetSecurityInfo", HandleTarget(object), &error)) return error;
    FileHandle* file = FindFile(object);
    if (file == nullptr) return ERROR_INVALID_HANDLE;
    if (objectType != SE_FILE_OBJECT || securityInfo != OWNER_SECURITY_INFORMATION || owner == nullptr ||
        group != nullptr || dacl != nullptr || sacl != nullptr || securityDescriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!(file->access & (READ_CONTROL | GENERIC_READ | GENERIC_WRITE))) return ERROR_ACCESS_DENIED;
    auto* descriptor = new Descriptor{SidOf(OwnerOf({file->device, file->inode})), std::nullopt, {}};
    ++M().liveDescriptors;
    M().descriptors.insert(descriptor);
    *owner = reinterpret_cast<PSID>(descriptor->owner.data());
    *securityDescriptor = descriptor;
    return ERROR_SUCCESS;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(const char16_t* text, DWORD revision, void** descriptor) {
    DWORD error = 0;
    if (Enter("ConvertStringSecurityDescriptorToSecurityDescriptorW", &error)) {
        SetLastError(error);
        return FALSE;
    }
    auto made = std::make_unique<Descriptor>();
    if (text == nullptr || descriptor == nullptr || revision != SDDL_REVISION_1 || !ParseSddl(text, *made)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ++M().liveDescriptors;
    M().descriptors.insert(made.get());
    *descriptor = made.release();
    return TRUE;
}

// The three below answer questions about memory the caller holds; they have no failure of
// their own to inject.
BOOL IsWellKnownSid(PSID sid, int type) {
    DWORD unused = 0;
    Enter("IsWellKnownSid", &unused);
    if (type == WinLocalSystemSid) return SameSid(sid, SidOf(sim::Account::System));
    if (type == WinBuiltinAdministratorsSid) return SameSid(sid, SidOf(sim::Account::Administrators));
    return FALSE;
}

BOOL EqualSid(PSID first, PSID second) {
    DWORD unused = 0;
    Enter("EqualSid", &unused);
    return SidLength(first) == SidLength(second) && std::memcmp(first, second, SidLength(first)) == 0;
}

void* LocalFree(void* memory) {
    DWORD unused = 0;
    Enter("LocalFree", &unused);
    if (memory != nullptr && M().descriptors.erase(memory) != 0) {
        delete static_cast<Descriptor*>(memory);
        --M().liveDescriptors;
    }
    return nullptr;
}

BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    DWORD error = 0;
    if (Enter("OpenProcessToken", sim::TOKEN, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (process != GetCurrentProcess() || token == nullptr || !(access & TOKEN_QUERY)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::uintptr_t value = NewHandleValue();
    M().tokens.insert(value);
    *token = reinterpret_cast<HANDLE>(value);
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, int informationClass, void* information, DWORD length, DWORD* returnLength) {
    DWORD error = 0;
    if (Enter("GetTokenInformation", HandleTarget(token), &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (M().tokens.count(reinterpret_cast<std::uintptr_t>(token)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((informationClass != TokenUser && informationClass != TokenElevation) || returnLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (informationClass == TokenElevation) {
        *returnLength = sizeof(TOKEN_ELEVATION);
        if (information == nullptr || length < *returnLength) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = M().processElevated ? 1 : 0;
        return TRUE;
    }
    const std::vector<std::uint8_t> sid = SidOf(M().processAccount);
    *returnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    if (information == nullptr || length < *returnLength) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* bytes = static_cast<std::uint8_t*>(information);
    std::memcpy(bytes + sizeof(TOKEN_USER), sid.data(), sid.size());
    auto* user = static_cast<TOKEN_USER*>(information);
    user->User.Sid = reinterpret_cast<PSID>(bytes + sizeof(TOKEN_USER));
    user->User.Attributes = 0;
    return TRUE;
}

}  // namespace platform
