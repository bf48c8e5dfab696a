#include "strings/fixed_path_string.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/sim.h"
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
    for (const FixedPathString* s : {&fromNothing, &fromNull, &fromEmpty}) {
        EXPECT_EQ(s->Length(), 0u);
        EXPECT_EQ(s->Capacity(), INLINE_CAPACITY);
        EXPECT_EQ(Str(*s), u"");
        EXPECT_NE(s->Text(), EMPTY_TEXT);
        EXPECT_TRUE(s->IsInline());
    }
    EXPECT_EQ(HeapCalls(), 0);
}

TEST_F(FixedPathStringTest, NullAssignAndZeroReserveNeverAllocate) {
    FixedPathString s(u"C:\\dir");
    s.Assign(nullptr);
    EXPECT_TRUE(s.Reserve(0));
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_EQ(HeapCalls(), 0);
}

TEST_F(FixedPathStringTest, Exactly260CharactersStayInline) {
    const std::u16string text(260, u'p');
    FixedPathString s(text.c_str());
    EXPECT_TRUE(s.IsInline());
    EXPECT_EQ(Str(s), text);
    EXPECT_EQ(s.Text()[260], 0);
    EXPECT_EQ(HeapCalls(), 0);
}

TEST_F(FixedPathStringTest, GrowsToHeapAt261stCharacterAndFreesItOnce) {
    {
        FixedPathString s(std::u16string(260, u'p').c_str());
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

TEST_F(FixedPathStringTest, GrowthFromInlineFollowsTheStepOf260) {
    struct Row {
        std::uint32_t request, expected;
    };
    for (const Row& row : {Row{261, 520}, Row{520, 520}, Row{521, 521}, Row{600, 600}, Row{1000, 1000}}) {
        FixedPathString s;
        ASSERT_TRUE(s.Reserve(row.request));
        EXPECT_EQ(s.Capacity(), row.expected) << row.request;
    }
    FixedPathString s;
    ASSERT_TRUE(s.Reserve(261));
    ASSERT_TRUE(s.Reserve(521));
    EXPECT_EQ(s.Capacity(), 1040u) << "below 1024 a heap block doubles";
}

TEST_F(FixedPathStringTest, AssigningALongTextGoesStraightToItsSize) {
    FixedPathString s;
    s.Assign(std::u16string(1000, u'z').c_str());
    EXPECT_EQ(s.Capacity(), 1000u);
    EXPECT_EQ(s.Length(), 1000u);
}

TEST_F(FixedPathStringTest, CopyOfAHeapGrownStringCopiesLengthAndGrowsByTheSameRule) {
    FixedPathString source(std::u16string(600, u'a').c_str());
    const FixedPathString copy(source);
    EXPECT_EQ(Str(copy), Str(source));
    EXPECT_EQ(copy.Capacity(), 600u);
    EXPECT_NE(copy.Text(), source.Text());
    EXPECT_EQ(source.Length(), 600u);
}

TEST_F(FixedPathStringTest, ShortTextAfterGrowthKeepsTheHeapBlock) {
    FixedPathString s(std::u16string(300, u'a').c_str());
    const char16_t* block = s.Text();
    s.Assign(u"C:\\");
    EXPECT_EQ(s.Text(), block);
    EXPECT_EQ(s.Capacity(), 520u);
    EXPECT_FALSE(s.IsInline());
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

TEST_F(FixedPathStringTest, ConstructedFromAGuardedStringCopiesIt) {
    const GuardedString text(u"D:\\deploy\\");
    const FixedPathString s(text);
    EXPECT_EQ(Str(s), u"D:\\deploy\\");
    EXPECT_TRUE(s.IsInline());
}

TEST_F(FixedPathStringTest, TakeOverIntoAFixedPathStringCopiesAndKeepsItsDescriptor) {
    GuardedString source(u"C:\\taken");
    const char16_t* block = source.Text();
    FixedPathString target;
    target.TakeOver(source);
    EXPECT_EQ(Str(target), u"C:\\taken");
    EXPECT_TRUE(target.IsInline());
    EXPECT_EQ(Str(source), u"C:\\taken");
    EXPECT_EQ(source.Text(), block);
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
