// Control API of the simulated Windows machine that the Linux build links against. Tests set
// the machine up, run the system's code against platform::*, and read back what it did.
// Everything here is test-side; the system's logic never includes this header.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/fatal_stop.h"
#include "platform/process.h"
#include "platform/types.h"

namespace sim {

using platform::BOOL;
using platform::DWORD;
using platform::HRESULT;
using platform::LONG;
using platform::WORD;

/// The site's name in the abort message of the fatal stop: "sim: fatal stop: <name>".
const char* FatalSiteName(platform::FatalSite site);

/// Forgets everything: a new, empty temporary root folder with drive C: only, an empty
/// registry on a 64-bit machine, defaults for every other answer (listed with each setter).
/// Open handles from before are dropped. Counters and records start from zero.
void Reset();

// ---- Files -------------------------------------------------------------------------------
// Windows paths map onto the real folder RootFolder(): "C:\a\b" is <root>/C/a/b, a UNC path
// "\\server\share\x" is <root>/UNC/server/share/x, a relative path is taken relative to the
// current folder (default "C:\"). Both separators are accepted. Names are case-sensitive.
// As for a program without longPathAware in its manifest, full paths of 260 characters or more
// fail (CreateFileW, PathFileExistsW, GetFileVersionInfoSizeW: ERROR_PATH_NOT_FOUND;
// ShellExecuteExW: ERROR_FILE_NOT_FOUND), and CreateDirectoryW fails from 248 characters with
// ERROR_FILENAME_EXCED_RANGE; "\\?\" paths are exempt.

/// The real folder that holds the simulated drives.
std::string RootFolder();
/// The real path of a Windows path.
std::string HostPath(const std::u16string& windowsPath);
/// Makes a drive (a folder under the root), e.g. u'E'. C: exists after Reset.
void MakeDrive(char16_t letter);
/// Creates a folder and its parents.
void MakeFolder(const std::u16string& windowsPath);
/// Creates or replaces a file with `bytes`, creating its parent folders.
void MakeFile(const std::u16string& windowsPath, const std::string& bytes = {});
/// Reads a whole file; empty when it is missing.
std::string ReadFile(const std::u16string& windowsPath);
bool FileExists(const std::u16string& windowsPath);
bool FolderExists(const std::u16string& windowsPath);
/// Sets the process's current folder, used for relative paths.
void SetCurrentFolder(const std::u16string& windowsPath);
/// Lists the real files under a Windows folder (names only), sorted.
std::vector<std::u16string> ListFolder(const std::u16string& windowsPath);
/// UTF-8 of a UTF-16 text (pairs joined, a lone surrogate as U+FFFD), as the real folder names
/// the simulated files.
std::string Utf8(const std::u16string& text);

/// Makes `windowsPath` a link to `target` (a symbolic link or, for a folder, a junction), creating
/// its parent folders: the Windows calls follow it unless asked to open the link itself.
void MakeLink(const std::u16string& windowsPath, const std::u16string& target);
/// Gives the existing file `existing` a second name, `windowsPath`, creating its parent folders.
void MakeHardLink(const std::u16string& windowsPath, const std::u16string& existing);

/// Renames a file or folder (a link itself, never what it points to) as another process would:
/// handles open on it, or on anything inside it, go on referring to the same objects.
void Rename(const std::u16string& from, const std::u16string& to);
/// Runs `action` once, just before the `occurrence`-th platform call (counted from now) of `name`
/// on `on` (as Trace() names it; an empty name: of any name) does anything: what another process
/// does between two of the launcher's calls.
void BeforeCallOn(const std::string& name, const std::u16string& on, std::function<void()> action, int occurrence = 1);

/// Who owns a file or folder, and who the launcher runs as.
enum class Account { System, Administrators, TrustedInstaller, User, OtherUser };
/// Default: Administrators for what the control API made; for what the launcher made, its token's
/// default owner (System for SYSTEM, Administrators for an elevated administrator, else its user)
/// or the owner that the security descriptor it was created with names.
void SetOwner(const std::u16string& windowsPath, Account owner);
/// The user of the launcher's access token, and whether the token is elevated. Default SYSTEM,
/// elevated. With the account alone: SYSTEM, Administrators and TrustedInstaller are elevated, the
/// two users are not (a standard user, or an administrator's filtered token under UAC); (User,
/// true) is an elevated administrator.
void SetProcessAccount(Account account);
void SetProcessAccount(Account account, bool elevated);
/// GetSystemWindowsDirectoryW's answer. Default "C:\Windows" (the folder is not created).
void SetWindowsFolder(const std::u16string& path);

/// A file's or folder's security as far as the simulation models it. Only objects created with a
/// security descriptor, and what is created inside them, have a DACL; every other object allows
/// everything, and so does a DACL to an elevated token that it does not shut out.
/// ConvertStringSecurityDescriptorToSecurityDescriptorW reads owners and allow entries of the
/// aliases SY, BA, BU, CO, AU and WD, rights in hexadecimal or as FA, FR, FW, FX, and the flags OI,
/// CI, IO; anything else fails with ERROR_INVALID_PARAMETER. A standard user may create files and
/// folders in a folder with a DACL only when it grants them the right (ERROR_ACCESS_DENIED).
struct Security {
    Account owner;
    bool hasDacl;
    bool protectedDacl;  ///< "P": takes nothing from the folder it is in
    DWORD standardUser;  ///< the rights of a standard user who does not own it (all when no DACL)
};
Security SecurityOf(const std::u16string& windowsPath);
/// Security descriptors handed out and not yet freed; token handles open.
int LiveSecurityDescriptors();
int OpenTokens();

/// CreateDirectoryW on this exact path fails with `error` (e.g. ERROR_ACCESS_DENIED).
void DenyCreateDirectory(const std::u16string& windowsPath, DWORD error);
/// Every CreateFileW on this exact path fails with `error`.
void DenyOpen(const std::u16string& windowsPath, DWORD error);
/// CreateFileW asking for GENERIC_READ fails with ERROR_ACCESS_DENIED (write alone still works).
void DenyReadOpen(const std::u16string& windowsPath);
/// Writes (WriteFileAtEnd) fail with `error` after `okWrites` more successful ones; 0: the next fails.
void FailWritesAfter(int okWrites, DWORD error = 112 /* ERROR_DISK_FULL */);
/// Every WriteFileAtEnd call so far, with its byte count, in order.
const std::vector<DWORD>& WriteSizes();
/// Paths passed to CreateDirectoryW, in order, with the call's result.
struct DirectoryCall {
    std::u16string path;
    BOOL result;
    DWORD error;
};
const std::vector<DirectoryCall>& DirectoryCalls();

// ---- Registry ----------------------------------------------------------------------------
// HKEY_LOCAL_MACHINE only. A 64-bit machine has two views: an access mask with KEY_WOW64_64KEY
// reads the 64-bit view, without it the 32-bit view. A 32-bit machine has one view (Bit32),
// and KEY_WOW64_64KEY is ignored there.

enum class View { Bit32, Bit64 };

/// Default true after Reset.
void SetMachine64Bit(bool is64Bit);
/// Stores a raw value (the key is created). `bytes` is stored exactly; no terminator is added.
void SetValue(View view, const std::u16string& key, const std::u16string& name, DWORD type,
              const std::vector<std::uint8_t>& bytes);
/// Stores `text` with its terminator, as RegSetValueEx would for REG_SZ.
void SetString(View view, const std::u16string& key, const std::u16string& name, const std::u16string& text,
               DWORD type = 1 /* REG_SZ */);
/// Creates a key without values.
void MakeKey(View view, const std::u16string& key);
/// The next RegQueryValueExW that succeeds copies the value's bytes but reports `byteCount`, as a
/// misbehaving registry filter might.
void MisreportNextValueSize(DWORD byteCount);
/// RegOpenKeyExW and RegCreateKeyExW of that key fail with `error` (e.g. ERROR_ACCESS_DENIED) in
/// both views.
void DenyKey(const std::u16string& key, LONG error);
/// An account without the right to write `key` and the keys below it (default: all of HKLM), as a
/// standard user is for HKLM\SOFTWARE: in both views, RegOpenKeyExW and RegCreateKeyExW asking for
/// KEY_SET_VALUE or KEY_CREATE_SUB_KEY fail with `error`, and so does RegCreateKeyExW of a key that
/// is missing, whatever it asks; opening an existing key to read still works.
void DenyRegistryWrites(LONG error, const std::u16string& key = {});

/// A value as the registry holds it: its type and its bytes, exactly as they were stored.
struct RegistryValue {
    DWORD type = 0;
    std::vector<std::uint8_t> bytes;
};
/// The value `name` of `key`; empty when the key or the value is missing.
std::optional<RegistryValue> GetValue(View view, const std::u16string& key, const std::u16string& name);
/// The text of a REG_SZ stored as RegSetValueEx should store it: its characters and one
/// terminator, nothing after. Empty for anything else (missing, another type, no terminator, an
/// odd byte count, bytes after the terminator), so that a test reading it also checks the form.
std::optional<std::u16string> GetString(View view, const std::u16string& key, const std::u16string& name);
/// A REG_DWORD of exactly four bytes; empty for anything else.
std::optional<DWORD> GetDword(View view, const std::u16string& key, const std::u16string& name);
bool KeyExists(View view, const std::u16string& key);
/// The names of the keys right below `key`, spelt as they were first created, in the registry's
/// order (without regard to case).
std::vector<std::u16string> SubKeys(View view, const std::u16string& key);

struct RegistryOpen {
    std::u16string subKey;
    DWORD options;
    DWORD access;
    LONG result;
};
struct RegistryQuery {
    std::u16string name;
    bool reservedWasNull;
    DWORD byteCountIn;
    LONG result;
};
struct RegistryCreate {
    std::u16string subKey;
    DWORD access;
    LONG result;
    DWORD disposition;  // 0 when the call failed
};
const std::vector<RegistryOpen>& RegistryOpens();
const std::vector<RegistryQuery>& RegistryQueries();
const std::vector<RegistryCreate>& RegistryCreates();
/// RegCloseKey calls so far, and keys opened or created but not yet closed.
int RegistryCloses();
int OpenKeys();

// ---- CryptoAPI ---------------------------------------------------------------------------
// One provider type is installed, PROV_RSA_AES (another fails with NTE_PROV_TYPE_NOT_DEF), and it
// hashes with SHA-256 only (another algorithm: NTE_BAD_ALGID). Without CRYPT_VERIFYCONTEXT
// CryptAcquireContextW fails with NTE_BAD_KEYSET, as for an account without a default key
// container. CryptGetHashParam(HP_HASHVAL) without a buffer only tells the size; with one it ends
// the hash, even when the buffer then proves too small (ERROR_MORE_DATA, the size needed), and
// later CryptHashData fails with NTE_BAD_HASH_STATE. Like advapi32, the calls answer a handle they
// do not know (never handed out, already destroyed or released, or a hash whose provider was
// released first) with ERROR_INVALID_PARAMETER.

/// Providers acquired and not released, and hash objects created and not destroyed. A hash whose
/// provider was released first stays counted: Windows ended it with its provider, and the
/// CryptDestroyHash that follows fails.
int OpenCryptHandles();
/// The byte count of every CryptHashData call so far, in order.
const std::vector<DWORD>& HashDataSizes();
/// The SHA-256 digest of `bytes`, by the engine behind the simulated CryptoAPI.
std::vector<std::uint8_t> Sha256Of(const std::string& bytes);

// ---- Event log ---------------------------------------------------------------------------

/// One event reported through ReportEventW.
struct Event {
    std::u16string source;
    WORD type;
    DWORD eventId;
    std::u16string text;
};
/// Every event reported so far, in order.
const std::vector<Event>& Events();
/// Handles from RegisterEventSourceW not yet given to DeregisterEventSource.
int OpenEventSources();

// ---- Process and modules -----------------------------------------------------------------

/// IsWow64Process's answer: fails with `error` when `fails`, else sets the flag to `flag`.
/// Default after Reset: succeeds with 1.
void SetWow64Answer(bool fails, BOOL flag, DWORD error = platform::ERROR_INVALID_HANDLE);
/// The program's own path for GetModuleFileNameW. Default "C:\deploy\Orvane.Launcher.exe".
/// A path that does not fit is cut to size - 1 characters and the call returns size with
/// ERROR_INSUFFICIENT_BUFFER, as Windows 6.0 and later do.
void SetModuleFileName(const std::u16string& path);
/// GetModuleFileNameW fails: returns 0 with `error`.
void FailModuleFileName(DWORD error);
/// Default 4242.
void SetProcessId(DWORD id);
int RestrictDllSearchPathCalls();

/// What the next launches do. Default after Reset: starts, the wait returns 0, exit code 0.
struct ToolScript {
    bool startFails = false;
    DWORD startError = platform::ERROR_CANCELLED;
    bool noProcessHandle = false;  // starts but hands back no handle
    DWORD waitResult = 0;
    DWORD exitCode = 0;
    bool exitCodeFails = false;
    DWORD exitCodeError = platform::ERROR_ACCESS_DENIED;
};
void ScriptTool(const ToolScript& script);
/// Runs `whileRunning` in every ShellExecuteExW that starts the tool, after it started: what the
/// machine looks like while the tool runs (or when the launcher is killed then). Reset clears it.
void OnLaunch(std::function<void()> whileRunning);

/// One ShellExecuteExW call as the record held it.
struct Launch {
    DWORD cbSize;
    DWORD fMask;
    bool hwndNull;
    std::u16string verb, file, parameters, directory;
    bool verbNull, parametersNull, directoryNull;
    int nShow;
    bool otherFieldsZero;  // hInstApp, lpIDList, lpClass, hkeyClass, dwHotKey, hIcon, hProcess on entry
};
const std::vector<Launch>& Launches();
/// Milliseconds passed to each WaitForSingleObject.
const std::vector<DWORD>& Waits();
/// Process handles handed out and not yet closed; CloseHandle calls on process handles.
int OpenProcessHandles();
int ProcessHandleCloses();

// ---- Shell folders and clock -------------------------------------------------------------

/// SHGetFolderPathW(CSIDL_COMMON_APPDATA) succeeds with `path`. Default "C:\ProgramData"
/// (the folder itself is not created).
void SetCommonAppData(const std::u16string& path);
/// SHGetFolderPathW succeeds but fills all MAX_PATH characters of the buffer with the first
/// MAX_PATH characters of `path` and no terminator, as a misbehaving shell extension might.
void SetCommonAppDataUnterminated(const std::u16string& path);
/// SHGetFolderPathW returns `result` (not S_OK).
void FailCommonAppData(HRESULT result);
/// The system time as raw FILETIME ticks. Default 1600000000 s after 1970.
void SetSystemTime(std::int64_t fileTimeTicks);
/// Whether FindGetSystemTimePreciseAsFileTime finds the function. Default true.
void SetPreciseClockAvailable(bool available);
int PreciseClockReads();
int PlainClockReads();

// ---- Version resources -------------------------------------------------------------------

/// Gives a file a version resource with this fixed file version.
void SetFileVersion(const std::u16string& windowsPath, DWORD versionMS, DWORD versionLS);
enum class VersionFailure { None, Size, Info, Query, ShortRecord, RecordPastEnd };
/// Makes one stage fail for this file with `error` (ShortRecord: VerQueryValueW succeeds but
/// reports a record shorter than VS_FIXEDFILEINFO; RecordPastEnd: it reports a whole record that
/// starts `error` bytes before the end of the resource, so that it runs past the caller's buffer). Without a version
/// resource the size call fails with 1812 ERROR_RESOURCE_DATA_NOT_FOUND (the file exists and has no resources), 1813
/// ERROR_RESOURCE_TYPE_NOT_FOUND (it has resources, none of them a version) or 2 (it does not exist).
void FailVersion(const std::u16string& windowsPath, VersionFailure stage, DWORD error);
/// Gives a file resources of other types than a version.
void GiveResourcesWithoutVersion(const std::u16string& windowsPath);
int VersionSizeCalls();

// ---- Heaps -------------------------------------------------------------------------------

struct HeapCounts {
    int runtimeAllocs = 0, runtimeReallocs = 0, runtimeFrees = 0;
    int generalAllocs = 0, generalFrees = 0;
    int runtimeLive = 0, generalLive = 0;  // blocks handed out and not given back
};
HeapCounts Heap();
/// From the n-th (1-based) RuntimeAlloc/RuntimeRealloc from now on, every one returns null (out
/// of memory); 0 turns it off.
void FailRuntimeAllocation(int n);
/// From the n-th GeneralAlloc from now on, every one returns null; 0 turns it off.
void FailGeneralAllocation(int n);
/// Shown every block RuntimeFree takes back, before it is gone, until the next Reset. What
/// happens after main returns (the process-wide strings' destruction) is seen only this way.
using FreeWatcher = void (*)(const void* block);
void WatchRuntimeFrees(FreeWatcher watcher);

// ---- Generic failure injection and the call trace ----------------------------------------

/// Each platform call appends its Windows name ("RegOpenKeyExW", "CreateFileW", ...) here.
const std::vector<std::string>& Calls();
/// A call as the trace holds it: its name and what it was called on, that is its path, key or
/// value name, or for a handle what the handle stands for (a file or folder: the path it was
/// opened by; a process handle: the file started; an event source: its name), or one of the
/// names below. `on` is empty for calls on nothing of the kind.
struct TracedCall {
    std::string name;
    std::u16string on;
};
/// What the trace names the things without a path by: the launcher's access token, its own
/// process (the pseudo-handle), its own module (a null module handle), the shell folder, and
/// CryptoAPI's provider and hash objects.
inline constexpr const char16_t* TOKEN = u"the launcher's token";
inline constexpr const char16_t* OWN_PROCESS = u"the launcher's process";
inline constexpr const char16_t* OWN_MODULE = u"the launcher's module";
inline constexpr const char16_t* COMMON_APPDATA = u"CSIDL_COMMON_APPDATA";
inline constexpr const char16_t* CRYPT_PROVIDER = u"the CryptoAPI provider";
inline constexpr const char16_t* SHA256_HASH = u"the SHA-256 hash";
/// Every platform call so far, in order, with what it was called on.
const std::vector<TracedCall>& Trace();
/// The `occurrence`-th call (1-based, counted from now) of `name` fails with `error` as that
/// operation fails on Windows (0, FALSE, null, INVALID_HANDLE_VALUE, an HRESULT or the error
/// itself for registry calls, WAIT_FAILED for the wait).
void FailCall(const std::string& name, DWORD error, int occurrence = 1);
/// As FailCall, counting only the calls of `name` on `on` (as Trace() shows it), so that calls on
/// other things, wherever they come in the run, do not move the one that fails.
void FailCallOn(const std::string& name, const std::u16string& on, DWORD error, int occurrence = 1);

}  // namespace sim
