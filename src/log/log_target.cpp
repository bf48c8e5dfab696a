#include "log/log_target.h"

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

// Owner Administrators; a protected DACL, so that nothing of the common application-data folder's
// own entries (which let users write attributes, add folders, and own what they add) reaches it.
// SYSTEM and Administrators: everything. Users, on the folder itself: list, traverse, read its
// attributes and security, and add files (0x1200AB), which a run that is not elevated needs for its
// own log; no FILE_WRITE_ATTRIBUTES, WRITE_DAC, WRITE_OWNER, DELETE, FILE_DELETE_CHILD and no
// subfolders, so a user can neither re-point, rename nor take over the folder nor delete what is in
// it. On the files: users read, and whoever creates one owns it fully (CREATOR OWNER).
constexpr const char16_t* LOG_FOLDER_SECURITY =
    u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;FR;;;BU)(A;OIIO;FA;;;CO)";
// The fallback is written by elevated runs only: users read, nothing more, so they cannot put
// anything into it beforehand.
constexpr const char16_t* FALLBACK_FOLDER_SECURITY = u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)";

bool ReadsToken(int informationClass, void* answer, DWORD size) {
    platform::ScopedHandle token;
    DWORD needed = 0;
    return platform::OpenProcessToken(platform::GetCurrentProcess(), platform::TOKEN_QUERY, token.Receive()) != 0 &&
           platform::GetTokenInformation(token.Get(), informationClass, answer, size, &needed) != 0;
}

bool IsLauncherUser(PSID owner) {
    alignas(platform::TOKEN_USER) std::uint8_t user[sizeof(platform::TOKEN_USER) + MAX_SID_BYTES];
    return ReadsToken(platform::TokenUser, user, sizeof user) &&
           platform::EqualSid(owner, reinterpret_cast<const platform::TOKEN_USER*>(user)->User.Sid) != 0;
}

bool HasAcceptedOwner(HANDLE object, OwnerRule rule) {
    PSID owner = nullptr;
    platform::ScopedLocal descriptor;
    if (platform::GetSecurityInfo(object, platform::SE_FILE_OBJECT, platform::OWNER_SECURITY_INFORMATION, &owner,
                                  nullptr, nullptr, nullptr, descriptor.Receive()) != platform::ERROR_SUCCESS ||
        owner == nullptr) {
        return false;
    }
    return platform::IsWellKnownSid(owner, platform::WinLocalSystemSid) ||
           platform::IsWellKnownSid(owner, platform::WinBuiltinAdministratorsSid) ||
           platform::EqualSid(owner, reinterpret_cast<PSID>(const_cast<std::uint8_t*>(TRUSTED_INSTALLER))) ||
           (rule == OwnerRule::AdministrativeOrLauncher && IsLauncherUser(owner));
}

}  // namespace

OwnerRule RuleOfThisRun() {
    platform::TOKEN_ELEVATION elevation{};
    return ReadsToken(platform::TokenElevation, &elevation, sizeof elevation) && elevation.TokenIsElevated != 0
               ? OwnerRule::Administrative
               : OwnerRule::AdministrativeOrLauncher;
}

bool IsAcceptedFile(HANDLE file, OwnerRule rule) {
    platform::BY_HANDLE_FILE_INFORMATION info{};
    return platform::GetFileInformationByHandle(file, &info) != 0 && (info.dwFileAttributes & LINK_OR_FOLDER) == 0 &&
           info.nNumberOfLinks == 1 && HasAcceptedOwner(file, rule);
}

// A folder this run has just created in one step with its descriptor has the owner the descriptor
// names: since then only an administrator could have put another object at its name (users have
// neither DELETE on it nor FILE_DELETE_CHILD on its parent), and a link made of it meanwhile shows in
// its attributes. Reading the owner back adds nothing, and fails on file systems that keep no owners.
bool OpenTrustedFolder(const char16_t* path, OwnerRule rule, bool createdNow, platform::ScopedFile& folder) {
    const DWORD move = rule == OwnerRule::Administrative ? platform::DELETE : 0;
    folder.Reset(platform::CreateFileW(
        path, platform::READ_CONTROL | platform::FILE_READ_ATTRIBUTES | platform::FILE_TRAVERSE | move,
        platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE | platform::FILE_SHARE_DELETE, platform::OPEN_EXISTING,
        platform::FILE_FLAG_BACKUP_SEMANTICS | platform::FILE_FLAG_OPEN_REPARSE_POINT));
    platform::BY_HANDLE_FILE_INFORMATION info{};
    return folder.Holds() && platform::GetFileInformationByHandle(folder.Get(), &info) != 0 &&
           (info.dwFileAttributes & LINK_OR_FOLDER) == platform::FILE_ATTRIBUTE_DIRECTORY &&
           (createdNow || HasAcceptedOwner(folder.Get(), rule));
}

FolderSecurity::FolderSecurity(FolderUse use) {
    if (use != FolderUse::Inherited && platform::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                           use == FolderUse::Log ? LOG_FOLDER_SECURITY : FALLBACK_FOLDER_SECURITY,
                                           platform::SDDL_REVISION_1, descriptor.Receive())) {
        attributes = {sizeof attributes, descriptor.Get(), platform::FALSE};
    }
}

}  // namespace orvane
