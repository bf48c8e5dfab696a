// Shared pieces of the fuzz targets: drawing UTF-16 texts from the fuzzer's bytes, and a
// reference for the "%s"/"%d" dialect built on std::u16string and std::to_string.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "strings/wide_format.h"

namespace fuzz {

/// Ends the run as a finding, with what differed.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "MISMATCH: %s\n", what);
    std::abort();
}

inline void Check(bool holds, const char* what) {
    if (!holds) Fail(what);
}

/// Mostly characters that matter to the code (separators, the conversion letters, 0, both
/// surrogate halves, LF, CR), sometimes any 16-bit unit.
inline char16_t ConsumeUnit(FuzzedDataProvider& in) {
    static constexpr char16_t COMMON[] = {u'a',  u'b',  u'\\',  u'/',   u'%',   u's',   u'd',   0,
                                          u'\n', u'\r', 0xD800, 0xDC00, 0xDBFF, 0x00E9, 0x20AC, u' '};
    const std::uint8_t pick = in.ConsumeIntegral<std::uint8_t>();
    if (pick < 224) return COMMON[pick % (sizeof COMMON / sizeof COMMON[0])];
    return in.ConsumeIntegral<std::uint16_t>();
}

inline std::u16string ConsumeText(FuzzedDataProvider& in, std::size_t maxLength) {
    const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, maxLength);
    std::u16string text;
    text.reserve(length);
    for (std::size_t i = 0; i < length && in.remaining_bytes() > 0; ++i) text += ConsumeUnit(in);
    return text;
}

/// The units before the first 0, as a terminated text reads.
inline std::u16string UpToTerminator(const std::u16string& text) { return text.substr(0, text.find(u'\0')); }

inline std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

/// The dialect read from scratch: scanning left to right, "%s" and "%d" take the next argument
/// (a text up to its terminator; a signed 32-bit decimal); a conversion whose argument is missing
/// or of the other kind, and "%s" with a null text, give nothing; every other unit is copied.
inline std::u16string ReferenceFormat(const std::u16string& format, const orvane::FormatArg* args,
                                      std::size_t argCount) {
    std::u16string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const bool conversion =
            format[i] == u'%' && i + 1 < format.size() && (format[i + 1] == u's' || format[i + 1] == u'd');
        if (!conversion) {
            out += format[i];
            continue;
        }
        const bool wantsText = format[i + 1] == u's';
        ++i;
        if (next >= argCount) {
            ++next;
            continue;
        }
        const orvane::FormatArg& arg = args[next++];
        if (wantsText && arg.kind == orvane::FormatArg::Kind::Text && arg.text != nullptr) {
            out += std::u16string(arg.text);
        } else if (!wantsText && arg.kind == orvane::FormatArg::Kind::Integer) {
            out += Widen(std::to_string(arg.integer));
        }
    }
    return out;
}

/// A format and its arguments drawn from the fuzzer. The texts live here, the arguments point
/// into them (or into `outsideTexts`, other strings' characters).
struct FormatCase {
    std::u16string format;  // no 0 inside: a format is read up to its terminator
    bool nullFormat = false;
    std::vector<std::u16string> texts;
    std::vector<orvane::FormatArg> args;
};

inline FormatCase ConsumeFormatCase(FuzzedDataProvider& in, std::size_t maxFormat, std::size_t maxText,
                                    const std::vector<const char16_t*>& outsideTexts = {}) {
    FormatCase c;
    c.nullFormat = in.ConsumeIntegralInRange<int>(0, 31) == 0;
    // Formats are built from pieces so that conversions are common, and from raw units so that
    // odd neighbours ("%%s", a trailing "%") occur too.
    const std::size_t pieces = in.ConsumeIntegralInRange<std::size_t>(0, maxFormat);
    for (std::size_t i = 0; i < pieces && in.remaining_bytes() > 0; ++i) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
            case 0: c.format += u"%s"; break;
            case 1: c.format += u"%d"; break;
            case 2: c.format += u'%'; break;
            default: {
                const char16_t unit = ConsumeUnit(in);
                if (unit != 0) c.format += unit;
            }
        }
    }
    const std::size_t argCount = in.ConsumeIntegralInRange<std::size_t>(0, 6);
    c.texts.reserve(argCount);  // the arguments point into these: no reallocation later
    for (std::size_t i = 0; i < argCount; ++i) {
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
            case 0: c.args.emplace_back(); break;
            case 1: c.args.emplace_back(static_cast<const char16_t*>(nullptr)); break;
            case 2:
                if (!outsideTexts.empty()) {
                    c.args.emplace_back(
                        outsideTexts[in.ConsumeIntegralInRange<std::size_t>(0, outsideTexts.size() - 1)]);
                    break;
                }
                [[fallthrough]];
            case 3:
                c.texts.push_back(ConsumeText(in, maxText));
                c.args.emplace_back(c.texts.back().c_str());
                break;
            default: c.args.emplace_back(in.ConsumeIntegral<std::int32_t>()); break;
        }
    }
    return c;
}

}  // namespace fuzz
