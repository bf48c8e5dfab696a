// Files and folders: CreateFileW and NtCreateFile with Windows sharing between open handles,
// reads, appending writes, CreateDirectoryW, renames through a handle, and the one handle table
// that CloseHandle serves.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim::detail {

void DropFileHandles() {
    Machine& m = M();
    for (auto& [value, file] : m.files) ::close(file.fd);
    m.files.clear();
}

namespace {

constexpr DWORD READ_WRITE = platform::GENERIC_READ | platform::GENERIC_WRITE;

// Windows checks both directions: the new access against every holder's share mode, and every
// holder's access against the new share mode.
bool SharingAllows(const FileHandle& held, DWORD access, DWORD share) {
    auto excludes = [](DWORD wanted, DWORD allowed) {
        return ((wanted & platform::GENERIC_READ) && !(allowed & platform::FILE_SHARE_READ)) ||
               ((wanted & platform::GENERIC_WRITE) && !(allowed & platform::FILE_SHARE_WRITE));
    };
    return !excludes(access, held.share) && !excludes(held.access, share);
}

platform::HANDLE FailOpen(DWORD error) {
    SetLastError(error);
    return platform::INVALID_HANDLE_VALUE;
}

// Read, write or both; other rights (READ_CONTROL, DELETE, ...) need no descriptor access.
int AccessFlags(DWORD access) {
    if ((access & READ_WRITE) == READ_WRITE) return O_RDWR;
    return (access & platform::GENERIC_WRITE) ? O_WRONLY : O_RDONLY;
}

bool SharingViolation(const ObjectId& id, DWORD access, DWORD share) {
    for (const auto& [value, held] : M().files) {
        if (held.device == id.first && held.inode == id.second && !SharingAllows(held, access, share)) return true;
    }
    return false;
}

// The handles open on `from` or on anything inside it follow it to `to`.
void FollowRename(const std::string& from, const std::string& to) {
    for (auto& [value, held] : M().files) {
        if (held.host == from) {
            held.host = to;
        } else if (held.host.starts_with(from + "/")) {
            held.host = to + held.host.substr(from.size());
        }
    }
}

bool IsLink(const std::string& hostPath) {
    struct stat info {};
    return ::lstat(hostPath.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// The handle table's entry for an fd just opened.
platform::HANDLE AddFile(int fd, DWORD access, DWORD share, const std::string& host, const char16_t* path) {
    struct stat info {};
    ::fstat(fd, &info);
    std::uintptr_t value = NewHandleValue();
    M().files[value] = FileHandle{fd, access, share, info.st_dev, info.st_ino, 0, host, TextOf(path)};
    return reinterpret_cast<platform::HANDLE>(value);
}

}  // namespace

FileHandle* FindFile(platform::HANDLE handle) {
    auto it = M().files.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == M().files.end() ? nullptr : &it->second;
}

std::u16string HandleTarget(platform::HANDLE handle) {
    if (const FileHandle* file = FindFile(handle)) return file->named;
    if (M().tokens.count(reinterpret_cast<std::uintptr_t>(handle)) != 0) return sim::TOKEN;
    if (handle == CURRENT_PROCESS) return sim::OWN_PROCESS;
    if (std::u16string source = EventSourceTarget(handle); !source.empty()) return source;
    if (std::u16string crypt = CryptTarget(reinterpret_cast<std::uintptr_t>(handle)); !crypt.empty()) return crypt;
    return ProcessTarget(handle);
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

void DenyCreateDirectory(const std::u16string& windowsPath, DWORD error) {
    M().deniedDirectories[Resolve(windowsPath.c_str(), false).full] = error;
}
void DenyOpen(const std::u16string& windowsPath, DWORD error) {
    M().deniedOpens[Resolve(windowsPath.c_str(), false).full] = error;
}
void DenyReadOpen(const std::u16string& windowsPath) {
    M().deniedReadOpens.insert(Resolve(windowsPath.c_str(), false).full);
}
void MakeLink(const std::u16string& windowsPath, const std::u16string& target) {
    const std::string link = HostPath(windowsPath);
    std::filesystem::create_directories(std::filesystem::path(link).parent_path());
    std::filesystem::create_symlink(HostPath(target), link);
}
void MakeHardLink(const std::u16string& windowsPath, const std::u16string& existing) {
    const std::string name = HostPath(windowsPath);
    std::filesystem::create_directories(std::filesystem::path(name).parent_path());
    std::filesystem::create_hard_link(HostPath(existing), name);
}
void Rename(const std::u16string& from, const std::u16string& to) {
    const std::string source = HostPath(from);
    const std::string target = HostPath(to);
    std::filesystem::rename(source, target);
    FollowRename(source, target);
}
void SetWindowsFolder(const std::u16string& path) { M().windowsFolder = path; }
void FailWritesAfter(int okWrites, DWORD error) {
    M().okWritesLeft = okWrites < 0 ? 0 : okWrites;
    M().writeError = error;
}
const std::vector<DWORD>& WriteSizes() { return M().writeSizes; }
const std::vector<DirectoryCall>& DirectoryCalls() { return M().directoryCalls; }

}  // namespace sim

namespace platform {

using namespace sim::detail;

HANDLE CreateFileW(const char16_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flagsAndAttributes) {
    DWORD error = 0;
    if (Enter("CreateFileW", TextOf(path), &error)) return FailOpen(error);
    if (disposition < CREATE_NEW || disposition > 5 /* TRUNCATE_EXISTING */) return FailOpen(ERROR_INVALID_PARAMETER);
    if (disposition == 5 && !(access & GENERIC_WRITE)) return FailOpen(ERROR_INVALID_PARAMETER);
    if (BeyondLegacyLimit(path, LEGACY_PATH_LIMIT)) return FailOpen(ERROR_PATH_NOT_FOUND);
    ResolvedPath r = Resolve(path);
    if (r.error != 0) return FailOpen(r.error);
    Machine& m = M();
    if (auto denied = m.deniedOpens.find(r.full); denied != m.deniedOpens.end()) return FailOpen(denied->second);
    if ((access & GENERIC_READ) && m.deniedReadOpens.count(r.full) != 0) return FailOpen(ERROR_ACCESS_DENIED);

    // The link itself, whatever it points to (or whether that exists); opening it changes nothing.
    if ((flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) && !r.isRoot && IsLink(r.host)) {
        if (disposition == CREATE_NEW) return FailOpen(ERROR_FILE_EXISTS);
        int fd = ::open(r.host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return FailOpen(ErrorFromErrno(errno));
        SetLastError(disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return AddFile(fd, access, share, r.host, path);
    }
    Kind kind = r.isRoot ? Kind::Folder : KindOf(r.host);
    if (kind == Kind::Folder && (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) && disposition != CREATE_NEW) {
        int fd = ::open(r.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return FailOpen(ErrorFromErrno(errno));
        SetLastError(disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return AddFile(fd, access, share, r.host, path);
    }
    if (kind == Kind::Folder || kind == Kind::Other) {
        return FailOpen(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    }
    if (r.trailingSeparator) return FailOpen(ERROR_INVALID_NAME);
    if (KindOf(r.hostParent) != Kind::Folder) return FailOpen(ERROR_PATH_NOT_FOUND);
    bool exists = kind == Kind::File;
    if (!exists && (disposition == OPEN_EXISTING || disposition == 5)) return FailOpen(ERROR_FILE_NOT_FOUND);
    if (exists && disposition == CREATE_NEW) return FailOpen(ERROR_FILE_EXISTS);

    if (exists) {
        struct stat info {};
        if (::stat(r.host.c_str(), &info) != 0) return FailOpen(ErrorFromErrno(errno));
        if (SharingViolation({info.st_dev, info.st_ino}, access, share)) return FailOpen(ERROR_SHARING_VIOLATION);
    } else if (!MayCreateIn(IdOf(r.hostParent), false)) {
        return FailOpen(ERROR_ACCESS_DENIED);
    }

    int flags = O_CLOEXEC | AccessFlags(access);
    if (!exists) flags |= O_CREAT | O_EXCL;
    bool truncate = exists && (disposition == CREATE_ALWAYS || disposition == 5);
    if (truncate && (flags & O_ACCMODE) == O_RDONLY) flags = (flags & ~O_ACCMODE) | O_RDWR;
    if (truncate) flags |= O_TRUNC;
    int fd = ::open(r.host.c_str(), flags, 0644);
    if (fd < 0) return FailOpen(ErrorFromErrno(errno));
    if (!exists) RecordCreated(IdOf(fd), IdOf(r.hostParent), false);
    HANDLE handle = AddFile(fd, access, share, r.host, path);
    // As on Windows: success over an existing file with OPEN_ALWAYS or CREATE_ALWAYS says so.
    SetLastError(exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                        : ERROR_SUCCESS);
    return handle;
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    DWORD error = 0;
    if (Enter("GetFileInformationByHandle", HandleTarget(file), &error)) return Fail(error);
    FileHandle* handle = FindFile(file);
    if (handle == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    struct stat own {};
    if (::fstat(handle->fd, &own) != 0) return Fail(ErrorFromErrno(errno));
    *info = BY_HANDLE_FILE_INFORMATION{};
    // Windows counts a folder's names as one; a link is marked whatever it points to, and a
    // junction or folder link is a folder as well.
    if (S_ISLNK(own.st_mode)) {
        info->dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
        if (KindOf(handle->host) == Kind::Folder) info->dwFileAttributes |= FILE_ATTRIBUTE_DIRECTORY;
        info->nNumberOfLinks = 1;
    } else if (S_ISDIR(own.st_mode)) {
        info->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        info->nNumberOfLinks = 1;
    } else {
        info->dwFileAttributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE, as a new file gets it
        info->nNumberOfLinks = static_cast<DWORD>(own.st_nlink);
        info->nFileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(own.st_size) >> 32);
        info->nFileSizeLow = static_cast<DWORD>(own.st_size);
    }
    info->dwVolumeSerialNumber = static_cast<DWORD>(own.st_dev);
    info->nFileIndexHigh = static_cast<DWORD>(static_cast<std::uint64_t>(own.st_ino) >> 32);
    info->nFileIndexLow = static_cast<DWORD>(own.st_ino);
    return TRUE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
    DWORD error = 0;
    if (Enter("ReadFile", HandleTarget(file), &error)) return Fail(error);
    FileHandle* handle = FindFile(file);
    if (handle == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (read == nullptr || (buffer == nullptr && size != 0)) return Fail(ERROR_INVALID_PARAMETER);
    *read = 0;
    if (!(handle->access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    ssize_t got = ::pread(handle->fd, buffer, size, static_cast<off_t>(handle->position));
    if (got < 0) return Fail(ErrorFromErrno(errno));
    handle->position += static_cast<std::uint64_t>(got);
    *read = static_cast<DWORD>(got);
    return TRUE;
}

BOOL WriteFileAtEnd(HANDLE file, const void* data, DWORD size, DWORD* written) {
    DWORD error = 0;
    bool injected = Enter("WriteFileAtEnd", HandleTarget(file), &error);
    Machine& m = M();
    m.writeSizes.push_back(size);
    if (written != nullptr) *written = 0;
    if (injected) return Fail(error);
    FileHandle* handle = FindFile(file);
    if (handle == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (written == nullptr || (data == nullptr && size != 0)) return Fail(ERROR_INVALID_PARAMETER);
    if (!(handle->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    if (m.okWritesLeft == 0) return Fail(m.writeError);
    if (m.okWritesLeft > 0) --m.okWritesLeft;
    off_t end = ::lseek(handle->fd, 0, SEEK_END);
    if (end < 0) return Fail(ErrorFromErrno(errno));
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    DWORD done = 0;
    while (done < size) {
        ssize_t put = ::pwrite(handle->fd, bytes + done, size - done, end + done);
        if (put < 0) {
            if (errno == EINTR) continue;
            *written = done;
            return Fail(ErrorFromErrno(errno));
        }
        done += static_cast<DWORD>(put);
    }
    handle->position = static_cast<std::uint64_t>(end) + size;
    *written = size;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    DWORD error = 0;
    if (Enter("CloseHandle", HandleTarget(handle), &error)) return Fail(error);
    Machine& m = M();
    auto value = reinterpret_cast<std::uintptr_t>(handle);
    // The current-process pseudo-handle: closing it is allowed and does nothing.
    if (handle == GetCurrentProcess()) return TRUE;
    if (auto it = m.files.find(value); it != m.files.end()) {
        ::close(it->second.fd);
        m.files.erase(it);
        return TRUE;
    }
    if (auto it = m.processes.find(value); it != m.processes.end()) {
        m.processes.erase(it);
        ++m.processHandleCloses;
        return TRUE;
    }
    if (m.tokens.erase(value) != 0) return TRUE;
    return Fail(ERROR_INVALID_HANDLE);
}

BOOL CreateDirectoryW(const char16_t* path, SECURITY_ATTRIBUTES* securityAttributes) {
    DWORD error = 0;
    bool injected = Enter("CreateDirectoryW", TextOf(path), &error);
    auto finish = [&](BOOL result, DWORD code) {
        M().directoryCalls.push_back(sim::DirectoryCall{TextOf(path), result, code});
        if (!result) SetLastError(code);
        return result;
    };
    if (injected) return finish(FALSE, error);
    if (BeyondLegacyLimit(path, LEGACY_NEW_FOLDER_LIMIT)) return finish(FALSE, ERROR_FILENAME_EXCED_RANGE);
    ResolvedPath r = Resolve(path);
    if (r.error != 0) return finish(FALSE, r.error);
    Machine& m = M();
    if (auto denied = m.deniedDirectories.find(r.full); denied != m.deniedDirectories.end()) {
        return finish(FALSE, denied->second);
    }
    // Windows refuses to create a volume's root with access denied, not "already exists".
    if (r.isRoot) return finish(FALSE, ERROR_ACCESS_DENIED);
    if (KindOf(r.host) != Kind::Missing) return finish(FALSE, ERROR_ALREADY_EXISTS);
    if (KindOf(r.hostParent) != Kind::Folder) return finish(FALSE, ERROR_PATH_NOT_FOUND);
    std::optional<sim::Account> owner;
    Dacl dacl;
    const bool described = securityAttributes != nullptr && securityAttributes->lpSecurityDescriptor != nullptr;
    if (described && !ReadDescriptor(securityAttributes->lpSecurityDescriptor, owner, dacl)) {
        return finish(FALSE, ERROR_INVALID_PARAMETER);
    }
    if (owner && !MayAssignOwner(*owner)) return finish(FALSE, platform::ERROR_INVALID_OWNER);
    if (!MayCreateIn(IdOf(r.hostParent), true)) return finish(FALSE, ERROR_ACCESS_DENIED);
    if (::mkdir(r.host.c_str(), 0755) != 0) return finish(FALSE, ErrorFromErrno(errno));
    RecordCreated(IdOf(r.host), IdOf(r.hostParent), true, owner, described ? &dacl : nullptr);
    return finish(TRUE, ERROR_SUCCESS);
}

NTSTATUS NtCreateFile(HANDLE* file, DWORD access, HANDLE rootDirectory, const char16_t* name, DWORD share,
                      DWORD disposition, DWORD options) {
    const FileHandle* root = FindFile(rootDirectory);
    const std::u16string inside = TextOf(name);
    const std::u16string named = (root != nullptr ? root->named + u"\\" : std::u16string()) + inside;
    DWORD error = 0;
    if (Enter("NtCreateFile", named, &error)) return STATUS_ACCESS_DENIED;
    if (root == nullptr || file == nullptr) return STATUS_INVALID_HANDLE;
    if (inside.empty() || inside.find_first_of(u"\\/") != std::u16string::npos || inside == u"." || inside == u"..") {
        return STATUS_OBJECT_NAME_INVALID;
    }
    if (disposition != FILE_OPEN && disposition != FILE_CREATE) return STATUS_INVALID_PARAMETER;
    Machine& m = M();
    const std::u16string full = Resolve(named.c_str(), false).full;
    if (m.deniedOpens.count(full) != 0 || ((access & GENERIC_READ) && m.deniedReadOpens.count(full) != 0)) {
        return STATUS_ACCESS_DENIED;
    }
    const std::string host = root->host + "/" + sim::Utf8(inside);
    const int rootFd = root->fd;
    struct stat info {};
    const bool exists = ::fstatat(rootFd, sim::Utf8(inside).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno == ENOTDIR) return STATUS_OBJECT_PATH_NOT_FOUND;
    if (exists && disposition == FILE_CREATE) return platform::STATUS_OBJECT_NAME_COLLISION;
    if (!exists && disposition == FILE_OPEN) return STATUS_OBJECT_NAME_NOT_FOUND;

    int fd = -1;
    if (exists && S_ISLNK(info.st_mode) && (options & FILE_OPEN_REPARSE_POINT)) {
        fd = ::openat(rootFd, sim::Utf8(inside).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    } else if (exists) {
        if (S_ISDIR(info.st_mode) && (options & FILE_NON_DIRECTORY_FILE)) return STATUS_FILE_IS_A_DIRECTORY;
        if (SharingViolation({info.st_dev, info.st_ino}, access, share)) return STATUS_SHARING_VIOLATION;
        fd = ::openat(rootFd, sim::Utf8(inside).c_str(), O_CLOEXEC | AccessFlags(access));
    } else {
        if (!MayCreateIn(IdOf(rootFd), false)) return STATUS_ACCESS_DENIED;
        fd = ::openat(rootFd, sim::Utf8(inside).c_str(),
                      O_CLOEXEC | O_CREAT | O_EXCL | O_NOFOLLOW | AccessFlags(access), 0644);
        if (fd >= 0) RecordCreated(IdOf(fd), IdOf(rootFd), false);
    }
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? STATUS_OBJECT_PATH_NOT_FOUND : STATUS_ACCESS_DENIED;
    struct stat opened {};
    ::fstat(fd, &opened);
    const std::uintptr_t value = NewHandleValue();
    m.files[value] = FileHandle{fd, access, share, opened.st_dev, opened.st_ino, 0, host, named};
    *file = reinterpret_cast<HANDLE>(value);
    return STATUS_SUCCESS;
}

BOOL SetFileInformationByHandle(HANDLE file, const char16_t* newPath) {
    DWORD error = 0;
    if (Enter("SetFileInformationByHandle", HandleTarget(file), &error)) return Fail(error);
    FileHandle* handle = FindFile(file);
    if (handle == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (!(handle->access & DELETE)) return Fail(ERROR_ACCESS_DENIED);
    const ResolvedPath target = Resolve(newPath);
    if (target.error != 0) return Fail(target.error);
    if (target.isRoot || KindOf(target.host) != Kind::Missing || IsLink(target.host)) return Fail(ERROR_ALREADY_EXISTS);
    if (KindOf(target.hostParent) != Kind::Folder) return Fail(ERROR_PATH_NOT_FOUND);
    // The object the handle stands for, which another process may have renamed since.
    if (IdOf(handle->host) != ObjectId{handle->device, handle->inode}) return Fail(ERROR_FILE_NOT_FOUND);
    if (IdOf(target.hostParent).first != handle->device) return Fail(ERROR_NOT_SAME_DEVICE);
    // A folder with something open inside it keeps its name.
    for (const auto& [value, held] : M().files) {
        if (held.host.starts_with(handle->host + "/")) return Fail(ERROR_ACCESS_DENIED);
    }
    if (::rename(handle->host.c_str(), target.host.c_str()) != 0) return Fail(ErrorFromErrno(errno));
    FollowRename(handle->host, target.host);
    return TRUE;
}

UINT GetSystemWindowsDirectoryW(char16_t* buffer, UINT size) {
    DWORD error = 0;
    if (Enter("GetSystemWindowsDirectoryW", &error)) {
        SetLastError(error);
        return 0;
    }
    const std::u16string& folder = M().windowsFolder;
    if (buffer == nullptr || size <= folder.size()) return static_cast<UINT>(folder.size() + 1);
    std::copy(folder.begin(), folder.end(), buffer);
    buffer[folder.size()] = 0;
    return static_cast<UINT>(folder.size());
}

}  // namespace platform
