// format_fuzz: the wide formatter's three passes (FormatTo into a sink, FormatCount, FormatInto
// with every kind of buffer size) and GuardedString::Format, against a reference built from
// std::u16string and std::to_string.
#include <vector>

#include "fuzz_support.h"
#include "strings/guarded_string.h"
#include "strings/wide_format.h"
#include "testkit/collecting_sink.h"

namespace {

using fuzz::Check;
using orvane::testing::CollectingSink;

constexpr char16_t SENTINEL = 0x5A5A;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const fuzz::FormatCase c = fuzz::ConsumeFormatCase(in, 64, 48);
    const auto argCount = static_cast<std::uint32_t>(c.args.size());
    const char16_t* format = c.nullFormat ? nullptr : c.format.c_str();
    const std::u16string expected = c.nullFormat ? u"" : fuzz::ReferenceFormat(c.format, c.args.data(), c.args.size());

    CollectingSink sink;
    orvane::FormatTo(sink, format, c.args.data(), argCount);
    Check(sink.Text() == expected, "FormatTo");
    Check(orvane::FormatCount(format, c.args.data(), argCount) == static_cast<std::int32_t>(expected.size()),
          "FormatCount");

    // The bounded pass with no room, too little room, exactly enough and more than enough.
    const std::size_t sizes[] = {0, in.ConsumeIntegralInRange<std::size_t>(1, expected.size() + 1), expected.size(),
                                 expected.size() + 1,
                                 expected.size() + 1 + in.ConsumeIntegralInRange<std::size_t>(0, 8)};
    for (const std::size_t room : sizes) {
        std::vector<char16_t> buffer(room + 4, SENTINEL);
        const std::int32_t written =
            orvane::FormatInto(buffer.data(), static_cast<std::uint32_t>(room), format, c.args.data(), argCount);
        if (room == 0) {
            Check(written == -1, "FormatInto refuses a size of 0");
            Check(buffer[0] == SENTINEL, "FormatInto writes nothing into a size of 0");
            continue;
        }
        const bool fits = expected.size() + 1 <= room;
        const std::size_t kept = fits ? expected.size() : room - 1;
        Check(written == (fits ? static_cast<std::int32_t>(expected.size()) : -1), "FormatInto result");
        Check(std::u16string(buffer.data(), kept) == expected.substr(0, kept), "FormatInto text");
        Check(buffer[kept] == 0, "FormatInto terminator");
        for (std::size_t i = room; i < buffer.size(); ++i) Check(buffer[i] == SENTINEL, "FormatInto stays in bounds");
    }

    orvane::GuardedString formatted;
    formatted.FormatList(format, c.args.data(), argCount);
    Check(std::u16string(formatted.Text(), formatted.Length()) == expected, "GuardedString::Format");
    formatted.CheckIntegrity();
    return 0;
}
