#include "log/log_stream.h"

#include "platform/filesystem.h"
#include "platform/process.h"

namespace orvane {

namespace {

using platform::DWORD;
using platform::HANDLE;

constexpr std::uint8_t UTF8_MARK[] = {0xEF, 0xBB, 0xBF};
constexpr std::uint32_t MARK_PROBE_BYTES = 3;

// The widest unit on disk: LF in UTF-16LE becomes CR LF, four bytes. UTF-8 needs at most three
// per unit (a surrogate pair: four bytes for two units).
constexpr std::uint32_t MAX_BYTES_PER_UNIT = 4;

constexpr char16_t LF = u'\n';
constexpr char16_t REPLACEMENT = 0xFFFD;

enum class FileStart { Empty, Utf8Mark, Utf16LEMark, Utf16BEMark, Other };

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Deny-write sharing: other processes may read the log while the launcher runs, never write it.
// The file is opened relative to the folder's handle: whatever has become of the folder's name
// since it was checked, the file is the one in that folder. A link at the log's name is opened
// itself, never followed.
platform::ScopedFile OpenInFolder(HANDLE folder, const char16_t* name, DWORD access, DWORD disposition,
                                  platform::NTSTATUS& status) {
    platform::ScopedFile file;
    status = platform::NtCreateFile(file.Receive(), access, folder, name, platform::FILE_SHARE_READ, disposition,
                                    platform::FILE_NON_DIRECTORY_FILE | platform::FILE_OPEN_REPARSE_POINT);
    return file;
}

// A file that was there before this run is used only when IsAcceptedFile passes it; anything else
// is closed again untouched, and `refused` tells that from a failed open.
platform::ScopedFile OpenExisting(HANDLE folder, const char16_t* name, DWORD access, OwnerRule rule, bool& refused) {
    platform::NTSTATUS status = 0;
    platform::ScopedFile file = OpenInFolder(folder, name, access, platform::FILE_OPEN, status);
    refused = file.Holds() && !IsAcceptedFile(file.Get(), rule);
    if (refused) {
        file.Close();
    }
    return file;
}

// Reads up to MARK_PROBE_BYTES from the start. False when a read fails: the start then counts
// as not examined.
bool ReadStart(HANDLE file, std::uint8_t (&start)[MARK_PROBE_BYTES], std::uint32_t& count) {
    count = 0;
    while (count < MARK_PROBE_BYTES) {
        DWORD read = 0;
        if (!platform::ReadFile(file, start + count, MARK_PROBE_BYTES - count, &read)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        count += read;
    }
    return true;
}

// A file of one or two bytes is judged by what is there: "FF FE" alone is a UTF-16LE mark,
// "EF BB" alone is just content.
FileStart Classify(const std::uint8_t* start, std::uint32_t count) {
    if (count == 0) {
        return FileStart::Empty;
    }
    if (count >= 3 && start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF) {
        return FileStart::Utf8Mark;
    }
    if (count >= 2 && start[0] == 0xFF && start[1] == 0xFE) {
        return FileStart::Utf16LEMark;
    }
    if (count >= 2 && start[0] == 0xFE && start[1] == 0xFF) {
        return FileStart::Utf16BEMark;
    }
    return FileStart::Other;
}

std::uint32_t PutUtf8(char32_t c, std::uint8_t* out) {
    if (c < 0x80) {
        out[0] = static_cast<std::uint8_t>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<std::uint8_t>(0xC0 | (c >> 6));
        out[1] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<std::uint8_t>(0xE0 | (c >> 12));
        out[1] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<std::uint8_t>(0xF0 | (c >> 18));
    out[1] = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
    return 4;
}

// A surrogate without its partner has no UTF-8 form: it becomes U+FFFD.
std::uint32_t ToUtf8(const char16_t* units, std::uint32_t count, std::uint8_t* out) {
    std::uint32_t size = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const char16_t c = units[i];
        if (c == LF) {
            out[size++] = 0x0D;
            out[size++] = 0x0A;
        } else if (IsHighSurrogate(c) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
            const char32_t pair = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            size += PutUtf8(pair, out + size);
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            size += PutUtf8(REPLACEMENT, out + size);
        } else {
            size += PutUtf8(c, out + size);
        }
    }
    return size;
}

std::uint32_t ToUtf16LE(const char16_t* units, std::uint32_t count, std::uint8_t* out) {
    std::uint32_t size = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (units[i] == LF) {
            out[size++] = 0x0D;
            out[size++] = 0x00;
        }
        out[size++] = static_cast<std::uint8_t>(units[i] & 0xFF);
        out[size++] = static_cast<std::uint8_t>(units[i] >> 8);
    }
    return size;
}

}  // namespace

bool LogStream::Open(HANDLE folder, const char16_t* name, OwnerRule rule) {
    Close();
    encoding = LogEncoding::Utf8;
    lostSinceFlush = false;
    used = 0;

    // A new file is this run's own and empty: written to at once, with the mark. Only a name that
    // is taken already is looked at.
    platform::NTSTATUS status = 0;
    file = OpenInFolder(folder, name, platform::GENERIC_WRITE, platform::FILE_CREATE, status);
    bool writeMark = file.Holds();
    if (status == platform::STATUS_OBJECT_NAME_COLLISION) {
        bool refused = false;
        {
            // Read access only serves to look at the start. The probe is closed before the
            // stream's own open: its deny-write sharing would make that open fail.
            const platform::ScopedFile probe =
                OpenExisting(folder, name, platform::GENERIC_READ | platform::GENERIC_WRITE, rule, refused);
            if (refused) {
                return false;
            }
            if (probe.Holds()) {
                std::uint8_t start[MARK_PROBE_BYTES];
                std::uint32_t count = 0;
                const bool examined = ReadStart(probe.Get(), start, count);
                switch (examined ? Classify(start, count) : FileStart::Other) {
                    case FileStart::Empty: writeMark = true; break;
                    case FileStart::Utf16LEMark: encoding = LogEncoding::Utf16LE; break;
                    case FileStart::Utf16BEMark: return false;
                    case FileStart::Utf8Mark:
                    case FileStart::Other: break;
                }
            }
        }
        file = OpenExisting(folder, name, platform::GENERIC_WRITE, rule, refused);
    }
    if (!file.Holds()) {
        return false;
    }
    if (writeMark) {
        DWORD written = 0;
        if (!platform::WriteFileAtEnd(file.Get(), UTF8_MARK, sizeof UTF8_MARK, &written)) {
            lostSinceFlush = true;
        }
    }
    return true;
}

void LogStream::Write(const char16_t* units, std::uint32_t count) {
    if (!IsOpen()) {
        return;
    }
    while (count > 0) {
        const std::uint32_t room = BUFFER_UNITS - used;
        const std::uint32_t piece = count < room ? count : room;
        for (std::uint32_t i = 0; i < piece; ++i) {
            buffer[used + i] = units[i];
        }
        used += piece;
        units += piece;
        count -= piece;
        if (used == BUFFER_UNITS && !HandOn(false)) {
            lostSinceFlush = true;
        }
    }
}

bool LogStream::Flush() {
    if (!IsOpen()) {
        return false;
    }
    const bool handedOn = HandOn(true);
    const bool complete = handedOn && !lostSinceFlush;
    lostSinceFlush = false;
    return complete;
}

void LogStream::Close() {
    if (!IsOpen()) {
        return;
    }
    HandOn(true);
    file.Close();
    used = 0;
    lostSinceFlush = false;
}

bool LogStream::HandOn(bool finalPiece) {
    std::uint32_t count = used;
    char16_t held = 0;
    if (!finalPiece && encoding == LogEncoding::Utf8 && count > 0 && IsHighSurrogate(buffer[count - 1])) {
        held = buffer[--count];
    }
    std::uint8_t bytes[BUFFER_UNITS * MAX_BYTES_PER_UNIT];
    const std::uint32_t size =
        encoding == LogEncoding::Utf8 ? ToUtf8(buffer, count, bytes) : ToUtf16LE(buffer, count, bytes);
    used = 0;
    if (held != 0) {
        buffer[used++] = held;
    }
    if (size == 0) {
        return true;
    }
    DWORD written = 0;
    return platform::WriteFileAtEnd(file.Get(), bytes, size, &written) != 0 && written == size;
}

}  // namespace orvane
