// The system's one formatted-output dialect: "%s" takes a UTF-16 text, "%d" a signed 32-bit
// integer; output is 16-bit units on every platform. Used by Format and by LogWrite.
#pragma once

#include <cstdint>

namespace orvane {

/// One argument of a format. Unsigned Windows values are taken bit for bit as signed, so
/// 0xFFFFFFFF prints as -1.
struct FormatArg {
    enum class Kind : std::uint8_t { None, Text, Integer };
    Kind kind = Kind::None;
    const char16_t* text = nullptr;
    std::int32_t integer = 0;

    constexpr FormatArg() = default;
    constexpr FormatArg(const char16_t* t) : kind(Kind::Text), text(t) {}     // NOLINT(google-explicit-constructor)
    constexpr FormatArg(std::int32_t i) : kind(Kind::Integer), integer(i) {}  // NOLINT(google-explicit-constructor)
    constexpr FormatArg(std::uint32_t u)                                      // NOLINT(google-explicit-constructor)
        : kind(Kind::Integer), integer(static_cast<std::int32_t>(u)) {}
};

/// Receives formatted output in pieces.
class FormatSink {
public:
    virtual void Put(const char16_t* units, std::uint32_t count) = 0;

protected:
    ~FormatSink() = default;
};

/// Formats into `sink`. Conversions take the arguments in order; "%s" with a null text or a
/// conversion whose argument is missing or of the other kind writes nothing; any other "%"
/// sequence is written as it stands.
void FormatTo(FormatSink& sink, const char16_t* format, const FormatArg* args, std::uint32_t argCount);

/// The counting pass: the units the format produces, terminator excluded; -1 when the count
/// does not fit in 31 bits.
std::int32_t FormatCount(const char16_t* format, const FormatArg* args, std::uint32_t argCount);

/// The bounded pass: writes the formatted text and a terminator into `buffer` of `size` units.
/// Returns the units written without the terminator, or -1 when `size` is 0 (nothing written)
/// or the text does not fit (the buffer then holds as much as fits, terminated).
std::int32_t FormatInto(char16_t* buffer, std::uint32_t size, const char16_t* format, const FormatArg* args,
                        std::uint32_t argCount);

}  // namespace orvane
