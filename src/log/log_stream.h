// The log file stream: one buffered UTF-16 stream over the raw file primitives, stored as
// UTF-8 (or UTF-16LE for a file that already is), LF stored as CR LF, every write at the end.
// The same engine serves every platform, so the bytes on disk are the same everywhere.
#pragma once

#include <cstdint>

#include "log/log_target.h"
#include "platform/owners.h"

namespace orvane {

enum class LogEncoding : std::uint8_t { Utf8, Utf16LE };

class LogStream {
public:
    /// Buffered UTF-16 units before the stream hands them on (4096 bytes).
    static constexpr std::uint32_t BUFFER_UNITS = 2048;

    /// Opens the file `name` inside the open folder `folder` for appending with deny-write
    /// sharing, creating it when it is missing, and decides the encoding from the file's first
    /// bytes (new or empty: writes the UTF-8 mark; EF BB BF: UTF-8; FF FE: UTF-16LE; FE FF:
    /// refused; anything else, or not readable: UTF-8 without a mark). False when the file cannot
    /// be opened, or when a file that was there already does not pass IsAcceptedFile with `rule`
    /// (a link at that name is never followed); the stream then stays closed and the file
    /// untouched.
    bool Open(platform::HANDLE folder, const char16_t* name, OwnerRule rule);
    /// Buffers `count` units; a full buffer is handed on.
    void Write(const char16_t* units, std::uint32_t count);
    /// Hands everything buffered to the file. False when a write since the last Flush failed
    /// (that data is lost; the stream stays usable).
    bool Flush();
    /// Flushes and closes. Does nothing when not open.
    void Close();
    bool IsOpen() const { return file.Holds(); }
    LogEncoding Encoding() const { return encoding; }

private:
    /// Converts and writes the buffer. Unless `finalPiece`, a high surrogate in the last slot
    /// stays buffered so that a pair split by the buffer boundary is still encoded as one.
    bool HandOn(bool finalPiece);

    platform::ScopedFile file;
    LogEncoding encoding = LogEncoding::Utf8;
    bool lostSinceFlush = false;
    std::uint32_t used = 0;
    char16_t buffer[BUFFER_UNITS];
};

}  // namespace orvane
