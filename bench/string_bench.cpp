// The string operations the launcher uses, against std::u16string doing the same work, for
// path-sized texts (up to 260 characters) and long ones. Each benchmark reports heap_allocs:
// the heap allocations one iteration makes (our strings: the simulation's heap counters;
// std::u16string: the binary's global operator new).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "alloc_count.h"
#include "strings/fixed_path_string.h"
#include "strings/guarded_string.h"

namespace {

using orvane::FixedPathString;
using orvane::GuardedString;

constexpr char16_t CHARACTER = u'x';

/// Counts our strings' heap calls (or operator new for std) around the timed loop.
template <bool Std>
class AllocationScope {
public:
    explicit AllocationScope(benchmark::State& state) : state(state), before(Now()) {}
    ~AllocationScope() { bench::ReportAllocations(state, Now() - before); }

private:
    static std::int64_t Now() { return Std ? bench::NewCalls() : bench::StringHeapCalls(); }
    benchmark::State& state;
    std::int64_t before;
};

// ---- append one character at a time -----------------------------------------------------

template <typename S>
void AppendOneCharacter(benchmark::State& state) {
    const auto n = state.range(0);
    {
        AllocationScope<false> scope(state);
        for (auto _ : state) {
            S s;
            for (std::int64_t i = 0; i < n; ++i) s.Append(&CHARACTER, 1);
            benchmark::DoNotOptimize(s.Text());
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void AppendOneCharacterStd(benchmark::State& state) {
    const auto n = state.range(0);
    {
        AllocationScope<true> scope(state);
        for (auto _ : state) {
            std::u16string s;
            for (std::int64_t i = 0; i < n; ++i) s.append(&CHARACTER, 1);
            benchmark::DoNotOptimize(s.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK_TEMPLATE(AppendOneCharacter, GuardedString)->Name("AppendChar/GuardedString")->Arg(260)->Arg(4096);
BENCHMARK_TEMPLATE(AppendOneCharacter, FixedPathString)->Name("AppendChar/FixedPathString")->Arg(260)->Arg(4096);
BENCHMARK(AppendOneCharacterStd)->Name("AppendChar/std::u16string")->Arg(260)->Arg(4096);

// ---- build a path with AppendPath ---------------------------------------------------------

/// The pieces of a path of at most `length` characters: a drive, then folders of 7 characters
/// (8 with the separator), then a last piece that reaches `length` exactly.
std::vector<std::u16string> PathPieces(std::int64_t length) {
    std::vector<std::u16string> pieces{u"C:"};
    std::int64_t total = 2;
    while (total + 8 <= length) {
        pieces.emplace_back(u"folder7");
        total += 8;
    }
    if (length - total >= 2) {
        pieces.emplace_back(static_cast<std::size_t>(length - total - 1), u'f');
    }
    return pieces;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

/// What AppendPath does, on std::u16string.
void AppendPathStd(std::u16string& path, const std::u16string& tail) {
    if (tail.empty()) return;
    if (!path.empty() && !IsSeparator(path.back())) path += u'\\';
    const std::size_t rest = tail.find_first_not_of(u"\\/");
    if (rest != std::u16string::npos) path.append(tail, rest);
}

template <typename S>
void BuildPath(benchmark::State& state) {
    const std::vector<std::u16string> pieces = PathPieces(state.range(0));
    std::uint32_t length = 0;
    {
        AllocationScope<false> scope(state);
        for (auto _ : state) {
            S path;
            for (const std::u16string& piece : pieces) path.AppendPath(piece.c_str());
            length = path.Length();
            benchmark::DoNotOptimize(path.Text());
        }
    }
    state.counters["path_length"] = length;
}

void BuildPathStd(benchmark::State& state) {
    const std::vector<std::u16string> pieces = PathPieces(state.range(0));
    std::size_t length = 0;
    {
        AllocationScope<true> scope(state);
        for (auto _ : state) {
            std::u16string path;
            for (const std::u16string& piece : pieces) AppendPathStd(path, piece);
            length = path.size();
            benchmark::DoNotOptimize(path.data());
        }
    }
    state.counters["path_length"] = static_cast<double>(length);
}

#define PATH_LENGTHS Arg(3)->Arg(32)->Arg(100)->Arg(200)->Arg(259)->Arg(260)->Arg(261)->Arg(1024)
BENCHMARK_TEMPLATE(BuildPath, FixedPathString)->Name("BuildPath/FixedPathString")->PATH_LENGTHS;
BENCHMARK_TEMPLATE(BuildPath, GuardedString)->Name("BuildPath/GuardedString")->PATH_LENGTHS;
BENCHMARK(BuildPathStd)->Name("BuildPath/std::u16string")->PATH_LENGTHS;

// ---- assign --------------------------------------------------------------------------------

/// Assigns a text of `n` characters to a string that already holds one (steady state).
template <typename S>
void AssignInto(benchmark::State& state) {
    const std::u16string text(static_cast<std::size_t>(state.range(0)), u'a');
    S s;
    s.Assign(text.c_str());
    AllocationScope<false> scope(state);
    for (auto _ : state) {
        s.Assign(text.c_str());
        benchmark::DoNotOptimize(s.Text());
    }
}

void AssignIntoStd(benchmark::State& state) {
    const std::u16string text(static_cast<std::size_t>(state.range(0)), u'a');
    std::u16string s = text;
    AllocationScope<true> scope(state);
    for (auto _ : state) {
        s.assign(text.c_str());
        benchmark::DoNotOptimize(s.data());
    }
}

/// Makes a new string from a text of `n` characters and drops it.
template <typename S>
void ConstructFromText(benchmark::State& state) {
    const std::u16string text(static_cast<std::size_t>(state.range(0)), u'a');
    AllocationScope<false> scope(state);
    for (auto _ : state) {
        S s(text.c_str());
        benchmark::DoNotOptimize(s.Text());
    }
}

void ConstructFromTextStd(benchmark::State& state) {
    const std::u16string text(static_cast<std::size_t>(state.range(0)), u'a');
    AllocationScope<true> scope(state);
    for (auto _ : state) {
        std::u16string s(text.c_str());
        benchmark::DoNotOptimize(s.data());
    }
}

BENCHMARK_TEMPLATE(AssignInto, GuardedString)->Name("Assign/GuardedString")->Arg(64)->Arg(260)->Arg(4096);
BENCHMARK_TEMPLATE(AssignInto, FixedPathString)->Name("Assign/FixedPathString")->Arg(64)->Arg(260)->Arg(4096);
BENCHMARK(AssignIntoStd)->Name("Assign/std::u16string")->Arg(64)->Arg(260)->Arg(4096);
BENCHMARK_TEMPLATE(ConstructFromText, GuardedString)->Name("FromText/GuardedString")->Arg(64)->Arg(260)->Arg(4096);
BENCHMARK_TEMPLATE(ConstructFromText, FixedPathString)->Name("FromText/FixedPathString")->Arg(64)->Arg(260)->Arg(4096);
BENCHMARK(ConstructFromTextStd)->Name("FromText/std::u16string")->Arg(64)->Arg(260)->Arg(4096);

// ---- format --------------------------------------------------------------------------------

/// The log file's name (short), or the "will run" message with a long parameter text.
struct FormatCase {
    const char16_t* format;
    std::u16string first, second;
    std::int32_t number;
};

FormatCase CaseFor(std::int64_t which) {
    if (which == 0) return {u"Orvane.Launcher-%s-%d.txt", u"1600000000", u"", 4242};
    return {u"[INFO] will run %s with parameters :\n\t %s", u"C:\\Program Files\\Product\\installer\\kestrun.exe",
            std::u16string(2000, u'p'), 0};
}

void FormatGuarded(benchmark::State& state) {
    const FormatCase c = CaseFor(state.range(0));
    AllocationScope<false> scope(state);
    for (auto _ : state) {
        GuardedString s;
        if (state.range(0) == 0) {
            s.Format(c.format, c.first.c_str(), c.number);
        } else {
            s.Format(c.format, c.first.c_str(), c.second.c_str());
        }
        benchmark::DoNotOptimize(s.Text());
    }
}

void FormatStd(benchmark::State& state) {
    const FormatCase c = CaseFor(state.range(0));
    AllocationScope<true> scope(state);
    for (auto _ : state) {
        std::u16string s;
        if (state.range(0) == 0) {
            const std::string digits = std::to_string(c.number);
            s = u"Orvane.Launcher-" + c.first + u"-" + std::u16string(digits.begin(), digits.end()) + u".txt";
        } else {
            s = u"[INFO] will run " + c.first + u" with parameters :\n\t " + c.second;
        }
        benchmark::DoNotOptimize(s.data());
    }
}

BENCHMARK(FormatGuarded)->Name("Format/GuardedString")->ArgName("long")->Arg(0)->Arg(1);
BENCHMARK(FormatStd)->Name("Format/std::u16string")->ArgName("long")->Arg(0)->Arg(1);

}  // namespace
