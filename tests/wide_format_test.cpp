#include "strings/wide_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(WideFormatTest, Conversions) {
    struct Row {
        const char16_t* format;
        std::vector<FormatArg> args;
        const char16_t* expected;
    };
    const Row rows[] = {
        {u"plain", {}, u"plain"},
        {u"", {}, u""},
        {u"%s", {u"text"}, u"text"},
        {u"[%s]", {u""}, u"[]"},
        {u"%d", {0}, u"0"},
        {u"%d", {-7}, u"-7"},
        {u"%d", {2147483647}, u"2147483647"},
        {u"%d", {static_cast<std::int32_t>(0x80000000u)}, u"-2147483648"},
        {u"returned %d", {0xFFFFFFFFu}, u"returned -1"},
        {u"returned %d", {0xC0000005u}, u"returned -1073741819"},
        {u"returned %d", {258u}, u"returned 258"},
        {u"Orvane.Launcher-%s-%d.txt", {u"-1", 4242}, u"Orvane.Launcher--1-4242.txt"},
        {u"%s%s", {u"a", u"b"}, u"ab"},
        {u"run %s with :\n\t %s",
         {u"C:\\x.exe", u" /encfile \"D:\\p\""},
         u"run C:\\x.exe with :\n\t  /encfile \"D:\\p\""},
        {u"100%% %x %", {}, u"100%% %x %"},
        {u"%s and %d", {}, u" and "},
        {u"%d", {u"text"}, u""},
        {u"%s", {static_cast<const char16_t*>(nullptr)}, u""},
        {u"\U0001F600 %s", {u"\xD83D"}, u"\U0001F600 \xD83D"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Formatted(row.format, row.args), row.expected);
    }
}

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

class CollectingSink final : public FormatSink {
public:
    void Put(const char16_t* units, std::uint32_t count) override { pieces.emplace_back(units, count); }
    std::vector<std::u16string> pieces;
};

TEST(WideFormatTest, SinkReceivesTextArgumentsWhole) {
    CollectingSink sink;
    const std::u16string longText(5000, u'L');
    const FormatArg args[] = {longText.c_str(), 12};
    FormatTo(sink, u"a%sb%dc", args, 2);
    std::u16string joined;
    for (const auto& piece : sink.pieces) joined += piece;
    EXPECT_EQ(joined, u"a" + longText + u"b12c");
}

}  // namespace
}  // namespace orvane
