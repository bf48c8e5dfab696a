// A formatter's sink that keeps every piece it is handed, for the unit tests and the fuzzers
// alike: the pieces show how the formatter split its output, Text() what it wrote.
#pragma once

#include <string>
#include <vector>

#include "strings/wide_format.h"

namespace orvane::testing {

class CollectingSink final : public FormatSink {
public:
    void Put(const char16_t* units, std::uint32_t count) override { pieces.emplace_back(units, count); }
    std::u16string Text() const {
        std::u16string text;
        for (const std::u16string& piece : pieces) text += piece;
        return text;
    }
    std::vector<std::u16string> pieces;
};

}  // namespace orvane::testing
