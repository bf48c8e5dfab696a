// Owners of files and folders, the launcher's access token, and the SIDs that name them, in
// Windows' binary form so that the logic's own SID constants compare as they would on Windows.
#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim::detail {
namespace {

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

/// What GetSecurityInfo hands out: the owner's SID, freed by LocalFree.
struct Descriptor {
    std::vector<std::uint8_t> owner;
};

Account OwnerOf(dev_t device, ino_t inode) {
    auto it = M().owners.find({device, inode});
    return it == M().owners.end() ? Account::Administrators : it->second;
}

}  // namespace

void RecordCreator(const std::string& hostPath) {
    struct stat info {};
    if (::lstat(hostPath.c_str(), &info) == 0) M().owners[{info.st_dev, info.st_ino}] = M().processAccount;
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

void SetOwner(const std::u16string& windowsPath, Account owner) {
    struct stat info {};
    if (::lstat(HostPath(windowsPath).c_str(), &info) == 0) M().owners[{info.st_dev, info.st_ino}] = owner;
}
void SetProcessAccount(Account account) { M().processAccount = account; }
int LiveSecurityDescriptors() { return M().liveDescriptors; }
int OpenTokens() { return static_cast<int>(M().tokens.size()); }

}  // namespace sim

namespace platform {

using namespace sim::detail;

// Only what the launcher asks is modelled: the owner of an open file or folder.
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
    if (!(file->access & READ_CONTROL)) return ERROR_ACCESS_DENIED;
    auto* descriptor = new Descriptor{SidOf(OwnerOf(file->device, file->inode))};
    ++M().liveDescriptors;
    *owner = reinterpret_cast<PSID>(descriptor->owner.data());
    *securityDescriptor = descriptor;
    return ERROR_SUCCESS;
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
    if (memory != nullptr) {
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
    if (informationClass != TokenUser || returnLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
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
