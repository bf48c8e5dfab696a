#include "strings/plain_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace orvane {
namespace {

TEST(PlainTextTest, WriteDecimalCoversTheWholeRangeWithItsTerminator) {
    const struct {
        std::int64_t value;
        std::u16string text;
    } rows[] = {
        {0, u"0"},
        {-1, u"-1"},
        {1600000000, u"1600000000"},
        {std::numeric_limits<std::int64_t>::max(), u"9223372036854775807"},
        {std::numeric_limits<std::int64_t>::min(), u"-9223372036854775808"},
    };
    for (const auto& row : rows) {
        char16_t out[DECIMAL_UNITS];
        const std::uint32_t count = WriteDecimal(row.value, out);
        EXPECT_EQ(std::u16string(out, count), row.text) << row.value;
        EXPECT_EQ(out[count], u'\0') << row.value;
        EXPECT_EQ(TextLength(out), count) << row.value;
    }
    EXPECT_EQ(TextLength(nullptr), 0u);
}

}  // namespace
}  // namespace orvane
