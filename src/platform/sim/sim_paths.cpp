// How the simulated file system reads a Windows path, and the control API over the real
// folder that holds the drives.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim::detail {
namespace {

struct Parsed {
    DWORD error = 0;
    bool unc = false;
    char16_t letter = u'C';
    std::u16string server, share;
    std::vector<std::u16string> parts;
    bool trailing = false;

    std::u16string Volume() const { return unc ? u"\\\\" + server + u"\\" + share : std::u16string{letter, u':'}; }
};

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool ValidName(const std::u16string& name) {
    return std::none_of(name.begin(), name.end(), [](char16_t c) {
        return c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' || c == u'*';
    });
}

// Win32 accepts "/" wherever it accepts "\" in file names, folds "." and "..", and lets ".."
// stop at the root of the volume. "\\?\" and "\\.\" prefixes are taken off.
void Parse(std::u16string p, Parsed& out) {
    std::replace(p.begin(), p.end(), u'/', u'\\');
    if (p.starts_with(u"\\\\?\\UNC\\")) {
        p = u"\\\\" + p.substr(8);
    } else if (p.starts_with(u"\\\\?\\") || p.starts_with(u"\\\\.\\")) {
        p = p.substr(4);
    }
    if (p.empty()) {
        out.error = platform::ERROR_PATH_NOT_FOUND;
        return;
    }
    std::u16string rest;
    if (p.size() >= 2 && p[0] == u'\\' && p[1] == u'\\') {
        std::size_t serverEnd = p.find(u'\\', 2);
        out.server = p.substr(2, serverEnd == std::u16string::npos ? std::u16string::npos : serverEnd - 2);
        std::size_t shareEnd = std::u16string::npos;
        if (serverEnd != std::u16string::npos) {
            shareEnd = p.find(u'\\', serverEnd + 1);
            out.share = p.substr(serverEnd + 1,
                                 shareEnd == std::u16string::npos ? std::u16string::npos : shareEnd - serverEnd - 1);
        }
        if (out.server.empty() || out.share.empty() || !ValidName(out.server) || !ValidName(out.share)) {
            out.error = ERROR_BAD_PATHNAME;
            return;
        }
        out.unc = true;
        rest = shareEnd == std::u16string::npos ? std::u16string() : p.substr(shareEnd);
    } else if (p.size() >= 2 && IsLetter(p[0]) && p[1] == u':') {
        out.letter = p[0] >= u'a' ? static_cast<char16_t>(p[0] - u'a' + u'A') : p[0];
        rest = p.substr(2);
        if (rest.empty() || rest[0] != u'\\') {
            // Drive-relative: against the current folder when it is on that drive, else the
            // drive's root (this process never changes folder on another drive).
            Parsed current;
            Parse(M().currentFolder, current);
            if (!current.unc && current.letter == out.letter) out.parts = current.parts;
        }
    } else {
        Parsed current;
        Parse(M().currentFolder, current);
        out.unc = current.unc;
        out.letter = current.letter;
        out.server = current.server;
        out.share = current.share;
        if (p[0] != u'\\') out.parts = current.parts;
        rest = p;
    }
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(u'\\', start);
        if (end == std::u16string::npos) end = rest.size();
        std::u16string part = rest.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (!out.parts.empty()) out.parts.pop_back();
            continue;
        }
        if (!ValidName(part)) {
            out.error = ERROR_INVALID_NAME;
            return;
        }
        out.parts.push_back(part);
    }
    out.trailing = !rest.empty() && rest.back() == u'\\' && !out.parts.empty();
}

[[noreturn]] void BadControlPath(const char* what, const std::u16string& path) {
    std::fprintf(stderr, "sim: %s cannot map the path \"%s\"\n", what, Utf8(path).c_str());
    std::abort();
}

ResolvedPath ControlPath(const char* what, const std::u16string& path) {
    ResolvedPath r = Resolve(path.c_str(), false);
    if (r.error != 0) BadControlPath(what, path);
    return r;
}

}  // namespace

bool BeyondLegacyLimit(const char16_t* path, std::size_t limit) {
    if (path == nullptr) return false;
    const std::u16string text = TextOf(path);
    return !text.starts_with(u"\\\\?\\") && Resolve(path, false).full.size() >= limit;
}

ResolvedPath Resolve(const char16_t* path, bool requireVolume) {
    ResolvedPath r;
    if (path == nullptr) {
        r.error = platform::ERROR_PATH_NOT_FOUND;
        return r;
    }
    Parsed p;
    Parse(path, p);
    if (p.error != 0) {
        r.error = p.error;
        return r;
    }
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for "literal" + string&&.
    std::string volumeHost = M().root;
    if (p.unc) {
        volumeHost.append("/UNC/").append(Utf8(p.server)).append("/").append(Utf8(p.share));
    } else {
        volumeHost.append("/").append(Utf8(std::u16string{p.letter}));
    }
    r.full = p.Volume() + u"\\";
    r.host = volumeHost;
    for (std::size_t i = 0; i < p.parts.size(); ++i) {
        if (i + 1 == p.parts.size()) r.hostParent = r.host;
        if (i != 0) r.full += u'\\';
        r.full += p.parts[i];
        r.host.append("/").append(Utf8(p.parts[i]));
    }
    r.isRoot = p.parts.empty();
    r.trailingSeparator = p.trailing;
    if (requireVolume && KindOf(volumeHost) != Kind::Folder) {
        r.error = p.unc ? ERROR_BAD_NETPATH : platform::ERROR_PATH_NOT_FOUND;
    }
    return r;
}

Kind KindOf(const std::string& hostPath) {
    struct stat info {};
    if (hostPath.empty() || ::stat(hostPath.c_str(), &info) != 0) return Kind::Missing;
    if (S_ISREG(info.st_mode)) return Kind::File;
    if (S_ISDIR(info.st_mode)) return Kind::Folder;
    return Kind::Other;
}

DWORD MissingError(const ResolvedPath& path) {
    if (path.isRoot || KindOf(path.hostParent) != Kind::Folder) return platform::ERROR_PATH_NOT_FOUND;
    return platform::ERROR_FILE_NOT_FOUND;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT: return platform::ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return platform::ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR: return platform::ERROR_ACCESS_DENIED;
        case EEXIST: return platform::ERROR_ALREADY_EXISTS;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case ENOSPC: return ERROR_DISK_FULL;
        case EROFS: return 19;  // ERROR_WRITE_PROTECT
        case EMFILE:
        case ENFILE: return 4;  // ERROR_TOO_MANY_OPEN_FILES
        default: return ERROR_GEN_FAILURE;
    }
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

std::string HostPath(const std::u16string& windowsPath) { return ControlPath("HostPath", windowsPath).host; }

void MakeDrive(char16_t letter) {
    if (!IsLetter(letter)) BadControlPath("MakeDrive", std::u16string{letter, u':'});
    char16_t upper = letter >= u'a' ? static_cast<char16_t>(letter - u'a' + u'A') : letter;
    std::filesystem::create_directories(M().root + "/" + Utf8(std::u16string{upper}));
}

void MakeFolder(const std::u16string& windowsPath) {
    std::filesystem::create_directories(ControlPath("MakeFolder", windowsPath).host);
}

void MakeFile(const std::u16string& windowsPath, const std::string& bytes) {
    ResolvedPath r = ControlPath("MakeFile", windowsPath);
    if (r.isRoot) BadControlPath("MakeFile", windowsPath);
    std::filesystem::create_directories(r.hostParent);
    std::ofstream out(r.host, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) BadControlPath("MakeFile (write)", windowsPath);
}

std::string ReadFile(const std::u16string& windowsPath) {
    ResolvedPath r = ControlPath("ReadFile", windowsPath);
    if (KindOf(r.host) != Kind::File) return {};
    std::ifstream in(r.host, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::u16string& windowsPath) {
    return KindOf(ControlPath("FileExists", windowsPath).host) == Kind::File;
}

bool FolderExists(const std::u16string& windowsPath) {
    return KindOf(ControlPath("FolderExists", windowsPath).host) == Kind::Folder;
}

void SetCurrentFolder(const std::u16string& windowsPath) {
    M().currentFolder = ControlPath("SetCurrentFolder", windowsPath).full;
}

std::vector<std::u16string> ListFolder(const std::u16string& windowsPath) {
    std::vector<std::u16string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(ControlPath("ListFolder", windowsPath).host, error)) {
        names.push_back(FromUtf8(entry.path().filename().string()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace sim
