// The simulated machine's life cycle, the call trace with its failure injection, the last
// error, the clock and the small process-wide answers.
// POSIX headers: kill() and mkdtemp() are not declared by <csignal> and <cstdlib>.
#include <signal.h>  // NOLINT(modernize-deprecated-headers)
#include <stdlib.h>  // NOLINT(modernize-deprecated-headers)
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/fatal_stop.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim::detail {
namespace {

// Made on first use and never destroyed: static objects of the code under test may call into
// the machine before this file's statics exist, and again while statics are torn down at exit.
Machine& Raw() {
    static Machine* machine = new Machine;
    return *machine;
}
std::string* rootToRemove = nullptr;  // constant-initialised, so safe before dynamic init

pid_t rootOwner = 0;

void RemoveRootAtExit() {
    if (rootToRemove != nullptr && !rootToRemove->empty() && rootOwner == getpid()) {
        std::error_code ignored;
        std::filesystem::remove_all(*rootToRemove, ignored);
    }
}

const char* TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

constexpr const char* ROOT_PREFIX = "orvane-sim-";

// The owner's process id is part of the name, so that the roots left by processes that ended
// without their exit handlers (death tests abort on purpose) can be removed later.
std::string MakeRootFolder() {
    std::string pattern = std::string(TempFolder()) + "/" + ROOT_PREFIX + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fputs("sim: cannot create the temporary root folder\n", stderr);
        std::abort();
    }
    return pattern;
}

void RemoveRootsOfEndedProcesses() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(TempFolder(), error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(ROOT_PREFIX)) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + std::strlen(ROOT_PREFIX), &end, 10);
        if (pid <= 0 || *end != '-') continue;
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }
}

}  // namespace

Machine& M() {
    if (!Raw().ready) sim::Reset();
    return Raw();
}

bool Enter(const char* name, DWORD* error) { return Enter(name, std::u16string(), error); }

bool Enter(const char* name, const std::u16string& on, DWORD* error) {
    Machine& m = M();
    m.calls.emplace_back(name);
    m.trace.push_back(sim::TracedCall{name, on});
    std::vector<std::function<void()>> actions;
    for (auto hook = m.hooks.begin(); hook != m.hooks.end();) {
        if (hook->on == on && (hook->name.empty() || hook->name == name) && --hook->remaining == 0) {
            actions.push_back(std::move(hook->action));
            hook = m.hooks.erase(hook);
        } else {
            ++hook;
        }
    }
    for (const std::function<void()>& action : actions) action();
    bool due = false;
    for (Injection& injection : m.injections) {
        if (injection.name != name || (!injection.anyTarget && injection.on != on)) continue;
        if (--injection.remaining > 0) continue;
        if (!due) *error = injection.error;
        due = true;
    }
    std::erase_if(m.injections, [](const Injection& injection) { return injection.remaining <= 0; });
    return due;
}

void SetLastError(DWORD error) { M().lastError = error; }

BOOL Fail(DWORD error) {
    SetLastError(error);
    return platform::FALSE;
}

std::uintptr_t NewHandleValue() {
    Machine& m = M();
    std::uintptr_t value = m.nextHandle;
    m.nextHandle += 4;
    return value;
}

std::u16string TextOf(const char16_t* text) { return text != nullptr ? std::u16string(text) : std::u16string(); }

std::u16string FoldCase(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return text;
}

std::u16string FromUtf8(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        int extra = byte < 0x80 ? 0 : byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : -1;
        char32_t c = extra == 0 ? byte : extra == 1 ? byte & 0x1F : extra == 2 ? byte & 0x0F : byte & 0x07;
        bool valid = extra >= 0 && i + extra < text.size() + (extra == 0 ? 1 : 0);
        for (int k = 1; valid && k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) valid = false;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += u'\xFFFD';
            ++i;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void Reset() {
    Machine& m = Raw();
    m.ready = true;  // the handle table may be read while the rest is set up
    DropFileHandles();
    ResetHeaps();
    // A forked child (a death test) shares its parent's root; only the owner removes it.
    if (!m.root.empty() && rootOwner == getpid()) {
        std::error_code ignored;
        std::filesystem::remove_all(m.root, ignored);
    }
    m = Machine{};
    if (rootToRemove == nullptr) {
        RemoveRootsOfEndedProcesses();
        rootToRemove = new std::string;
        std::atexit(RemoveRootAtExit);
    }
    m.root = MakeRootFolder();
    rootOwner = getpid();
    *rootToRemove = m.root;
    std::filesystem::create_directory(m.root + "/C");
    m.ready = true;
}

std::string RootFolder() { return M().root; }

const char* FatalSiteName(platform::FatalSite site) {
    using platform::FatalSite;
    switch (site) {
        case FatalSite::GuardBroken: return "guard broken";
        case FatalSite::LengthBeyondCapacity: return "length beyond capacity";
        case FatalSite::IndexBeyondCapacity: return "index beyond capacity";
        case FatalSite::LengthOverflow: return "length overflow";
        case FatalSite::BlockAllocationFailed: return "block allocation failed";
        case FatalSite::DescriptorAllocationFailed: return "descriptor allocation failed";
        case FatalSite::ScanPastBlock: return "scan past the block";
        case FatalSite::FormatMeasureFailed: return "format measure failed";
        case FatalSite::FormatPrintFailed: return "format print failed";
    }
    return "unknown site";
}

const std::vector<std::string>& Calls() { return M().calls; }
const std::vector<TracedCall>& Trace() { return M().trace; }

void FailCall(const std::string& name, DWORD error, int occurrence) {
    if (occurrence < 1) occurrence = 1;
    M().injections.push_back(Injection{name, error, occurrence, true, {}});
}

void FailCallOn(const std::string& name, const std::u16string& on, DWORD error, int occurrence) {
    if (occurrence < 1) occurrence = 1;
    M().injections.push_back(Injection{name, error, occurrence, false, on});
}

void BeforeCallOn(const std::string& name, const std::u16string& on, std::function<void()> action, int occurrence) {
    M().hooks.push_back(Machine::Hook{name, on, occurrence < 1 ? 1 : occurrence, std::move(action)});
}

void SetProcessId(DWORD id) { M().processId = id; }
int RestrictDllSearchPathCalls() { return M().restrictDllSearchPathCalls; }

void SetSystemTime(std::int64_t fileTimeTicks) { M().systemTime = fileTimeTicks; }
void SetPreciseClockAvailable(bool available) { M().preciseClockAvailable = available; }
int PreciseClockReads() { return M().preciseClockReads; }
int PlainClockReads() { return M().plainClockReads; }

}  // namespace sim

namespace platform {

using namespace sim::detail;

namespace {

void WriteTime(FILETIME* time) {
    if (time == nullptr) return;
    auto ticks = static_cast<std::uint64_t>(M().systemTime);
    time->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

void PreciseClock(FILETIME* time) {
    DWORD unused = 0;
    Enter("GetSystemTimePreciseAsFileTime", &unused);
    ++M().preciseClockReads;
    WriteTime(time);
}

}  // namespace

void GetSystemTimeAsFileTime(FILETIME* time) {
    DWORD unused = 0;
    Enter("GetSystemTimeAsFileTime", &unused);
    ++M().plainClockReads;
    WriteTime(time);
}

SystemTimeFunction FindGetSystemTimePreciseAsFileTime() {
    DWORD error = 0;
    if (Enter("FindGetSystemTimePreciseAsFileTime", &error)) {
        SetLastError(error);
        return nullptr;
    }
    if (!M().preciseClockAvailable) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return &PreciseClock;
}

DWORD GetCurrentProcessId() {
    DWORD unused = 0;
    Enter("GetCurrentProcessId", &unused);
    return M().processId;
}

DWORD GetLastError() {
    DWORD unused = 0;
    Enter("GetLastError", &unused);
    return M().lastError;
}

void SetLastError(DWORD error) { M().lastError = error; }

void RestrictDllSearchPath() {
    DWORD unused = 0;
    Enter("RestrictDllSearchPath", &unused);
    ++M().restrictDllSearchPathCalls;
}

void FatalStop(FatalSite site) {
    std::fprintf(stderr, "sim: fatal stop: %s\n", sim::FatalSiteName(site));
    std::abort();
}

}  // namespace platform
