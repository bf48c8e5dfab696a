#include "log/log_stream.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/owners.h"
#include "platform/process.h"
#include "platform/sim/sim.h"
#include "support/log_lines.h"
#include "support/named_case.h"

namespace orvane {
namespace {

using platform::DWORD;

const std::u16string PATH = u"C:\\logs\\run.txt";
using testing::BOM;

class LogStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::MakeFolder(u"C:\\logs");
    }
    void TearDown() override { stream.Close(); }

    /// Opens run.txt in `folder` (as the log folder is opened) under the rule of a run that is not
    /// elevated; the folder's handle is closed again, as OpenLog does once the file is open.
    bool OpenStream(const char16_t* folder = u"C:\\logs") {
        const platform::ScopedFile held(platform::CreateFileW(
            folder, platform::FILE_TRAVERSE, platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
            platform::OPEN_EXISTING, platform::FILE_FLAG_BACKUP_SEMANTICS));
        return stream.Open(held.Get(), u"run.txt", OwnerRule::AdministrativeOrLauncher);
    }

    void Put(const std::u16string& text) { stream.Write(text.data(), static_cast<std::uint32_t>(text.size())); }
    std::string OnDisk() const { return sim::ReadFile(PATH); }

    LogStream stream;
};

// ---- Encoding decided from the start of the file, and opens that fail ---------------------

struct StartCase {
    const char* name;
    std::optional<std::string> existing;  // nullopt: no file yet
    void (*arrange)();                    // what else stands in the way, or null
    bool opens;
    LogEncoding encoding;
    std::string appended;  // what writing u"ab\n" adds after the existing bytes
};
ORVANE_PRINT_BY_NAME(StartCase)

const std::string UTF8_LINE = "ab\r\n";
const std::string UTF16_LINE = std::string("a\0b\0\r\0\n\0", 8);

void DenyRead() { sim::DenyReadOpen(PATH); }
// The opens of an existing file: the creation that finds the name taken, the reading probe, the
// stream's own write-only open.
void FailReadingOpen() { sim::FailCall("NtCreateFile", platform::ERROR_SHARING_VIOLATION, 2); }
void FailWriteOnlyOpen() { sim::FailCall("NtCreateFile", platform::ERROR_SHARING_VIOLATION, 3); }

using enum LogEncoding;

const StartCase START_CASES[] = {
    {"NewFile", std::nullopt, nullptr, true, Utf8, BOM + UTF8_LINE},
    {"EmptyFile", "", nullptr, true, Utf8, BOM + UTF8_LINE},
    {"Utf8Mark", BOM + "old\r\n", nullptr, true, Utf8, UTF8_LINE},
    {"Utf8MarkOnly", BOM, nullptr, true, Utf8, UTF8_LINE},
    {"Utf16LEMark", std::string("\xFF\xFEo\0\r\0\n\0", 8), nullptr, true, Utf16LE, UTF16_LINE},
    {"Utf16LEMarkOnly", "\xFF\xFE", nullptr, true, Utf16LE, UTF16_LINE},
    {"Utf16LEMarkThenOneByte", "\xFF\xFE\x41", nullptr, true, Utf16LE, UTF16_LINE},
    {"Utf16BEMark", std::string("\xFE\xFF\0o", 4), nullptr, false, Utf8, ""},
    {"Utf16BEMarkOnly", "\xFE\xFF", nullptr, false, Utf8, ""},
    {"PlainText", "hello\r\n", nullptr, true, Utf8, UTF8_LINE},
    {"OneByteOfUtf8Mark", "\xEF", nullptr, true, Utf8, UTF8_LINE},
    {"TwoBytesOfUtf8Mark", "\xEF\xBB", nullptr, true, Utf8, UTF8_LINE},
    {"OneByteOfUtf16Mark", "\xFF", nullptr, true, Utf8, UTF8_LINE},
    {"Utf8MarkNotAtStart", "x" + BOM, nullptr, true, Utf8, UTF8_LINE},
    {"ReadDeniedNewFile", std::nullopt, DenyRead, true, Utf8, BOM + UTF8_LINE},  // created write-only
    {"ReadDeniedEmptyFile", "", DenyRead, true, Utf8, UTF8_LINE},
    {"ReadDeniedUtf16LEMark", "\xFF\xFE", DenyRead, true, Utf8, UTF8_LINE},
    {"ReadDeniedUtf16BEMark", "\xFE\xFF", DenyRead, true, Utf8, UTF8_LINE},
    {"ReadingOpenFailsUtf16LEMark", "\xFF\xFE", FailReadingOpen, true, Utf8, UTF8_LINE},
    {"WriteOnlyOpenFails", BOM, FailWriteOnlyOpen, false, Utf8, ""},
    {"PathIsAFolder", std::nullopt, [] { sim::MakeFolder(PATH); }, false, Utf8, ""},
    {"EveryOpenDenied", std::nullopt, [] { sim::DenyOpen(PATH, platform::ERROR_ACCESS_DENIED); }, false, Utf8, ""},
};

class LogStreamStartTest : public LogStreamTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(LogStreamStartTest, DecidesEncodingAndMarkFromFirstBytes) {
    const StartCase& c = GetParam();
    if (c.existing) sim::MakeFile(PATH, *c.existing);
    if (c.arrange != nullptr) c.arrange();

    ASSERT_EQ(OpenStream(), c.opens);
    EXPECT_EQ(stream.IsOpen(), c.opens);
    EXPECT_EQ(stream.Encoding(), c.encoding);
    Put(u"ab\n");
    stream.Flush();
    stream.Close();

    EXPECT_EQ(OnDisk(), c.existing.value_or("") + c.appended);
}

ORVANE_NAMED_ROWS(Starts, LogStreamStartTest, START_CASES);

TEST_F(LogStreamTest, FailsWhenFolderIsMissing) {
    EXPECT_FALSE(OpenStream(u"C:\\missing"));
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_FALSE(sim::FolderExists(u"C:\\missing"));
}

TEST_F(LogStreamTest, ClosedStreamIgnoresWritesAndClose) {
    Put(u"never\n");
    EXPECT_FALSE(stream.Flush());
    stream.Close();
    EXPECT_TRUE(sim::WriteSizes().empty());
    EXPECT_FALSE(sim::FileExists(PATH));
}

// ---- Conversion of what is handed on -------------------------------------------------------

const std::string UTF16LE_MARK = "\xFF\xFE";

struct ConversionCase {
    const char* name;
    std::string mark;  // of the file the stream appends to, which decides the encoding
    std::u16string text;
    std::string bytes;
};
ORVANE_PRINT_BY_NAME(ConversionCase)

const ConversionCase CONVERSION_CASES[] = {
    {"Utf8LfBecomesCrLf", BOM, u"a\nb\n", "a\r\nb\r\n"},
    {"Utf8CrUnchanged", BOM, u"a\rb", "a\rb"},
    {"Utf8CrLfGetsSecondCr", BOM, u"a\r\n", "a\r\r\n"},
    {"Utf8TabUnchanged", BOM, u"\t x", "\t x"},
    {"Utf8LastOneByte", BOM, u"\u007F", "\x7F"},
    {"Utf8FirstTwoByte", BOM, u"\u0080", "\xC2\x80"},
    {"Utf8LastTwoByte", BOM, u"\u07FF", "\xDF\xBF"},
    {"Utf8FirstThreeByte", BOM, u"\u0800", "\xE0\xA0\x80"},
    {"Utf8Euro", BOM, u"\u20AC", "\xE2\x82\xAC"},
    {"Utf8LastBmp", BOM, u"\uFFFF", "\xEF\xBF\xBF"},
    {"Utf8PairFirstSupplementary", BOM, u"\U00010000", "\xF0\x90\x80\x80"},
    {"Utf8PairEmoji", BOM, u"\U0001F600", "\xF0\x9F\x98\x80"},
    {"Utf8PairLastCodePoint", BOM, u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
    {"Utf8LoneHighBeforeText", BOM, std::u16string{0xD83D, u'x'}, "\xEF\xBF\xBDx"},
    {"Utf8LoneHighAtEnd", BOM, std::u16string{u'x', 0xD83D}, "x\xEF\xBF\xBD"},
    {"Utf8LoneLow", BOM, std::u16string{u'x', 0xDE00, u'y'}, "x\xEF\xBF\xBDy"},
    {"Utf8LowThenHigh", BOM, std::u16string{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"Utf8TwoHighsThenLow", BOM, std::u16string{0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    {"Utf16LELfBecomesCrLf", UTF16LE_MARK, u"a\n", std::string("a\0\r\0\n\0", 6)},
    {"Utf16LECrUnchanged", UTF16LE_MARK, u"\r", std::string("\r\0", 2)},
    {"Utf16LETabUnchanged", UTF16LE_MARK, u"\t", std::string("\t\0", 2)},
    {"Utf16LEBmp", UTF16LE_MARK, u"\u20AC", "\xAC\x20"},
    {"Utf16LEPairStaysPair", UTF16LE_MARK, u"\U0001F600", std::string("\x3D\xD8\x00\xDE", 4)},
    {"Utf16LELoneSurrogateUnchanged", UTF16LE_MARK, std::u16string{0xD83D}, "\x3D\xD8"},
};

class LogStreamConversionTest : public LogStreamTest, public ::testing::WithParamInterface<ConversionCase> {};

TEST_P(LogStreamConversionTest, ConvertsOnFlush) {
    sim::MakeFile(PATH, GetParam().mark);
    ASSERT_TRUE(OpenStream());
    Put(GetParam().text);
    EXPECT_TRUE(stream.Flush());
    EXPECT_EQ(OnDisk(), GetParam().mark + GetParam().bytes);
}

ORVANE_NAMED_ROWS(Units, LogStreamConversionTest, CONVERSION_CASES);

// ---- Buffering -----------------------------------------------------------------------------

constexpr std::uint32_t FULL = LogStream::BUFFER_UNITS;

TEST_F(LogStreamTest, HoldsUnitsUntilBufferIsFull) {
    ASSERT_TRUE(OpenStream());
    const std::vector<DWORD> afterOpen = sim::WriteSizes();

    Put(std::u16string(FULL - 1, u'a'));
    EXPECT_EQ(sim::WriteSizes(), afterOpen);
    EXPECT_EQ(OnDisk(), BOM);

    Put(u"bc");
    EXPECT_EQ(OnDisk(), BOM + std::string(FULL - 1, 'a') + "b");
    stream.Flush();
    EXPECT_EQ(OnDisk(), BOM + std::string(FULL - 1, 'a') + "bc");
}

TEST_F(LogStreamTest, PairSplitByBufferBoundaryStaysOneCharacter) {
    ASSERT_TRUE(OpenStream());
    Put(std::u16string(FULL - 1, u'a') + u"\U0001F600" + u"z");
    stream.Flush();

    EXPECT_EQ(OnDisk(), BOM + std::string(FULL - 1, 'a') + "\xF0\x9F\x98\x80" + "z");
    EXPECT_EQ(sim::WriteSizes(), (std::vector<DWORD>{3, FULL - 1, 5}));
}

/// What follows a high surrogate that arrived as the last unit of a full buffer.
struct HeldCase {
    const char* name;
    std::u16string next;  // written on its own, then the stream is flushed
    std::string bytes;    // what the surrogate and `next` become
};
ORVANE_PRINT_BY_NAME(HeldCase)

const HeldCase HELD_CASES[] = {
    {"ItsLowSurrogate", std::u16string{0xDE00}, "\xF0\x9F\x98\x80"},
    {"AnotherUnit", u"b",
     "\xEF\xBF\xBD"
     "b"},
    {"NothingBeforeTheFlush", u"", "\xEF\xBF\xBD"},
};

class LogStreamHeldTest : public LogStreamTest, public ::testing::WithParamInterface<HeldCase> {};

TEST_P(LogStreamHeldTest, HighSurrogateAtTheBufferBoundaryWaitsForItsPartner) {
    ASSERT_TRUE(OpenStream());
    Put(std::u16string(FULL - 1, u'a') + char16_t(0xD83D));
    Put(GetParam().next);
    stream.Flush();
    EXPECT_EQ(OnDisk(), BOM + std::string(FULL - 1, 'a') + GetParam().bytes);
}

ORVANE_NAMED_ROWS(Next, LogStreamHeldTest, HELD_CASES);

TEST_F(LogStreamTest, FullBufferOfWidestUnitsIsWrittenWhole) {
    sim::MakeFile(PATH, UTF16LE_MARK);
    ASSERT_TRUE(OpenStream());
    Put(std::u16string(FULL, u'\n'));
    stream.Flush();

    std::string expected = "\xFF\xFE";
    for (std::uint32_t i = 0; i < FULL; ++i) {
        expected += std::string("\r\0\n\0", 4);
    }
    EXPECT_EQ(OnDisk(), expected);
}

TEST_F(LogStreamTest, FlushAndCloseWriteWhatIsBufferedAndNothingElse) {
    ASSERT_TRUE(OpenStream());
    Put(u"x\n");
    EXPECT_TRUE(stream.Flush());
    EXPECT_TRUE(stream.Flush());
    Put(u"pending\n");
    EXPECT_EQ(OnDisk(), BOM + "x\r\n");
    stream.Close();
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(OnDisk(), BOM + "x\r\npending\r\n");
    EXPECT_EQ(sim::WriteSizes(), (std::vector<DWORD>{3, 3, 9}));
}

TEST_F(LogStreamTest, FailedWriteLosesThatOutputOnly) {
    ASSERT_TRUE(OpenStream());
    Put(u"kept\n");
    EXPECT_TRUE(stream.Flush());
    sim::FailWritesAfter(0);
    Put(u"lost\n");
    EXPECT_FALSE(stream.Flush());
    stream.Close();
    EXPECT_EQ(OnDisk(), BOM + "kept\r\n");
}

TEST_F(LogStreamTest, FailedHandOnOfFullBufferIsReportedByNextFlush) {
    ASSERT_TRUE(OpenStream());
    sim::FailCall("WriteFileAtEnd", 112 /* ERROR_DISK_FULL */);
    Put(std::u16string(FULL + 1, u'b'));
    EXPECT_FALSE(stream.Flush());
    EXPECT_EQ(OnDisk(), BOM + "b");
    Put(u"c");
    EXPECT_TRUE(stream.Flush());
}

TEST_F(LogStreamTest, OthersMayReadButNotWriteWhileOpen) {
    ASSERT_TRUE(OpenStream());
    Put(u"seen\n");
    stream.Flush();
    const auto open = [](DWORD access) {
        return platform::CreateFileW(PATH.c_str(), access, platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                     platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL);
    };

    EXPECT_EQ(open(platform::GENERIC_WRITE), platform::INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_SHARING_VIOLATION);
    const platform::ScopedFile reader(open(platform::GENERIC_READ));
    ASSERT_TRUE(reader.Holds());
    char bytes[32] = {};
    DWORD read = 0;
    EXPECT_TRUE(platform::ReadFile(reader.Get(), bytes, sizeof bytes, &read));
    EXPECT_EQ(std::string(bytes, read), BOM + "seen\r\n");

    stream.Close();
    EXPECT_TRUE(platform::ScopedFile(open(platform::GENERIC_WRITE)).Holds());
}

}  // namespace
}  // namespace orvane
