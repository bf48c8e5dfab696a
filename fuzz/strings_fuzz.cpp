// strings_fuzz: random programs of string operations on GuardedStrings and FixedPathStrings,
// checked after every step against a model kept in std::u16string: the text and its length,
// the capacity by the growth rule (in a closed form of its own), the block's guard words read
// byte by byte, inline or heap for a FixedPathString, and the blocks and descriptors alive on
// the two heaps. Counts always stay within the capacity rules: the fatal stop is never asked for.
#include <algorithm>
#include <cstring>
#include <optional>

#include "fuzz_support.h"
#include "platform/sim/sim.h"
#include "strings/fixed_path_string.h"
#include "strings/guarded_string.h"

namespace {

using fuzz::Check;
using orvane::FixedPathString;
using orvane::GuardedString;
using orvane::TO_TERMINATOR;

constexpr std::uint32_t PLAIN_STEP = 64;
constexpr std::uint32_t PATH_CAPACITY = 260;
constexpr std::uint32_t GUARD = 0xABCD;
constexpr std::size_t MAX_TEXT = 600;
constexpr std::uint32_t MAX_RESERVE = 5000;
constexpr std::size_t MAX_LENGTH = 20000;  // longer texts take no more growing operations
constexpr std::size_t PLAIN_SLOTS = 3;
constexpr std::size_t SLOTS = 5;  // 0..2 GuardedString, 3..4 FixedPathString

/// The capacity after a request for `n` characters on a block of `c` with growth step `s`
/// (c = 0: no block): unchanged when it fits, else the largest of the request, one growth step
/// more, and the doubling (below 1024) or 1024 more (from 1024 on).
std::uint64_t Grown(std::uint64_t c, std::uint64_t s, std::uint64_t n) {
    if (c >= n && c != 0) return c;
    return std::max({n, c + s, c + std::min<std::uint64_t>(c, 1024)});
}

/// A manager other than DefaultMemMgr: TakeOver must copy from its strings, never adopt. When
/// it refuses every Reallocate, growth must go through Allocate, copy and Free.
class OtherMemMgr final : public orvane::IMemMgr {
public:
    void* Allocate(std::uint32_t size) override {
        ++live;
        return std::malloc(size);
    }
    void* Reallocate(void* block, std::uint32_t size) override {
        if (refuseReallocate) return nullptr;
        if (block == nullptr) ++live;
        return std::realloc(block, size);
    }
    void Free(void* block) override {
        --live;
        std::free(block);
    }
    void Release() override {}
    int live = 0;
    bool refuseReallocate = false;
};
OtherMemMgr otherMemMgr;

struct Model {
    bool fixed = false;
    bool foreign = false;  // the descriptor names otherMemMgr
    bool hasBlock = false;
    bool inlineBlock = false;
    std::uint32_t capacity = 0;
    std::uint32_t step = PLAIN_STEP;
    std::u16string text;

    static Model Plain() { return Model{}; }
    static Model Path() { return Model{true, false, true, true, PATH_CAPACITY, PATH_CAPACITY, {}}; }

    void Reserve(std::uint64_t n) {
        const std::uint64_t c = hasBlock ? capacity : 0;
        const std::uint64_t next = Grown(c, hasBlock ? step : PLAIN_STEP, n);
        if (hasBlock && next == c) return;
        hasBlock = true;
        capacity = static_cast<std::uint32_t>(next);
        inlineBlock = false;
    }
    void SetCapacity(std::uint32_t n) {
        hasBlock = true;
        capacity = n;
        inlineBlock = false;
        if (text.size() > n) text.resize(n);
    }
    void Become(const std::u16string& value) { text = value; }
};

struct Slot {
    std::optional<GuardedString> plain;
    std::optional<FixedPathString> path;
    Model m;

    GuardedString& Get() { return m.fixed ? static_cast<GuardedString&>(*path) : *plain; }
    /// Destroys the string and builds a fresh default one of the same kind.
    void Renew() {
        if (m.fixed) {
            path.emplace();
            m = Model::Path();
        } else {
            plain.emplace();
            m = Model::Plain();
        }
    }
};

std::uint32_t ReadWord(const unsigned char* at) {
    std::uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

void CheckSlot(Slot& slot) {
    const GuardedString& s = slot.Get();
    const Model& m = slot.m;
    Check(s.Length() == m.text.size(), "length");
    Check(std::memcmp(s.Text(), m.text.data(), 2 * m.text.size()) == 0, "text");
    Check(s.Text()[m.text.size()] == 0, "terminator at the length");
    Check(s.Capacity() == (m.hasBlock ? m.capacity : 0), "capacity by the growth rule");
    if (m.fixed) Check(slot.path->IsInline() == m.inlineBlock, "inline or heap");
    if (!m.hasBlock) {
        Check(s.Text() == orvane::EMPTY_TEXT, "a string without a block reads as EMPTY_TEXT");
        return;
    }
    s.CheckIntegrity();
    // The block as laid out: guard, descriptor pointer, guard, the slots, the trailing guard
    // right behind the terminator slot.
    const auto* chars = reinterpret_cast<const unsigned char*>(s.Text());
    Check(ReadWord(chars - 4) == GUARD, "second guard");
    Check(ReadWord(chars - 4 - sizeof(void*) - 4) == GUARD, "first guard");
    void* descriptor;
    std::memcpy(&descriptor, chars - 4 - sizeof(void*), sizeof descriptor);
    Check(descriptor != nullptr, "descriptor pointer");
    Check(ReadWord(chars + 2 * static_cast<std::size_t>(m.capacity) + 2) == GUARD, "trailing guard");
    Check(s.Text()[m.capacity] == 0, "terminator slot");
}

struct Baseline {
    int runtimeLive, generalLive;
};

void CheckHeaps(Slot (&slots)[SLOTS], const Baseline& base) {
    int runtimeBlocks = 0, descriptors = 0, otherBlocks = 0;
    for (Slot& slot : slots) {
        if (!slot.m.hasBlock) continue;
        if (slot.m.foreign) {
            ++otherBlocks;
        } else if (!slot.m.inlineBlock) {
            ++runtimeBlocks;
        }
        if (!slot.m.fixed) ++descriptors;
    }
    const sim::HeapCounts heap = sim::Heap();
    Check(heap.runtimeLive - base.runtimeLive == runtimeBlocks, "string blocks alive on the runtime heap");
    Check(heap.generalLive - base.generalLive == descriptors, "descriptors alive on the general heap");
    Check(otherMemMgr.live == otherBlocks, "blocks alive in the other manager");
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

/// A text argument: null, or drawn (possibly with a 0 inside).
struct TextArg {
    bool null = false;
    std::u16string text;
    const char16_t* Ptr() const { return null ? nullptr : text.c_str(); }
};

TextArg ConsumeTextArg(FuzzedDataProvider& in, int nullOneIn = 8) {
    TextArg arg;
    arg.null = in.ConsumeIntegralInRange<int>(0, nullOneIn - 1) == 0;
    if (!arg.null) arg.text = fuzz::ConsumeText(in, MAX_TEXT);
    return arg;
}

void Run(FuzzedDataProvider& in, Slot (&slots)[SLOTS], const Baseline& base) {
    auto pick = [&in](std::size_t first, std::size_t last) {
        return in.ConsumeIntegralInRange<std::size_t>(first, last);
    };
    while (in.remaining_bytes() > 0) {
        const int op = in.ConsumeIntegralInRange<int>(0, 15);
        const std::size_t t = pick(0, SLOTS - 1);
        Slot& target = slots[t];
        GuardedString& s = target.Get();
        Model& m = target.m;
        const std::size_t u = pick(0, SLOTS - 1);
        Slot& other = slots[u];
        switch (op) {
            case 0: {  // Assign(text)
                const int variant = in.ConsumeIntegralInRange<int>(0, 5);
                if (variant == 0) {
                    s.Assign(nullptr);
                    m.Reserve(0);
                    m.Become(u"");
                } else if (variant == 1) {
                    s.Assign(orvane::EMPTY_TEXT);
                    if (m.hasBlock) {
                        m.Reserve(0);
                        m.Become(u"");
                    }
                } else if (variant == 2) {
                    s.Assign(s.Text());
                } else {
                    const std::u16string text = fuzz::ConsumeText(in, MAX_TEXT);
                    s.Assign(text.c_str());
                    const std::u16string read = fuzz::UpToTerminator(text);
                    m.Reserve(read.size());
                    m.Become(read);
                }
                break;
            }
            case 1: {  // Assign(text, count), the copy core
                const TextArg arg = ConsumeTextArg(in);
                std::uint32_t count;
                std::u16string copied;
                if (arg.null || in.ConsumeBool()) {
                    count = arg.null && in.ConsumeBool() ? 0 : TO_TERMINATOR;
                    copied = fuzz::UpToTerminator(arg.text);
                } else {
                    count = static_cast<std::uint32_t>(pick(0, arg.text.size()));
                    copied = arg.text.substr(0, count);
                }
                Check(s.Assign(arg.Ptr(), count), "the copy core succeeds");
                m.Reserve(copied.size());
                m.Become(copied);
                break;
            }
            case 2: {  // Assign(other)
                s.Assign(other.Get());
                if (t != u) {
                    m.Reserve(other.m.text.size());
                    m.Become(other.m.text);
                }
                break;
            }
            case 3: {  // Append(text, count)
                const TextArg arg = ConsumeTextArg(in);
                std::uint32_t count = TO_TERMINATOR;
                std::u16string added = fuzz::UpToTerminator(arg.text);
                if (!arg.null && in.ConsumeBool()) {
                    count = static_cast<std::uint32_t>(pick(0, arg.text.size()));
                    added = arg.text.substr(0, count);
                }
                if (m.text.size() + added.size() > MAX_LENGTH) break;
                s.Append(arg.Ptr(), count);
                if (arg.null || added.empty()) break;
                m.Reserve(m.text.size() + added.size());
                m.Become(m.text + added);
                break;
            }
            case 4: {  // Append another string's characters, its length told
                if (t == u || m.text.size() + other.m.text.size() > MAX_LENGTH) break;
                s.Append(other.Get().Text(), other.Get().Length());
                if (other.m.text.empty()) break;
                m.Reserve(m.text.size() + other.m.text.size());
                m.Become(m.text + other.m.text);
                break;
            }
            case 5: {  // AppendPath
                const TextArg arg = ConsumeTextArg(in);
                if (m.text.size() + arg.text.size() + 1 > MAX_LENGTH) break;
                Check(s.AppendPath(arg.Ptr()), "AppendPath is always true");
                const std::u16string tail = fuzz::UpToTerminator(arg.text);
                if (tail.empty()) break;
                if (!m.text.empty() && !IsSeparator(m.text.back())) {
                    m.Reserve(m.text.size() + 1);
                    m.Become(m.text + u'\\');
                }
                const std::size_t rest = tail.find_first_not_of(u"\\/");
                if (rest == std::u16string::npos) break;
                m.Reserve(m.text.size() + tail.size() - rest);
                m.Become(m.text + tail.substr(rest));
                break;
            }
            case 6: {  // TrimTrailing
                static constexpr char16_t CHOICES[] = {u'\\', u'/', u'a'};
                const char16_t ch = in.ConsumeBool() ? CHOICES[pick(0, 2)] : fuzz::ConsumeUnit(in);
                s.TrimTrailing(ch);
                if (!m.hasBlock) break;
                // The walk stops at the first 0; only a run of `ch` reaching that point is cut.
                const std::size_t end = std::min(m.text.find(u'\0'), m.text.size());
                std::size_t runStart = end;
                while (runStart > 0 && m.text[runStart - 1] == ch) --runStart;
                if (runStart < end) m.text.resize(runStart);
                break;
            }
            case 7: {  // Reserve
                const auto n = static_cast<std::uint32_t>(pick(0, MAX_RESERVE));
                Check(s.Reserve(n), "Reserve succeeds");
                m.Reserve(n);
                break;
            }
            case 8: {  // Format
                std::vector<const char16_t*> outside;
                for (std::size_t i = 0; i < SLOTS; ++i) {
                    if (i != t) outside.push_back(slots[i].Get().Text());
                }
                const fuzz::FormatCase c = fuzz::ConsumeFormatCase(in, 24, 40, outside);
                const auto argCount = static_cast<std::uint32_t>(c.args.size());
                if (c.nullFormat) {
                    s.FormatList(nullptr, c.args.data(), argCount);
                    m.Reserve(0);
                    m.Become(u"");
                    break;
                }
                const std::u16string expected = fuzz::ReferenceFormat(c.format, c.args.data(), c.args.size());
                s.FormatList(c.format.c_str(), c.args.data(), argCount);
                m.Reserve(expected.size() + 2);
                m.Become(expected);
                break;
            }
            case 9: {  // TakeOver between plain strings
                if (t >= PLAIN_SLOTS || u >= PLAIN_SLOTS) break;
                s.TakeOver(other.Get());
                if (t == u) break;
                if (other.m.hasBlock && !other.m.foreign) {
                    m = other.m;
                    other.m = Model::Plain();
                } else {
                    m.Reserve(other.m.text.size());
                    m.Become(other.m.text);
                }
                break;
            }
            case 10: {  // WritableBuffer, outside code writes, then CommitLength / Recount / SetLength
                const bool least = in.ConsumeBool();
                const auto room = static_cast<std::uint32_t>(pick(0, 3000));
                char16_t* buffer = s.WritableBuffer(least ? room : TO_TERMINATOR);
                if (least) m.Reserve(room);
                if (!m.hasBlock) m.Reserve(0);
                Check(buffer == s.Text(), "WritableBuffer gives slot 0");
                // What the block holds where it is known: the text and its terminator.
                std::u16string known = m.text + u'\0';
                const std::u16string written = fuzz::ConsumeText(in, std::min<std::size_t>(m.capacity, MAX_TEXT));
                std::copy(written.begin(), written.end(), buffer);
                if (written.size() > known.size()) known.resize(written.size());
                std::copy(written.begin(), written.end(), known.begin());
                // 0: CommitLength(n), 1: Recount, 2: SetLength after a terminator was written.
                const int commit = in.ConsumeIntegralInRange<int>(0, 2);
                bool terminate = commit == 2 || in.ConsumeBool();
                if (commit == 1 && known.find(u'\0') == std::u16string::npos) terminate = true;
                if (terminate) {
                    buffer[written.size()] = 0;  // written.size() <= capacity: at most the terminator slot
                    if (known.size() <= written.size()) known.resize(written.size() + 1);
                    known[written.size()] = 0;
                }
                if (commit == 0) {
                    const auto n = static_cast<std::uint32_t>(pick(0, std::min<std::size_t>(m.capacity, known.size())));
                    s.CommitLength(n);
                    m.Become(known.substr(0, n));
                } else if (commit == 1) {
                    s.Recount();
                    m.Become(fuzz::UpToTerminator(known));
                } else {
                    s.SetLength(static_cast<std::uint32_t>(written.size()));
                    m.Become(written);
                }
                break;
            }
            case 11: {  // copy construction
                if (t == u) break;
                if (!m.fixed) {
                    target.plain.emplace(other.Get());
                    m = Model::Plain();
                } else if (other.m.fixed) {
                    target.path.emplace(*other.path);
                    m = Model::Path();
                } else {
                    target.path.emplace(other.Get());
                    m = Model::Path();
                }
                m.Reserve(other.m.text.size());
                m.Become(other.m.text);
                break;
            }
            case 12: {  // construction from a text, or empty, or (plain) on the other manager
                const int variant = in.ConsumeIntegralInRange<int>(0, 3);
                if (variant == 0) {
                    target.Renew();
                    break;
                }
                if (variant == 1 && !m.fixed) {
                    target.plain.emplace(static_cast<orvane::IMemMgr&>(otherMemMgr));
                    m = Model::Plain();
                    m.foreign = true;
                    m.Reserve(0);
                    break;
                }
                const TextArg arg = ConsumeTextArg(in, 4);
                if (m.fixed) {
                    target.path.emplace(arg.Ptr());
                    m = Model::Path();
                } else {
                    target.plain.emplace(arg.Ptr());
                    m = Model::Plain();
                }
                m.Reserve(fuzz::UpToTerminator(arg.text).size());
                m.Become(fuzz::UpToTerminator(arg.text));
                break;
            }
            case 13: {  // Concat into a plain slot
                if (m.fixed) break;
                const TextArg arg = ConsumeTextArg(in);
                const std::u16string text = fuzz::UpToTerminator(arg.text);
                const Model source = other.m;
                Model joined = Model::Plain();
                if (in.ConsumeBool()) {
                    target.plain.emplace(orvane::Concat(arg.Ptr(), other.Get()));
                    joined.Reserve(text.size());
                    joined.Become(text);
                    if (!source.text.empty()) {
                        joined.Reserve(text.size() + source.text.size());
                        joined.Become(text + source.text);
                    }
                } else {
                    target.plain.emplace(orvane::Concat(other.Get(), arg.Ptr()));
                    joined.Reserve(source.text.size());
                    joined.Become(source.text);
                    if (!text.empty()) {
                        joined.Reserve(source.text.size() + text.size());
                        joined.Become(source.text + text);
                    }
                }
                m = joined;
                break;
            }
            case 14: {  // SetCapacity
                const auto n = static_cast<std::uint32_t>(pick(0, 3000));
                Check(s.SetCapacity(n), "SetCapacity succeeds");
                if (!m.hasBlock) m.step = PLAIN_STEP;
                m.SetCapacity(n);
                break;
            }
            default:  // destruction and a fresh default string
                target.Renew();
                break;
        }
        for (Slot& slot : slots) CheckSlot(slot);
        CheckHeaps(slots, base);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The model's closed form must agree with the growth table it stands for.
    struct Row {
        std::uint64_t c, s, n, expected;
    };
    static constexpr Row TABLE[] = {{0, 64, 0, 64},         {0, 64, 100, 100},      {64, 64, 65, 128},
                                    {64, 64, 1024, 1024},   {100, 64, 150, 200},    {1000, 64, 1001, 2000},
                                    {1023, 64, 1024, 2046}, {1024, 64, 1025, 2048}, {2048, 64, 5000, 5000},
                                    {260, 260, 261, 520},   {260, 260, 600, 600}};
    for (const Row& row : TABLE) Check(Grown(row.c, row.s, row.n) == row.expected, "the growth model");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    otherMemMgr.refuseReallocate = in.ConsumeBool();
    const sim::HeapCounts start = sim::Heap();
    const Baseline base{start.runtimeLive, start.generalLive};
    {
        Slot slots[SLOTS];
        for (std::size_t i = 0; i < SLOTS; ++i) {
            if (i < PLAIN_SLOTS) {
                slots[i].plain.emplace();
                slots[i].m = Model::Plain();
            } else {
                slots[i].path.emplace();
                slots[i].m = Model::Path();
            }
        }
        Run(in, slots, base);
    }
    const sim::HeapCounts end = sim::Heap();
    Check(end.runtimeLive == base.runtimeLive && end.generalLive == base.generalLive, "every block given back");
    Check(otherMemMgr.live == 0, "every other-manager block given back");
    return 0;
}
