#include "strings/wide_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/named_case.h"
#include "testkit/collecting_sink.h"

namespace orvane {
namespace {

std::u16string Formatted(const char16_t* format, std::vector<FormatArg> args) {
    const std::int32_t count = FormatCount(format, args.data(), static_cast<std::uint32_t>(args.size()));
    EXPECT_GE(count, 0);
    std::u16string out(static_cast<std::size_t>(count) + 1, u'#');
    EXPECT_EQ(FormatInto(out.data(), static_cast<std::uint32_t>(out.size()), format, args.data(),
                         static_cast<std::uint32_t>(args.size())),
              count);
    EXPECT_EQ(out.back(), 0);
    out.pop_back();
    return out;
}

struct ConversionRow {
    const char* name;
    const char16_t* format;
    std::vector<FormatArg> args;
    const char16_t* expected;
};
ORVANE_PRINT_BY_NAME(ConversionRow)

const ConversionRow CONVERSIONS[] = {
    {"PlainText", u"plain", {}, u"plain"},
    {"EmptyFormat", u"", {}, u""},
    {"Text", u"%s", {u"text"}, u"text"},
    {"EmptyText", u"[%s]", {u""}, u"[]"},
    {"Zero", u"%d", {0}, u"0"},
    {"Negative", u"%d", {-7}, u"-7"},
    {"Largest", u"%d", {2147483647}, u"2147483647"},
    {"Smallest", u"%d", {static_cast<std::int32_t>(0x80000000u)}, u"-2147483648"},
    {"AllBitsSetIsMinusOne", u"returned %d", {0xFFFFFFFFu}, u"returned -1"},
    {"TopBitSetIsNegative", u"returned %d", {0xC0000005u}, u"returned -1073741819"},
    {"UnsignedBelowTopBit", u"returned %d", {258u}, u"returned 258"},
    {"TextThenNumber", u"Orvane.Launcher-%s-%d.txt", {u"-1", 4242}, u"Orvane.Launcher--1-4242.txt"},
    {"TwoTexts", u"%s%s", {u"a", u"b"}, u"ab"},
    {"ControlCharactersKept",
     u"run %s with :\n\t %s",
     {u"C:\\x.exe", u" /p \"D:\\p\""},
     u"run C:\\x.exe with :\n\t  /p \"D:\\p\""},
    {"OtherPercentsKept", u"100%% %x %", {}, u"100%% %x %"},
    {"MissingArgumentsGiveNothing", u"%s and %d", {}, u" and "},
    {"TextForANumberGivesNothing", u"%d", {u"text"}, u""},
    {"NullText", u"%s", {static_cast<const char16_t*>(nullptr)}, u""},
    {"SurrogatesPassUnchanged", u"\U0001F600 %s", {u"\xD83D"}, u"\U0001F600 \xD83D"},
};

class WideFormatConversionTest : public ::testing::TestWithParam<ConversionRow> {};

TEST_P(WideFormatConversionTest, CountsAndPrintsTheSameText) {
    EXPECT_EQ(Formatted(GetParam().format, GetParam().args), GetParam().expected);
}

ORVANE_NAMED_ROWS(Conversions, WideFormatConversionTest, CONVERSIONS);

TEST(WideFormatTest, NullFormatProducesNothing) {
    EXPECT_EQ(FormatCount(nullptr, nullptr, 0), 0);
    char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(FormatInto(buffer, 4, nullptr, nullptr, 0), 0);
    EXPECT_EQ(buffer[0], 0);
}

TEST(WideFormatTest, BoundedPassRefusesAZeroSizeAndTerminatesWhatFits) {
    char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
    const FormatArg args[] = {u"abcdef"};
    EXPECT_EQ(FormatInto(buffer, 0, u"%s", args, 1), -1);
    EXPECT_EQ(buffer[0], u'x');
    EXPECT_EQ(FormatInto(buffer, 4, u"%s", args, 1), -1);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(FormatInto(buffer, 4, u"%d", nullptr, 0), 0);
}

TEST(WideFormatTest, SinkReceivesTextArgumentsWhole) {
    testing::CollectingSink sink;
    const std::u16string longText(5000, u'L');
    const FormatArg args[] = {longText.c_str(), 12};
    FormatTo(sink, u"a%sb%dc", args, 2);
    EXPECT_EQ(sink.pieces, (std::vector<std::u16string>{u"a", longText, u"b", u"12", u"c"}));
}

}  // namespace
}  // namespace orvane
