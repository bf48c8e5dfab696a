// log_stream_fuzz: random UTF-16 units (lone surrogates, pairs, LF and CR included) written
// through LogStream in random write and flush sizes, onto every kind of file start (none,
// empty, EF BB BF, FF FE, FE FF, other bytes, a file that cannot be read), against an encoder
// written here: the file's bytes read back after every flush and after the close.
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "log/log_stream.h"
#include "log/log_target.h"
#include "platform/owners.h"
#include "platform/sim/sim.h"

namespace {

using fuzz::Check;

constexpr const char16_t* FOLDER = u"C:\\logs";
constexpr const char16_t* PATH = u"C:\\logs\\run.txt";
constexpr const char16_t* UNREADABLE_PATH = u"C:\\logs\\unreadable.txt";
constexpr int RUNS_PER_MACHINE = 2048;  // the simulation's records grow with every call

enum class Start { Missing, Empty, Utf8Mark, Utf16Mark, Utf16BigEndianMark, Other };

// The file's first bytes decide: nothing there (or no file) gets the UTF-8 mark; EF BB BF
// stays UTF-8; FF FE is UTF-16LE; FE FF is refused; anything else is UTF-8 without a mark.
// A file whose start cannot be read counts as "anything else"; a new file is the stream's own
// and gets the mark, readable or not.
Start Classify(bool exists, bool readable, const std::string& bytes) {
    if (!exists) return Start::Missing;
    if (!readable) return Start::Other;
    if (bytes.empty()) return Start::Empty;
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return Start::Utf8Mark;
    if (bytes.rfind("\xFF\xFE", 0) == 0) return Start::Utf16Mark;
    if (bytes.rfind("\xFE\xFF", 0) == 0) return Start::Utf16BigEndianMark;
    return Start::Other;
}

/// One flushed piece of text as the file stores it. A pair is one code point only within the
/// piece: a flush between its halves leaves two unpaired surrogates, each U+FFFD.
std::string Encode(const std::u16string& piece, bool utf16) {
    std::string out;
    if (!utf16) {
        // The simulation's UTF-8 (pairs joined, lone surrogates as U+FFFD), then CR before each
        // LF: byte 0x0A never occurs inside a multi-byte sequence.
        for (const char byte : sim::Utf8(piece)) {
            if (byte == '\n') out += '\r';
            out += byte;
        }
        return out;
    }
    for (const char16_t unit : piece) {
        if (unit == u'\n') out += std::string("\r\0", 2);
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

std::string ConsumeStartBytes(FuzzedDataProvider& in) {
    using namespace std::string_literals;
    static const std::string STARTS[] = {""s,
                                         "\xEF\xBB\xBF"s,
                                         "\xEF\xBB\xBFold line\r\n"s,
                                         "\xFF\xFE"s,
                                         "\xFF\xFEo\0l\0d\0\r\0\n\0"s,
                                         "\xFE\xFF"s,
                                         "\xFE\xFF\0o"s,
                                         "\xEF\xBB"s,
                                         "\xFF"s,
                                         "plain text\r\n"s};
    if (in.ConsumeBool()) return STARTS[in.ConsumeIntegralInRange<std::size_t>(0, std::size(STARTS) - 1)];
    return in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 8));
}

int runs = 0;

void NewMachine() {
    sim::Reset();
    sim::MakeFolder(u"C:\\logs");
    sim::DenyReadOpen(UNREADABLE_PATH);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (runs++ % RUNS_PER_MACHINE == 0) NewMachine();
    FuzzedDataProvider in(data, size);
    const bool readable = in.ConsumeIntegralInRange<int>(0, 7) != 0;
    const bool exists = in.ConsumeIntegralInRange<int>(0, 5) != 0;
    const std::string initial = exists ? ConsumeStartBytes(in) : std::string();
    const std::u16string path = readable ? PATH : UNREADABLE_PATH;
    if (exists) {
        sim::MakeFile(path, initial);
    } else {
        std::remove(sim::HostPath(path).c_str());
    }

    const Start start = Classify(exists, readable, initial);
    auto* stream = new orvane::LogStream;  // 4 KiB of buffer: not on the fuzzer's stack
    // The stream opens its file inside a folder the caller checked and holds, by name alone.
    const platform::ScopedFile folder(
        platform::CreateFileW(FOLDER, platform::FILE_TRAVERSE | platform::FILE_READ_ATTRIBUTES,
                              platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE | platform::FILE_SHARE_DELETE,
                              platform::OPEN_EXISTING, platform::FILE_FLAG_BACKUP_SEMANTICS));
    const bool opened = stream->Open(folder.Get(), path.c_str() + std::char_traits<char16_t>::length(FOLDER) + 1,
                                     orvane::OwnerRule::AdministrativeOrLauncher);
    if (start == Start::Utf16BigEndianMark) {
        Check(!opened, "a UTF-16 big-endian file is refused");
        Check(sim::ReadFile(path) == initial, "a refused file is left alone");
        delete stream;
        return 0;
    }
    Check(opened, "the stream opens");
    const bool utf16 = start == Start::Utf16Mark;
    Check(stream->Encoding() == (utf16 ? orvane::LogEncoding::Utf16LE : orvane::LogEncoding::Utf8), "encoding");
    std::string expected = initial;
    if (start == Start::Missing || start == Start::Empty) expected += "\xEF\xBB\xBF";

    std::u16string pending;  // written since the last flush
    while (in.remaining_bytes() > 0) {
        if (in.ConsumeIntegralInRange<int>(0, 5) == 0) {
            Check(stream->Flush(), "flush succeeds");
            expected += Encode(pending, utf16);
            pending.clear();
            Check(sim::ReadFile(path) == expected, "file after a flush");
            continue;
        }
        // Mostly short writes, sometimes one that runs past the 2048-unit buffer.
        const std::size_t count = in.ConsumeIntegralInRange<int>(0, 15) == 0
                                      ? in.ConsumeIntegralInRange<std::size_t>(1000, 5000)
                                      : in.ConsumeIntegralInRange<std::size_t>(0, 40);
        std::u16string units;
        const char16_t repeated = fuzz::ConsumeUnit(in);
        for (std::size_t i = 0; i < count; ++i) {
            units += in.remaining_bytes() > 0 && (count < 100 || i % 97 == 0) ? fuzz::ConsumeUnit(in) : repeated;
        }
        stream->Write(units.data(), static_cast<std::uint32_t>(units.size()));
        pending += units;
    }
    stream->Close();
    expected += Encode(pending, utf16);
    Check(sim::ReadFile(path) == expected, "file after the close");
    delete stream;
    return 0;
}
