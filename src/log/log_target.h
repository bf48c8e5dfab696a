// Where the log may be written. The launcher usually runs as SYSTEM or as an elevated
// administrator and writes a file of a predictable name under the common application-data
// folder, where every user may create folders and files. Whatever a standard user plants or
// swaps there, the log goes only into a folder that was checked through the handle the file is
// then created relative to, and only into a file that this run created or that passes the owner
// rule: a name swapped for a link after the check redirects nothing.
#pragma once

#include <cstdint>

#include "platform/owners.h"

namespace orvane {

/// Whose folders and files the log may be written through.
enum class OwnerRule : std::uint8_t {
    /// SYSTEM, the Administrators group or TrustedInstaller: an elevated run. Such a run's own
    /// new files belong to one of them, never to the user account behind it, so a folder of that
    /// account is one its non-elevated half, any program the user runs, may have planted into.
    Administrative,
    /// Those, or the user the launcher runs as: a run that is not elevated gains nothing by
    /// writing through what its own account owns.
    AdministrativeOrLauncher,
};

/// Administrative when the launcher's token is elevated, AdministrativeOrLauncher otherwise or
/// when the token cannot be read.
OwnerRule RuleOfThisRun();

/// True when the open `file` is a regular file (not a folder, not a reparse point) with exactly
/// one name, owned by an account `rule` accepts. False when that cannot be established.
bool IsAcceptedFile(platform::HANDLE file, OwnerRule rule);

/// Opens the folder `path` itself, never what a link there points to, into `folder`: for the
/// Administrative rule with DELETE access too, so that an untrusted folder can be moved aside
/// through the very handle that was checked. True when it is a real folder (not a reparse point)
/// and either `createdNow` (this run created it in one step with its security descriptor, which
/// names its owner) or its owner passes `rule`. `folder` holds the handle whenever the open
/// succeeded, trusted or not; it shares everything, so that other launchers can use the folder
/// at the same time.
bool OpenTrustedFolder(const char16_t* path, OwnerRule rule, bool createdNow, platform::ScopedFile& folder);

/// Which folder an elevated run creates: the log folder, where a run that is not elevated adds
/// its own logs too, or the fallback folder, which only administrators write. Inherited: what a
/// run that is not elevated creates, with what the parent folder passes on.
enum class FolderUse : std::uint8_t { Inherited, Log, Fallback };

/// The security attributes an elevated run creates a folder of `use` with. Null for Inherited and
/// when the descriptor cannot be made; the descriptor is freed with the object.
class FolderSecurity {
public:
    explicit FolderSecurity(FolderUse use);
    platform::SECURITY_ATTRIBUTES* Attributes() { return descriptor.Holds() ? &attributes : nullptr; }

private:
    platform::ScopedLocal descriptor;
    platform::SECURITY_ATTRIBUTES attributes{};
};

}  // namespace orvane
