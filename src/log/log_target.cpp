#include "log/log_target.h"

#include <cstdint>

#include "platform/owners.h"

namespace orvane {

namespace {

using platform::DWORD;
using platform::HANDLE;
using platform::PSID;

constexpr DWORD LINK_OR_FOLDER = platform::FILE_ATTRIBUTE_DIRECTORY | platform::FILE_ATTRIBUTE_REPARSE_POINT;

/// The largest SID Windows makes (15 sub-authorities).
constexpr DWORD MAX_SID_BYTES = 68;

// NT SERVICE\TrustedInstaller (S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464): a
// service SID, which has no well-known SID type of its own.
alignas(4) constexpr std::uint8_t TRUSTED_INSTALLER[] = {
    0x01, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x50, 0x00, 0x00, 0x00, 0xB5, 0x89, 0xFB, 0x38,
    0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

bool IsLauncherUser(PSID owner) {
    platform::ScopedHandle token;
    if (!platform::OpenProcessToken(platform::GetCurrentProcess(), platform::TOKEN_QUERY, token.Receive())) {
        return false;
    }
    alignas(platform::TOKEN_USER) std::uint8_t user[sizeof(platform::TOKEN_USER) + MAX_SID_BYTES];
    DWORD needed = 0;
    return platform::GetTokenInformation(token.Get(), platform::TokenUser, user, sizeof user, &needed) != 0 &&
           platform::EqualSid(owner, reinterpret_cast<const platform::TOKEN_USER*>(user)->User.Sid) != 0;
}

// Writing through a folder of one's own grants the launcher's user nothing it did not have.
bool IsTrustedOwner(PSID owner) {
    return platform::IsWellKnownSid(owner, platform::WinLocalSystemSid) ||
           platform::IsWellKnownSid(owner, platform::WinBuiltinAdministratorsSid) ||
           platform::EqualSid(owner, reinterpret_cast<PSID>(const_cast<std::uint8_t*>(TRUSTED_INSTALLER))) ||
           IsLauncherUser(owner);
}

}  // namespace

// Checked once, before the log file is opened: a user who does not own the folder cannot rename,
// delete or re-point it afterwards, so the folder checked is the folder the file lands in.
bool IsTrustedFolder(const char16_t* path) {
    const platform::ScopedFile folder(platform::CreateFileW(
        path, platform::READ_CONTROL | platform::FILE_READ_ATTRIBUTES,
        platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE | platform::FILE_SHARE_DELETE, platform::OPEN_EXISTING,
        platform::FILE_FLAG_BACKUP_SEMANTICS | platform::FILE_FLAG_OPEN_REPARSE_POINT));
    platform::BY_HANDLE_FILE_INFORMATION info{};
    if (!folder.Holds() || !platform::GetFileInformationByHandle(folder.Get(), &info) ||
        (info.dwFileAttributes & LINK_OR_FOLDER) != platform::FILE_ATTRIBUTE_DIRECTORY) {
        return false;
    }
    PSID owner = nullptr;
    platform::ScopedLocal descriptor;
    const DWORD read =
        platform::GetSecurityInfo(folder.Get(), platform::SE_FILE_OBJECT, platform::OWNER_SECURITY_INFORMATION, &owner,
                                  nullptr, nullptr, nullptr, descriptor.Receive());
    return read == platform::ERROR_SUCCESS && owner != nullptr && IsTrustedOwner(owner);
}

bool IsPlainFile(HANDLE file) {
    platform::BY_HANDLE_FILE_INFORMATION info{};
    return platform::GetFileInformationByHandle(file, &info) != 0 && (info.dwFileAttributes & LINK_OR_FOLDER) == 0 &&
           info.nNumberOfLinks == 1;
}

}  // namespace orvane
