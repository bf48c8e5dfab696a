#include "strings/plain_text.h"

namespace orvane {

std::uint32_t TextLength(const char16_t* text) {
    if (text == nullptr) return 0;
    std::uint32_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

std::uint32_t WriteDecimal(std::int64_t value, char16_t (&out)[DECIMAL_UNITS]) {
    // Unsigned, so that the most negative value has a magnitude too.
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    char16_t reversed[DECIMAL_UNITS];
    std::uint32_t n = 0;
    do {
        reversed[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::uint32_t written = 0;
    if (value < 0) out[written++] = u'-';
    while (n != 0) out[written++] = reversed[--n];
    out[written] = 0;
    return written;
}

void WriteHex(const std::uint8_t* bytes, std::uint32_t count, char16_t* out) {
    constexpr char16_t DIGITS[] = u"0123456789ABCDEF";
    for (std::uint32_t i = 0; i < count; ++i) {
        *out++ = DIGITS[bytes[i] >> 4];
        *out++ = DIGITS[bytes[i] & 0xF];
    }
    *out = 0;
}

}  // namespace orvane
