// Private state of the simulated machine, shared by the sim's own .cpp files only.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <optional>

#include "platform/process.h"
#include "platform/sim/sim.h"
#include "platform/types.h"

namespace sim::detail {

/// A Windows path mapped onto the real root folder.
struct ResolvedPath {
    DWORD error = 0;         ///< 0 when the path could be mapped (and its volume exists, if asked)
    std::u16string full;     ///< canonical Windows form: "C:\a\b", "\\server\share\a"
    std::string host;        ///< the real path
    std::string hostParent;  ///< the real path of the parent folder; empty for a volume root
    bool isRoot = false;     ///< names the drive or share root itself
    bool trailingSeparator = false;
};

/// Maps a Windows path as the file system would read it: both separators, drive-relative and
/// relative names against the current folder, "." and ".." folded. With `requireVolume` a
/// missing drive gives ERROR_PATH_NOT_FOUND and a missing share ERROR_BAD_NETPATH.
ResolvedPath Resolve(const char16_t* path, bool requireVolume = true);

/// A program that does not declare itself long-path aware (the launcher does not) is refused
/// paths of this many characters or more, unless they start with "\\?\"; folders to be
/// created leave room for an 8.3 name.
inline constexpr std::size_t LEGACY_PATH_LIMIT = 260;
inline constexpr std::size_t LEGACY_NEW_FOLDER_LIMIT = 248;
bool BeyondLegacyLimit(const char16_t* path, std::size_t limit);

enum class Kind { Missing, File, Folder, Other };
Kind KindOf(const std::string& hostPath);
/// Why a resolved path that is not there is missing: ERROR_FILE_NOT_FOUND when its parent
/// folder exists, ERROR_PATH_NOT_FOUND otherwise.
DWORD MissingError(const ResolvedPath& path);
/// The Windows error for a failed POSIX call's errno.
DWORD ErrorFromErrno(int error);

std::u16string FromUtf8(const std::string& text);
/// ASCII case folding, as registry names compare.
std::u16string FoldCase(std::u16string text);
std::u16string TextOf(const char16_t* text);

inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_BAD_NETPATH = 53;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_BAD_PATHNAME = 161;
inline constexpr DWORD ERROR_NOACCESS = 998;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;

// What the native calls answer.
inline constexpr platform::NTSTATUS STATUS_INVALID_HANDLE = static_cast<platform::NTSTATUS>(0xC0000008);
inline constexpr platform::NTSTATUS STATUS_INVALID_PARAMETER = static_cast<platform::NTSTATUS>(0xC000000D);
inline constexpr platform::NTSTATUS STATUS_ACCESS_DENIED = static_cast<platform::NTSTATUS>(0xC0000022);
inline constexpr platform::NTSTATUS STATUS_OBJECT_NAME_INVALID = static_cast<platform::NTSTATUS>(0xC0000033);
inline constexpr platform::NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = static_cast<platform::NTSTATUS>(0xC0000034);
inline constexpr platform::NTSTATUS STATUS_OBJECT_PATH_NOT_FOUND = static_cast<platform::NTSTATUS>(0xC000003A);
inline constexpr platform::NTSTATUS STATUS_SHARING_VIOLATION = static_cast<platform::NTSTATUS>(0xC0000043);
inline constexpr platform::NTSTATUS STATUS_FILE_IS_A_DIRECTORY = static_cast<platform::NTSTATUS>(0xC00000BA);

// Access rights the security model grants.
inline constexpr DWORD FILE_ADD_FILE = 0x0002;
inline constexpr DWORD FILE_ADD_SUBDIRECTORY = 0x0004;

struct FileHandle {
    int fd = -1;
    DWORD access = 0;
    DWORD share = 0;
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t position = 0;
    std::string host;      ///< the real path it was opened by
    std::u16string named;  ///< the Windows path it was opened by, as the trace names it
};

/// The open file or folder behind a handle; null for anything else.
FileHandle* FindFile(platform::HANDLE handle);

/// Who an access-control entry is for: a well-known group or one account.
enum class Trustee : std::uint8_t { System, Administrators, Users, CreatorOwner, OneAccount };
struct Ace {
    Trustee trustee = Trustee::Users;
    Account account = Account::User;  ///< for Trustee::OneAccount
    DWORD mask = 0;
    bool objectInherit = false, containerInherit = false, inheritOnly = false;
};
/// A DACL of allow entries, as far as the simulation models one. An object without one allows
/// everything to everyone (what the tests' own files and folders get).
struct Dacl {
    bool isProtected = false;
    std::vector<Ace> aces;
};
using ObjectId = std::pair<dev_t, ino_t>;

/// What ConvertStringSecurityDescriptorToSecurityDescriptorW made of `descriptor`: false for
/// anything it did not hand out (or that was freed).
bool ReadDescriptor(const void* descriptor, std::optional<Account>& owner, Dacl& dacl);
/// Whether the launcher's token may create a file (or a folder) in the folder `parent`.
bool MayCreateIn(const ObjectId& parent, bool folder);
/// Whether the launcher's token may give new objects `owner`.
bool MayAssignOwner(Account owner);
/// Records who made the object `made` just now in the folder `parent`: the owner and DACL that
/// `explicitOwner`/`explicitDacl` name, else the token's default owner and what the parent passes on.
void RecordCreated(const ObjectId& made, const ObjectId& parent, bool folder,
                   const std::optional<Account>& explicitOwner = std::nullopt, const Dacl* explicitDacl = nullptr);
/// The identity of a real path (the link itself for a link), or of an open descriptor.
ObjectId IdOf(const std::string& hostPath);
ObjectId IdOf(int fd);

struct ProcessHandle {
    ToolScript script;
    std::u16string file;  ///< what was started, as the record named it
};

struct RegistryKey {
    std::u16string name;                             // the last part of its path, spelt as first created
    std::map<std::u16string, RegistryValue> values;  // by folded name
};

struct OpenKey {
    View view = View::Bit32;
    std::u16string path;  // folded
    DWORD access = 0;
    std::u16string named;  // the sub-key as the caller spelt it
};

/// SHA-256 as FIPS 180-4 defines it, fed in pieces of any size.
class Sha256 {
public:
    static constexpr std::size_t DIGEST_BYTES = 32;
    void Add(const std::uint8_t* data, std::size_t length);
    /// The digest of everything added; the object is spent afterwards.
    std::array<std::uint8_t, DIGEST_BYTES> Finish();

private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> pending{};
    std::size_t pendingLength = 0;
    std::uint64_t totalLength = 0;
};

struct CryptHash {
    std::uintptr_t provider = 0;
    bool orphaned = false;  ///< its provider was released first
    bool finished = false;  ///< the digest was read; no more data
    Sha256 engine;
    std::array<std::uint8_t, Sha256::DIGEST_BYTES> digest{};
};

struct VersionEntry {
    bool hasVersion = false;
    bool hasResources = false;  ///< resources, but none of them a version
    DWORD versionMS = 0, versionLS = 0;
    VersionFailure failure = VersionFailure::None;
    DWORD error = 0;
};

struct Injection {
    std::string name;
    DWORD error;
    int remaining;
    bool anyTarget = true;  ///< false: only calls on `on` count
    std::u16string on;
};

/// Everything Reset forgets. The heaps live apart: their blocks outlive a Reset.
struct Machine {
    bool ready = false;
    std::string root;
    std::u16string currentFolder = u"C:\\";
    DWORD lastError = 0;
    std::vector<std::string> calls;
    std::vector<TracedCall> trace;
    std::vector<Injection> injections;

    std::uintptr_t nextHandle = 0x100;
    std::map<std::uintptr_t, FileHandle> files;
    std::map<std::uintptr_t, ProcessHandle> processes;

    std::map<std::u16string, DWORD> deniedDirectories;
    std::map<std::u16string, DWORD> deniedOpens;
    std::set<std::u16string> deniedReadOpens;
    int okWritesLeft = -1;  // -1: writes never fail
    DWORD writeError = 0;
    std::vector<DWORD> writeSizes;
    std::vector<DirectoryCall> directoryCalls;
    std::map<ObjectId, Account> owners;
    std::map<ObjectId, Dacl> dacls;
    Account processAccount = Account::System;
    bool processElevated = true;
    std::set<std::uintptr_t> tokens;
    int liveDescriptors = 0;
    std::set<const void*> descriptors;  // handed out by the security calls, not yet freed
    std::u16string windowsFolder = u"C:\\Windows";
    struct Hook {
        std::string name;  // empty: any call
        std::u16string on;
        int remaining;
        std::function<void()> action;
    };
    std::vector<Hook> hooks;

    bool machine64 = true;
    std::map<std::u16string, RegistryKey> keys[2];  // by folded path, per View
    std::map<std::u16string, LONG> deniedKeys;
    DWORD misreportedSize = 0;
    std::map<std::u16string, LONG> deniedWrites;  // by folded path; "" is all of HKLM
    std::map<std::uintptr_t, OpenKey> openKeys;
    std::vector<RegistryOpen> registryOpens;
    std::vector<RegistryQuery> registryQueries;
    std::vector<RegistryCreate> registryCreates;
    int registryCloses = 0;

    std::set<std::uintptr_t> cryptProviders;
    std::map<std::uintptr_t, CryptHash> cryptHashes;
    std::vector<DWORD> hashDataSizes;

    std::map<std::uintptr_t, std::u16string> eventSources;  // the source each handle reports for
    std::vector<Event> events;

    bool wow64Fails = false;
    BOOL wow64Flag = 1;
    DWORD wow64Error = platform::ERROR_INVALID_HANDLE;
    std::u16string moduleFileName = u"C:\\deploy\\Orvane.Launcher.exe";
    bool moduleFails = false;
    DWORD moduleError = 0;
    DWORD processId = 4242;
    int restrictDllSearchPathCalls = 0;
    ToolScript script;
    std::vector<Launch> launches;
    std::function<void()> onLaunch;
    std::vector<DWORD> waits;
    int processHandleCloses = 0;

    std::u16string commonAppData = u"C:\\ProgramData";
    bool commonAppDataUnterminated = false;
    bool commonAppDataFails = false;
    HRESULT commonAppDataResult = 0;

    std::int64_t systemTime = (1600000000LL + 11644473600LL) * 10000000LL;
    bool preciseClockAvailable = true;
    int preciseClockReads = 0;
    int plainClockReads = 0;

    std::map<std::u16string, VersionEntry> versions;      // by canonical path
    std::map<const void*, std::u16string> versionBlocks;  // blocks GetFileVersionInfoW filled
    int versionSizeCalls = 0;
};

/// The machine, set up by the first Reset (done on first use when a test never called it).
Machine& M();

/// Appends `name` to the call trace and tells whether FailCall scheduled this call to fail;
/// then `*error` holds the error to fail with.
bool Enter(const char* name, DWORD* error);
/// As Enter, for a call on `on`: its path, key, value name, or what its handle stands for.
bool Enter(const char* name, const std::u16string& on, DWORD* error);
/// What a process handle stands for in the trace: the file that was started ("" for others).
std::u16string ProcessTarget(platform::HANDLE handle);
/// What a CryptoAPI handle stands for in the trace: sim::CRYPT_PROVIDER or sim::SHA256_HASH ("" for
/// others).
std::u16string CryptTarget(std::uintptr_t handle);
/// The source an event-log handle reports for ("" for others).
std::u16string EventSourceTarget(platform::HANDLE handle);
/// What any handle stands for in the trace: a file's or folder's path, a process's file,
/// sim::TOKEN, sim::OWN_PROCESS, an event source's name, sim::CRYPT_PROVIDER or sim::SHA256_HASH
/// ("" for others).
std::u16string HandleTarget(platform::HANDLE handle);
void SetLastError(DWORD error);
/// Sets the last error and gives FALSE, as a BOOL call that fails does.
BOOL Fail(DWORD error);
/// GetCurrentProcess's pseudo-handle.
inline const platform::HANDLE CURRENT_PROCESS = reinterpret_cast<platform::HANDLE>(~std::uintptr_t{0});
/// Hands out a fresh value in the one handle namespace.
std::uintptr_t NewHandleValue();

/// Closes every real file descriptor the handle table holds.
void DropFileHandles();
/// Starts the heap counters again (the blocks themselves stay valid).
void ResetHeaps();

}  // namespace sim::detail
