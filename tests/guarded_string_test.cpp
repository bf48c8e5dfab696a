#include "strings/guarded_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "support/counting_mem_mgr.h"
#include "support/named_case.h"
#include "support/text.h"

namespace orvane {
namespace {

using testing::CountingMemMgr;
using testing::Str;

std::uint32_t WordAt(const unsigned char* at) {
    std::uint32_t w;
    std::memcpy(&w, at, 4);
    return w;
}

const unsigned char* BlockOf(const GuardedString& s) {
    return reinterpret_cast<const unsigned char*>(s.Text()) - block::CHARACTERS;
}

class GuardedStringTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

template <typename Row>
class GuardedStringRows : public GuardedStringTest, public ::testing::WithParamInterface<Row> {};

TEST_F(GuardedStringTest, NullStringReadsAsEmptyAndNothingGivenMakesItABlock) {
    GuardedString s;
    EXPECT_EQ(s.Text(), EMPTY_TEXT);
    EXPECT_EQ(s.Length(), 0u);
    s.Append(u"abc", 0);
    s.Append(u"", TO_TERMINATOR);
    s.Append(nullptr, 5);
    s.Assign(EMPTY_TEXT);  // the null string's own text
    s.TrimTrailing(u'\\');
    s.FreeBuffer();
    EXPECT_EQ(s.Capacity(), 0u);
    const sim::HeapCounts heap = sim::Heap();
    EXPECT_EQ(heap.runtimeAllocs + heap.runtimeReallocs + heap.runtimeFrees + heap.generalAllocs + heap.generalFrees,
              0);
    s.Append(u"abcdef", 3);
    EXPECT_EQ(Str(s), u"abc");
    EXPECT_EQ(s.Text()[3], 0);
}

struct GrowthRow {
    const char* name;
    std::uint32_t start;  // 0: the null string
    std::uint32_t request, expected;
};
ORVANE_PRINT_BY_NAME(GrowthRow)

const GrowthRow GROWTH[] = {
    {"FirstBlockIsTheStep", 0, 0, 64},         {"FirstBlockAsAsked", 0, 100, 100},
    {"SmallBlockDoubles", 64, 65, 128},        {"SmallBlockGoesToALargerRequest", 64, 1024, 1024},
    {"StepAtLeastTheCapacity", 100, 150, 200}, {"DoublesJustBelow1024", 1000, 1001, 2000},
    {"DoublesAt1023", 1023, 1024, 2046},       {"From1024OnAtLeast1024", 1024, 1025, 2048},
    {"LargeRequestAsAsked", 2048, 5000, 5000}, {"LargeBlockSteps1024", 2048, 2049, 3072},
};

using GrowthTest = GuardedStringRows<GrowthRow>;

TEST_P(GrowthTest, ReserveFollowsTheGrowthTable) {
    GuardedString s;
    ASSERT_TRUE(GetParam().start == 0 || s.Reserve(GetParam().start));
    ASSERT_EQ(s.Capacity(), GetParam().start);
    ASSERT_TRUE(s.Reserve(GetParam().request));
    EXPECT_EQ(s.Capacity(), GetParam().expected);
}

ORVANE_NAMED_ROWS(Reserve, GrowthTest, GROWTH);

TEST_F(GuardedStringTest, AppendingOneCharacterAtATimeDoublesThenStepsBy1024) {
    GuardedString s;
    std::vector<std::uint32_t> capacities;
    for (int i = 0; i < 5000; ++i) {
        s.Append(u"x", 1);
        if (capacities.empty() || capacities.back() != s.Capacity()) capacities.push_back(s.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<std::uint32_t>{64, 128, 256, 512, 1024, 2048, 3072, 4096, 5120}));
    EXPECT_EQ(Str(s), std::u16string(5000, u'x'));
}

TEST_F(GuardedStringTest, FirstReserveMakesAZeroedBlockWithGuardsAndAHeapDescriptor) {
    GuardedString s;
    ASSERT_TRUE(s.Reserve(0));
    EXPECT_EQ(s.Capacity(), 64u);
    EXPECT_EQ(s.Length(), 0u);
    for (std::uint32_t i = 0; i <= 64; ++i) EXPECT_EQ(s.Text()[i], 0) << i;
    const unsigned char* start = BlockOf(s);
    EXPECT_EQ(WordAt(start + block::FIRST_GUARD), GUARD_WORD);
    EXPECT_EQ(WordAt(start + block::SECOND_GUARD), GUARD_WORD);
    EXPECT_EQ(WordAt(start + block::CHARACTERS + 2 * 64 + 2), GUARD_WORD);
    EXPECT_EQ(sim::Heap().generalAllocs, 1);  // the descriptor
    EXPECT_EQ(sim::Heap().runtimeAllocs + sim::Heap().runtimeReallocs, 1);
}

TEST_F(GuardedStringTest, BlockSizeIsTwiceTheCapacityPlusTheFrameAndReserveWithinItChangesNothing) {
    CountingMemMgr manager;
    GuardedString s(manager);
    // 18 bytes of frame with 4-byte pointers (the product), 22 with 8-byte ones.
    const std::uint32_t frame = sizeof(void*) == 4 ? 18 : 22;
    EXPECT_EQ(manager.lastSize, 2 * 64 + frame);
    const char16_t* before = s.Text();
    for (std::uint32_t n : {0u, 1u, 63u, 64u}) ASSERT_TRUE(s.Reserve(n));
    EXPECT_EQ(s.Capacity(), 64u);
    EXPECT_EQ(s.Text(), before);
    EXPECT_EQ(manager.allocates + manager.reallocates, 1);
    ASSERT_TRUE(s.Reserve(300));
    EXPECT_EQ(manager.lastSize, 2 * 300 + frame);
}

TEST_F(GuardedStringTest, GrowthByReallocateWritesOnlyTheTerminatorSlot) {
    CountingMemMgr manager;
    GuardedString s(manager);
    s.Append(u"abc");
    ASSERT_TRUE(s.Reserve(100));
    ASSERT_EQ(s.Capacity(), 128u);
    EXPECT_EQ(Str(s), u"abc");
    // What the resize added is left as the manager gave it (behind the old trailing guard, which
    // was carried over in slots 65 and 66); only slot `capacity` is written.
    const char16_t* text = s.Text();
    EXPECT_EQ(text[65], GUARD_WORD);
    EXPECT_EQ(text[67], 0x5555);
    EXPECT_EQ(text[127], 0x5555);
    EXPECT_EQ(text[128], 0);
}

TEST_F(GuardedStringTest, ManagerWhoseReallocateFailsStillGrowsByAllocateCopyAndFree) {
    CountingMemMgr manager(/*reallocateFails=*/true);
    {
        GuardedString s(manager);
        EXPECT_EQ(manager.reallocates, 1);
        EXPECT_EQ(manager.allocates, 1);
        s.Append(std::u16string(100, u'a').c_str());
        s.Append(std::u16string(100, u'b').c_str());
        EXPECT_EQ(Str(s), std::u16string(100, u'a') + std::u16string(100, u'b'));
        EXPECT_EQ(s.Capacity(), 256u);  // 64 -> 128 -> 256
        EXPECT_EQ(manager.allocates, 3);
        EXPECT_EQ(manager.frees, 2);
        s.CheckIntegrity();
    }
    EXPECT_EQ(manager.frees, 3);
    EXPECT_EQ(manager.releases, 1);
    EXPECT_TRUE(manager.sizes.empty());
}

TEST_F(GuardedStringTest, FreeBufferGivesBackBlockReleasesOnceAndDeletesTheHeapDescriptor) {
    CountingMemMgr manager;
    GuardedString s(manager);
    s.Append(u"text");
    for (int twice = 0; twice < 2; ++twice) {
        s.FreeBuffer();
        EXPECT_EQ(s.Text(), EMPTY_TEXT);
        EXPECT_EQ(manager.frees, 1);
        EXPECT_EQ(manager.releases, 1);
        EXPECT_EQ(sim::Heap().generalFrees, 1);
    }
}

TEST_F(GuardedStringTest, BlockTooLargeForA32BitSizeIsAFailedAllocation) {
    CountingMemMgr manager;
    GuardedString s(manager);
    EXPECT_FALSE(s.Reserve(0x7FFFFFFF));  // 2n + 18 needs 33 bits
    EXPECT_EQ(manager.allocates + manager.reallocates, 1);
    EXPECT_EQ(s.Capacity(), 64u);
    GuardedString null;
    EXPECT_FALSE(null.Reserve(0xFFFFFFF0));
    EXPECT_EQ(null.Text(), EMPTY_TEXT);
    EXPECT_EQ(sim::Heap().generalLive, 1);  // only `s`'s descriptor: none was left behind
}

TEST_F(GuardedStringTest, AssignRules) {
    const GuardedString null;
    const char16_t emptyElsewhere[1] = {0};
    GuardedString fromEmpty, fromNull, fromNullString;
    fromEmpty.Assign(emptyElsewhere);
    fromNull.Assign(static_cast<const char16_t*>(nullptr));
    fromNullString.Assign(null);
    for (const GuardedString* s : {&fromEmpty, &fromNull, &fromNullString}) {
        EXPECT_EQ(s->Capacity(), 64u);
        EXPECT_EQ(s->Length(), 0u);
    }
    GuardedString same(u"same");
    const char16_t* before = same.Text();
    same.Assign(same);
    same.Assign(same.Text());
    EXPECT_EQ(same.Text(), before);
    EXPECT_EQ(Str(same), u"same");
    GuardedString shorter(u"a longer text");
    shorter.Assign(u"short");
    EXPECT_EQ(Str(shorter), u"short");
    EXPECT_EQ(shorter.Text()[5], 0);
}

TEST_F(GuardedStringTest, AssignOtherCopiesExactlyItsLength) {
    GuardedString source(u"abcdef");
    source.WritableBuffer()[3] = 0;  // an embedded terminator is not looked for
    GuardedString target;
    target.Assign(source);
    EXPECT_EQ(target.Length(), 6u);
    EXPECT_EQ(target.Text()[4], u'e');
}

struct PathRow {
    const char* name;
    const char16_t* target;
    const char16_t* tail;
    const char16_t* expected;
};
ORVANE_PRINT_BY_NAME(PathRow)

const PathRow PATHS[] = {
    {"SeamGetsABackslash", u"C:\\dir", u"file", u"C:\\dir\\file"},
    {"OneSeparatorAtTheSeam", u"C:\\dir\\", u"\\file", u"C:\\dir\\file"},
    {"SlashCountsAsSeparator", u"C:/dir/", u"file", u"C:/dir/file"},
    {"TailKeepsItsTrailingSeparator", u"C:", u"x\\", u"C:\\x\\"},
    {"TailWithInnerSeparator", u"C:\\dir", u"a\\b", u"C:\\dir\\a\\b"},
    {"SeparatorOnlyTail", u"C:\\dir", u"\\", u"C:\\dir\\"},
    {"EmptyTail", u"C:\\dir", u"", u"C:\\dir"},
    {"NullTail", u"C:\\dir", nullptr, u"C:\\dir"},
    {"EmptyTargetDropsLeadingSeparators", u"", u"\\\\server\\share", u"server\\share"},
    {"MixedLeadingSeparators", u"C:\\dir", u"/\\//file", u"C:\\dir\\file"},
};

using AppendPathTest = GuardedStringRows<PathRow>;

TEST_P(AppendPathTest, JoinsWithOneSeparator) {
    GuardedString s(GetParam().target);
    EXPECT_TRUE(s.AppendPath(GetParam().tail));
    EXPECT_EQ(Str(s), GetParam().expected);
    s.CheckIntegrity();
}

ORVANE_NAMED_ROWS(Paths, AppendPathTest, PATHS);

TEST_F(GuardedStringTest, TakeOverAndMoveAdoptADefaultBlockAndCopyAnyOther) {
    {
        GuardedString source(u"adopted");
        const char16_t* block = source.Text();
        GuardedString target(u"old");
        target.TakeOver(source);
        EXPECT_EQ(target.Text(), block);
        EXPECT_EQ(source.Text(), EMPTY_TEXT);
        EXPECT_EQ(sim::Heap().runtimeFrees, 1);  // the target's old block
        const GuardedString moved(std::move(target));
        EXPECT_EQ(moved.Text(), block);
        EXPECT_EQ(target.Text(), EMPTY_TEXT);  // NOLINT(bugprone-use-after-move)
    }
    EXPECT_EQ(sim::Heap().runtimeLive, 0);
    EXPECT_EQ(sim::Heap().generalLive, 0);
    CountingMemMgr manager;
    GuardedString source(manager);
    source.Append(u"copied");
    GuardedString target;
    target.TakeOver(source);
    EXPECT_NE(target.Text(), source.Text());
    EXPECT_EQ(Str(target), u"copied");
    EXPECT_EQ(Str(source), u"copied");
    target.TakeOver(target);
    EXPECT_EQ(Str(target), u"copied");
}

TEST_F(GuardedStringTest, ConcatBothForms) {
    const GuardedString s(u"middle");
    EXPECT_EQ(Str(Concat(u"<", s)), u"<middle");
    EXPECT_EQ(Str(Concat(s, u">")), u"middle>");
    EXPECT_EQ(Str(Concat(nullptr, s)), u"middle");
    EXPECT_EQ(Str(Concat(u"x", GuardedString())), u"x");
    EXPECT_EQ(Str(s), u"middle");
}

TEST_F(GuardedStringTest, FormatKeepsItsBlockWhenTheRoomSuffices) {
    GuardedString s;
    ASSERT_TRUE(s.Reserve(100));
    const char16_t* block = s.Text();
    s.Format(u"Orvane.Launcher-%s-%d.txt", u"1600000000", 4242u);
    EXPECT_EQ(s.Text(), block);
    EXPECT_EQ(Str(s), u"Orvane.Launcher-1600000000-4242.txt");

    GuardedString grown;
    grown.Format(u"%s", std::u16string(70, u'y').c_str());
    EXPECT_EQ(grown.Length(), 70u);
    EXPECT_GE(grown.Capacity(), 72u);
    grown.Format(nullptr);
    EXPECT_EQ(grown.Length(), 0u);
}

TEST_F(GuardedStringTest, FormatWithItsOwnTextAsArgument) {
    CountingMemMgr manager;  // moves the block as it grows and scribbles on the one it gives back
    GuardedString s(manager);
    const std::u16string text(40, u'a');
    s.Append(text.c_str());
    s.Format(u"%s-%s", s.Text(), s.Text());
    EXPECT_EQ(Str(s), text + u"-" + text);
}

TEST_F(GuardedStringTest, WritableBufferThenCommitLengthOrRecount) {
    GuardedString s;
    char16_t* buffer = s.WritableBuffer();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(s.Capacity(), 64u);
    std::memcpy(buffer, u"hello\0world", 12 * sizeof(char16_t));
    s.Recount();
    EXPECT_EQ(s.Length(), 5u);
    EXPECT_EQ(s.Text()[6], u'w');  // untouched behind the terminator
    s.CommitLength(8);
    EXPECT_EQ(s.Length(), 8u);
    EXPECT_EQ(s.Text()[8], 0);
    EXPECT_EQ(s.Text()[7], u'o');
    s.WritableBuffer(500);
    EXPECT_EQ(s.Capacity(), 500u);
}

struct TrimRow {
    const char* name;
    const char16_t* before;
    const char16_t* after;
};
ORVANE_PRINT_BY_NAME(TrimRow)

const TrimRow TRIMS[] = {
    {"One", u"D:\\deploy\\", u"D:\\deploy"},
    {"ARun", u"D:\\deploy\\\\\\", u"D:\\deploy"},
    {"AfterADrive", u"D:\\", u"D:"},
    {"Everything", u"\\\\\\", u""},
    {"InnerRunStays", u"a\\\\b", u"a\\\\b"},
    {"NoneToTrim", u"D:\\deploy", u"D:\\deploy"},
    {"Empty", u"", u""},
};

using TrimTrailingTest = GuardedStringRows<TrimRow>;

TEST_P(TrimTrailingTest, CutsTheLastRunOnly) {
    GuardedString s(GetParam().before);
    s.TrimTrailing(u'\\');
    EXPECT_EQ(Str(s), GetParam().after);
    EXPECT_EQ(s.Text()[s.Length()], 0);
}

ORVANE_NAMED_ROWS(Texts, TrimTrailingTest, TRIMS);

/// A broken invariant and the check that must stop the process for it.
struct StopRow {
    const char* name;
    const char* site;  // as the simulation names it in its abort message
    void (*breakIt)();
};
ORVANE_PRINT_BY_NAME(StopRow)

const StopRow STOPS[] = {
    {"TrailingGuardThenRecount", "guard broken",
     [] {
         GuardedString s(u"x");
         char16_t* buffer = s.WritableBuffer();
         // The terminator slot and half of the trailing guard.
         for (std::uint32_t i = 0; i < s.Capacity() + 2; ++i) buffer[i] = u'a';
         buffer[s.Capacity()] = 0;
         s.Recount();
     }},
    {"FirstGuardThenAppend", "guard broken",
     [] {
         GuardedString s(u"x");
         const_cast<unsigned char*>(BlockOf(s))[0] = 0;
         s.Append(u"y");
     }},
    {"SecondGuardThenFreeBuffer", "guard broken",
     [] {
         GuardedString s(u"x");
         const_cast<unsigned char*>(BlockOf(s))[block::SECOND_GUARD] ^= 1;
         s.FreeBuffer();
     }},
    {"SetLengthPastTheCapacity", "length beyond capacity", [] { GuardedString(u"x").SetLength(65); }},
    {"CommitLengthPastTheCapacity", "length beyond capacity", [] { GuardedString(u"x").CommitLength(65); }},
    {"TerminatorSlotOverwritten", "scan past the block",
     [] {
         GuardedString s(u"x");
         char16_t* buffer = s.WritableBuffer();
         for (std::uint32_t i = 0; i <= s.Capacity(); ++i) buffer[i] = u'a';
         s.Recount();
     }},
    {"RuntimeHeapRefusesTheBlock", "block allocation failed",
     [] {
         sim::FailRuntimeAllocation(1);
         GuardedString s(u"x");
     }},
    {"GeneralHeapRefusesTheDescriptor", "descriptor allocation failed",
     [] {
         sim::FailGeneralAllocation(1);
         GuardedString s(u"x");
     }},
    {"ABlockTooLargeFor32BitSizes", "block allocation failed", [] { GuardedString(u"x").Append(u"y", 0xFFFFFFF0u); }},
    {"ALengthPast32Bits", "length overflow", [] { GuardedString(u"x").Append(u"y", 0xFFFFFFFEu); }},
    // 64 times 2^25 units: one more than a count can hold. Seconds to run, so valgrind's stage
    // leaves this row out by its name.
    {"FormatCountPast2GiB", "format measure failed",
     [] {
         const std::u16string piece(std::size_t{1} << 25, u'a');
         const std::vector<FormatArg> args(64, FormatArg(piece.c_str()));
         std::u16string format;
         for (int i = 0; i < 64; ++i) format += u"%s";
         GuardedString().FormatList(format.c_str(), args.data(), 64);
     }},
    // The formatter's two passes must agree; a text that changes between them (here while the
    // block is handed out) would otherwise be cut or left unterminated.
    {"ATextChangedBetweenCountAndPrint", "format print failed",
     [] {
         static std::u16string text(100, u'a');  // longer than a first block: the block grows
         static testing::CountingMemMgr manager;
         GuardedString s(manager);
         manager.beforeBlock = [] { text[0] = 0; };
         s.Format(u"%s", text.c_str());
     }},
    {"ALengthPastTheBlockThenAppendPath", "index beyond capacity",
     [] {
         GuardedString s(u"x");
         StringDescriptor* d = nullptr;
         std::memcpy(&d, BlockOf(s) + block::DESCRIPTOR, sizeof d);
         d->length = s.Capacity() + 2;
         s.AppendPath(u"y");
     }},
};

using GuardedStringDeathTest = GuardedStringRows<StopRow>;

TEST_P(GuardedStringDeathTest, StopsAtItsOwnCheck) {
    EXPECT_DEATH(GetParam().breakIt(), std::string("fatal stop: ") + GetParam().site);
}

ORVANE_NAMED_ROWS(BrokenInvariants, GuardedStringDeathTest, STOPS);

}  // namespace
}  // namespace orvane
