#include "strings/wide_format.h"

#include <cstdint>
#include <cstring>

#include "strings/plain_text.h"

namespace orvane {

namespace {

class CountingSink final : public FormatSink {
public:
    void Put(const char16_t*, std::uint32_t count) override { total += count; }
    std::uint64_t total = 0;
};

class BoundedSink final : public FormatSink {
public:
    BoundedSink(char16_t* buffer, std::uint32_t room) : out(buffer), room(room) {}
    void Put(const char16_t* units, std::uint32_t count) override {
        const std::uint32_t fits = count < room - used ? count : room - used;
        std::memcpy(out + used, units, 2 * static_cast<std::size_t>(fits));
        used += fits;
        if (fits < count) truncated = true;
    }
    char16_t* out;
    std::uint32_t room;
    std::uint32_t used = 0;
    bool truncated = false;
};

}  // namespace

void FormatTo(FormatSink& sink, const char16_t* format, const FormatArg* args, std::uint32_t argCount) {
    if (format == nullptr) return;
    std::uint32_t nextArg = 0;
    const char16_t* run = format;
    const char16_t* p = format;
    while (*p != 0) {
        if (p[0] != u'%' || (p[1] != u's' && p[1] != u'd')) {
            ++p;
            continue;
        }
        if (p != run) sink.Put(run, static_cast<std::uint32_t>(p - run));
        const FormatArg* arg = nextArg < argCount ? &args[nextArg] : nullptr;
        ++nextArg;
        if (p[1] == u's') {
            if (arg != nullptr && arg->kind == FormatArg::Kind::Text && arg->text != nullptr) {
                sink.Put(arg->text, TextLength(arg->text));
            }
        } else if (arg != nullptr && arg->kind == FormatArg::Kind::Integer) {
            char16_t digits[DECIMAL_UNITS];
            sink.Put(digits, WriteDecimal(arg->integer, digits));
        }
        p += 2;
        run = p;
    }
    if (p != run) sink.Put(run, static_cast<std::uint32_t>(p - run));
}

std::int32_t FormatCount(const char16_t* format, const FormatArg* args, std::uint32_t argCount) {
    CountingSink counter;
    FormatTo(counter, format, args, argCount);
    return counter.total > 0x7FFFFFFF ? -1 : static_cast<std::int32_t>(counter.total);
}

std::int32_t FormatInto(char16_t* buffer, std::uint32_t size, const char16_t* format, const FormatArg* args,
                        std::uint32_t argCount) {
    if (buffer == nullptr || size == 0) return -1;
    BoundedSink sink(buffer, size - 1);
    FormatTo(sink, format, args, argCount);
    buffer[sink.used] = 0;
    return sink.truncated ? -1 : static_cast<std::int32_t>(sink.used);
}

}  // namespace orvane
