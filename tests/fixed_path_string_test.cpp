#include "strings/fixed_path_string.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/sim.h"
#include "support/named_case.h"
#include "support/text.h"

namespace orvane {
namespace {

using testing::Str;

int HeapCalls() {
    const sim::HeapCounts h = sim::Heap();
    return h.runtimeAllocs + h.runtimeReallocs + h.runtimeFrees + h.generalAllocs + h.generalFrees;
}

class FixedPathStringTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(FixedPathStringTest, NewStringIsEmptyInlineAndAllocatesNothing) {
    const FixedPathString fromNothing;
    const FixedPathString fromNull(nullptr);
    const FixedPathString fromEmpty(u"");
    FixedPathString assignedNull(u"C:\\dir");
    assignedNull.Assign(nullptr);
    EXPECT_TRUE(assignedNull.Reserve(0));
    const FixedPathString* const all[] = {&fromNothing, &fromNull, &fromEmpty, &assignedNull};
    for (const FixedPathString* s : all) {
        EXPECT_EQ(Str(*s), u"");
        EXPECT_EQ(s->Capacity(), INLINE_CAPACITY);
        EXPECT_NE(s->Text(), EMPTY_TEXT);
        EXPECT_TRUE(s->IsInline());
    }
    EXPECT_EQ(HeapCalls(), 0);
}

TEST_F(FixedPathStringTest, Holds260CharactersInlineAndGrowsToHeapAt261stAndFreesItOnce) {
    {
        FixedPathString s(std::u16string(260, u'p').c_str());
        EXPECT_TRUE(s.IsInline());
        EXPECT_EQ(s.Text()[260], 0);
        EXPECT_EQ(HeapCalls(), 0);
        s.Append(u"q");
        EXPECT_FALSE(s.IsInline());
        EXPECT_EQ(s.Capacity(), 520u);
        EXPECT_EQ(Str(s), std::u16string(260, u'p') + u"q");
        const sim::HeapCounts grown = sim::Heap();
        EXPECT_EQ(grown.runtimeAllocs + grown.runtimeReallocs, 1);
        EXPECT_EQ(grown.generalAllocs, 0);  // the inline descriptor goes on describing it
    }
    const sim::HeapCounts after = sim::Heap();
    EXPECT_EQ(after.runtimeFrees, 1);
    EXPECT_EQ(after.generalFrees, 0);
    EXPECT_EQ(after.runtimeLive, 0);
}

struct GrowthRow {
    const char* name;
    std::uint32_t first, then;  // two requests in turn (0: none)
    std::uint32_t expected;
};
ORVANE_PRINT_BY_NAME(GrowthRow)

const GrowthRow GROWTH[] = {
    {"StepOf260", 261, 0, 520},
    {"StepReachesTheRequest", 520, 0, 520},
    {"RequestBeyondTheStep", 521, 0, 521},
    {"AHeapBlockBelow1024Doubles", 261, 521, 1040},
};

class FixedPathGrowthTest : public FixedPathStringTest, public ::testing::WithParamInterface<GrowthRow> {};

TEST_P(FixedPathGrowthTest, GrowsFromInlineByTheStepOf260) {
    FixedPathString s;
    ASSERT_TRUE(s.Reserve(GetParam().first));
    ASSERT_TRUE(s.Reserve(GetParam().then));
    EXPECT_EQ(s.Capacity(), GetParam().expected);
}

ORVANE_NAMED_ROWS(Requests, FixedPathGrowthTest, GROWTH);

TEST_F(FixedPathStringTest, CopyOfAHeapGrownStringCopiesLengthAndAShortTextKeepsTheHeapBlock) {
    FixedPathString source(std::u16string(600, u'a').c_str());
    const FixedPathString copy(source);
    EXPECT_EQ(Str(copy), Str(source));
    EXPECT_EQ(copy.Capacity(), 600u);
    EXPECT_NE(copy.Text(), source.Text());
    const char16_t* block = source.Text();
    source.Assign(u"C:\\");
    EXPECT_EQ(source.Text(), block);
    EXPECT_EQ(source.Capacity(), 600u);
    EXPECT_FALSE(source.IsInline());
}

TEST_F(FixedPathStringTest, OperatingSystemCallsFillTheInlineBlockDirectly) {
    FixedPathString s;
    char16_t* buffer = s.WritableBuffer();
    EXPECT_EQ(buffer, s.Text());
    for (int i = 0; i < 259; ++i) buffer[i] = u'x';
    buffer[259] = 0;
    s.Recount();
    EXPECT_EQ(s.Length(), 259u);
    EXPECT_TRUE(s.IsInline());
}

TEST_F(FixedPathStringTest, FromAGuardedStringItCopiesAndKeepsItsOwnDescriptor) {
    GuardedString source(u"C:\\taken");
    const char16_t* block = source.Text();
    const FixedPathString constructed(source);
    FixedPathString target;
    target.TakeOver(source);
    for (const FixedPathString* s : {&constructed, static_cast<const FixedPathString*>(&target)}) {
        EXPECT_EQ(Str(*s), u"C:\\taken");
        EXPECT_TRUE(s->IsInline());
    }
    EXPECT_EQ(source.Text(), block);
    EXPECT_EQ(Str(source), u"C:\\taken");
    target.Assign(std::u16string(300, u'g').c_str());
    EXPECT_EQ(target.Capacity(), 520u) << "still grows by the inline step of 260";
}

using FixedPathStringDeathTest = FixedPathStringTest;

TEST_F(FixedPathStringDeathTest, WritingPastTheInlineBlockEndsTheProcess) {
    EXPECT_DEATH(
        {
            FixedPathString s;
            char16_t* buffer = s.WritableBuffer();
            for (int i = 0; i < 262; ++i) buffer[i] = u'x';  // 261 slots and one more
            buffer[260] = 0;
            s.Recount();
        },
        "fatal stop: guard broken");
}

}  // namespace
}  // namespace orvane
