#include "strings/plain_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "support/named_case.h"

namespace orvane {
namespace {

struct DecimalRow {
    const char* name;
    std::int64_t value;
    const char16_t* text;
};
ORVANE_PRINT_BY_NAME(DecimalRow)

const DecimalRow DECIMALS[] = {
    {"Zero", 0, u"0"},
    {"MinusOne", -1, u"-1"},
    {"TenDigits", 1600000000, u"1600000000"},
    {"Largest", std::numeric_limits<std::int64_t>::max(), u"9223372036854775807"},
    {"Smallest", std::numeric_limits<std::int64_t>::min(), u"-9223372036854775808"},
};

class WriteDecimalTest : public ::testing::TestWithParam<DecimalRow> {};

TEST_P(WriteDecimalTest, WritesTheDigitsAndATerminator) {
    char16_t out[DECIMAL_UNITS];
    const std::uint32_t count = WriteDecimal(GetParam().value, out);
    EXPECT_EQ(std::u16string(out, count), GetParam().text);
    EXPECT_EQ(TextLength(out), count);
}

ORVANE_NAMED_ROWS(Values, WriteDecimalTest, DECIMALS);

TEST(TextLengthTest, OfNullIsZero) { EXPECT_EQ(TextLength(nullptr), 0u); }

}  // namespace
}  // namespace orvane
