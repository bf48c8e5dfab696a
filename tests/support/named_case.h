// Rows of a test table print as their names in test output, instead of as raw bytes (which
// would also read the rows' padding). Use after the row's struct, in the same namespace.
#pragma once

#include <ostream>

#define ORVANE_PRINT_BY_NAME(Row) \
    [[maybe_unused]] void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }
