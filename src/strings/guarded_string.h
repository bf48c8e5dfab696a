// GuardedString: the system's one text type, UTF-16, in a guarded block from a memory manager.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/fatal_stop.h"
#include "strings/plain_text.h"
#include "strings/string_block.h"
#include "strings/wide_format.h"

namespace orvane {

/// One static, read-only empty text: what a string without a block reads as.
extern const char16_t EMPTY_TEXT[1];

class FixedPathString;

/// A UTF-16 string whose characters live in a StringBlock framed by guard words. Every
/// operation that writes characters ends with a guard test; a broken guard, a length beyond the
/// capacity or a failed allocation is the fatal stop. Counts are in 16-bit units. Out of memory,
/// only Reserve, SetCapacity and the copy core Assign(text, count) return false; every other
/// operation that needs memory stops the process, as its line below says.
class GuardedString {
public:
    /// The null string: no block, reads as EMPTY_TEXT.
    GuardedString() = default;
    /// An empty string whose descriptor names `manager`, with a first block of 64 characters from it.
    /// Out of memory: the fatal stop.
    explicit GuardedString(IMemMgr& manager);
    /// From a text (null: an empty string with a block). Out of memory: the fatal stop.
    explicit GuardedString(const char16_t* text);
    /// A copy of `other`'s characters in a block of its own. Out of memory: the fatal stop.
    GuardedString(const GuardedString& other);
    /// Takes `source`'s block over when it is DefaultMemMgr's, else copies (TakeOver). Out of
    /// memory while copying: the fatal stop.
    GuardedString(GuardedString&& source) noexcept;
    /// A FixedPathString's block points into the object: it is never taken over.
    GuardedString(FixedPathString&&) = delete;
    GuardedString& operator=(const GuardedString&) = delete;
    GuardedString& operator=(GuardedString&&) = delete;
    ~GuardedString();

    /// `data`, or EMPTY_TEXT when there is no block.
    const char16_t* Text() const;
    /// 0 without a block (or without a descriptor).
    std::uint32_t Length() const;
    std::uint32_t Capacity() const;

    /// Makes room for at least `n` characters by the growth policy. Out of memory: false, the
    /// string unchanged. Reserve(0) gives a string without a block its first 64-character
    /// block and leaves a string with a block as it is (no block ever shrinks).
    bool Reserve(std::uint32_t n);
    /// Moves the text into a block of exactly `n` characters. Out of memory: false, unchanged.
    bool SetCapacity(std::uint32_t n);
    /// Returns only when the three guards are intact.
    void CheckIntegrity() const;
    /// Gives block and descriptor back (guards tested first) and becomes null.
    void FreeBuffer();
    /// As FreeBuffer, without the guard test (TakeOver drops its old block with it).
    void FreeBufferUnchecked();

    /// Null: keeps or makes a block and empties it. The own Text(): nothing. Else copies.
    /// Out of memory: the fatal stop.
    GuardedString& Assign(const char16_t* text);
    /// The copy core: `count` characters (TO_TERMINATOR: up to the terminator). Out of memory:
    /// false, the string unchanged (the one Assign that returns).
    bool Assign(const char16_t* text, std::uint32_t count);
    /// Copies exactly `other`'s Length() characters. Out of memory: the fatal stop.
    GuardedString& Assign(const GuardedString& other);
    /// Adopts `source`'s block when DefaultMemMgr owns it (the source becomes null), else copies.
    /// Out of memory while copying: the fatal stop.
    GuardedString& TakeOver(GuardedString& source);
    GuardedString& TakeOver(FixedPathString& source) = delete;
    /// Appends `count` characters of `text` (null or 0 characters: nothing, no block made).
    /// Out of memory: the fatal stop.
    void Append(const char16_t* text, std::uint32_t count = TO_TERMINATOR);
    /// Joins a path element: a backslash at the seam unless the string is empty or ends with a
    /// separator, the tail's leading separators dropped. Always true; out of memory: the fatal stop.
    bool AppendPath(const char16_t* tail);
    /// Replaces the text by the formatted text ("%s": UTF-16 text, "%d": signed 32-bit).
    /// Out of memory: the fatal stop.
    template <typename... Args>
    void Format(const char16_t* format, const Args&... args) {
        const FormatArg list[] = {FormatArg(args)..., FormatArg()};
        FormatList(format, list, sizeof...(Args));
    }
    void FormatList(const char16_t* format, const FormatArg* args, std::uint32_t argCount);

    /// Slot 0 of a block with room for at least `least` characters (TO_TERMINATOR: any block).
    /// Outside code may write up to Capacity() characters; it must then call CommitLength.
    /// Out of memory: the fatal stop.
    char16_t* WritableBuffer(std::uint32_t least = TO_TERMINATOR);
    /// Sets the length after the caller wrote characters and terminator. No guard test.
    void SetLength(std::uint32_t n);
    /// Sets the length after outside code wrote into the block: `n` (the terminator is written
    /// at n) or TO_TERMINATOR (counted to the first 0). Guards tested.
    void CommitLength(std::uint32_t n);
    /// CommitLength(TO_TERMINATOR).
    void Recount();
    /// Cuts the run of `ch` at the very end.
    void TrimTrailing(char16_t ch);

protected:
    StringDescriptor* Descriptor() const;

    char16_t* data = nullptr;

private:
    /// The general form of Append, which the inline one falls back to when the block needs room.
    void AppendGrowing(const char16_t* text, std::uint32_t count);
    /// Guards of the block that `d` describes.
    bool GuardsIntact(const StringDescriptor* d) const;

    /// SetCapacity's work once the descriptor is known: the block `d` describes (if `data` has
    /// it) moves into a block of exactly `n` characters from `d`'s manager.
    bool MoveToBlock(StringDescriptor* d, std::uint32_t n);
};

/// `text` followed by `s` (s's guards are not tested here). Out of memory: the fatal stop.
GuardedString Concat(const char16_t* text, const GuardedString& s);
/// `s` followed by `text`. Out of memory: the fatal stop.
GuardedString Concat(const GuardedString& s, const char16_t* text);

// Appending into a block that has room is the hot path of every path and message the system
// builds, so it is inline; it does all that the general form does: copy, terminator, length and
// the guard test.

inline StringDescriptor* GuardedString::Descriptor() const {
    if (data == nullptr) return nullptr;
    StringDescriptor* descriptor;
    std::memcpy(&descriptor, reinterpret_cast<const unsigned char*>(data) - block::CHARACTERS + block::DESCRIPTOR,
                sizeof descriptor);
    return descriptor;
}

inline bool GuardedString::GuardsIntact(const StringDescriptor* d) const {
    const auto* start = reinterpret_cast<const unsigned char*>(data) - block::CHARACTERS;
    std::uint32_t first;
    std::uint32_t second;
    std::uint32_t trailing;
    std::memcpy(&first, start + block::FIRST_GUARD, sizeof first);
    std::memcpy(&second, start + block::SECOND_GUARD, sizeof second);
    std::memcpy(&trailing, reinterpret_cast<const unsigned char*>(data + d->capacity + 1), sizeof trailing);
    // One branch for the three words: this runs after every append.
    return ((first ^ GUARD_WORD) | (second ^ GUARD_WORD) | (trailing ^ GUARD_WORD)) == 0;
}

inline void GuardedString::CheckIntegrity() const {
    const StringDescriptor* d = Descriptor();
    if (d != nullptr && !GuardsIntact(d)) platform::FatalStop(platform::FatalSite::GuardBroken);
}

inline void GuardedString::Append(const char16_t* text, std::uint32_t count) {
    StringDescriptor* d = Descriptor();
    if (text != nullptr && count != TO_TERMINATOR && d != nullptr && d->length <= d->capacity &&
        count <= d->capacity - d->length) {
        if (count == 0) return;
        // Typed stores, not memcpy: the compiler then knows they touch no descriptor field.
        char16_t* end = data + d->length;
        for (std::uint32_t i = 0; i < count; ++i) end[i] = text[i];
        end[count] = 0;
        d->length += count;
        if (!GuardsIntact(d)) platform::FatalStop(platform::FatalSite::GuardBroken);
        return;
    }
    AppendGrowing(text, count);
}

}  // namespace orvane
