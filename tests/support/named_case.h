// Rows of a test table run and print by their names: `--gtest_filter=*/TheRowsName` runs one,
// and a failure names its row instead of dumping its bytes (which would also read the padding).
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#define ORVANE_PRINT_BY_NAME(Row) \
    [[maybe_unused]] void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

/// One test of `Suite` per element of `rows`, named by the element's `name`.
#define ORVANE_NAMED_ROWS(Prefix, Suite, rows)                         \
    INSTANTIATE_TEST_SUITE_P(Prefix, Suite, ::testing::ValuesIn(rows), \
                             [](const auto& info) { return std::string(info.param.name); })
