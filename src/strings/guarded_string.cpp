#include "strings/guarded_string.h"

#include <cstring>

#include "platform/fatal_stop.h"
#include "platform/process.h"

namespace orvane {

using platform::FatalSite;
using platform::FatalStop;

const char16_t EMPTY_TEXT[1] = {0};

namespace {

// Blocks are raw memory from a manager, and with 8-byte pointers the descriptor field and the
// trailing guard are not naturally aligned, so every header field goes through memcpy.

unsigned char* BlockStart(char16_t* data) { return reinterpret_cast<unsigned char*>(data) - block::CHARACTERS; }

void WriteWord(unsigned char* at, std::uint32_t word) { std::memcpy(at, &word, sizeof word); }

unsigned char* TrailingGuard(unsigned char* start, std::uint32_t capacity) {
    return start + block::CHARACTERS + 2 * static_cast<std::size_t>(capacity) + 2;
}

bool IsSeparator(char16_t ch) { return ch == u'\\' || ch == u'/'; }

}  // namespace

// ---- storage -------------------------------------------------------------------------------

const char16_t* GuardedString::Text() const { return data != nullptr ? data : EMPTY_TEXT; }

std::uint32_t GuardedString::Length() const {
    const StringDescriptor* d = Descriptor();
    return d != nullptr ? d->length : 0;
}

std::uint32_t GuardedString::Capacity() const {
    const StringDescriptor* d = Descriptor();
    return d != nullptr ? d->capacity : 0;
}

bool GuardedString::Reserve(std::uint32_t n) {
    const StringDescriptor* d = Descriptor();
    const std::uint32_t c = d != nullptr ? d->capacity : 0;
    const std::uint32_t s = d != nullptr ? d->growthStep : DEFAULT_GROWTH_STEP;
    if (c >= n && c != 0) return true;
    std::uint32_t e = n - c;
    if (e < s) e = s;
    std::uint32_t next;
    if (c < 1024) {
        next = e < c ? 2 * c : c + e;
    } else {
        if (e < 1024) e = 1024;
        next = c + e;
    }
    // c + e cannot wrap: e is n - c, or a step far below the headroom that any block that
    // could be allocated leaves; a wrapped request would still be refused by SetCapacity.
    if (next < c) return false;
    return SetCapacity(next);
}

namespace {

StringDescriptor* NewDescriptor(IMemMgr& manager) {
    auto* d = static_cast<StringDescriptor*>(platform::GeneralAlloc(sizeof(StringDescriptor)));
    if (d == nullptr) FatalStop(FatalSite::DescriptorAllocationFailed);
    *d = StringDescriptor{&manager, 0, 0, DEFAULT_GROWTH_STEP, false, true};
    return d;
}

}  // namespace

GuardedString::GuardedString(IMemMgr& manager) {
    StringDescriptor* d = NewDescriptor(manager);
    if (!MoveToBlock(d, DEFAULT_GROWTH_STEP)) FatalStop(FatalSite::BlockAllocationFailed);
}

bool GuardedString::SetCapacity(std::uint32_t n) {
    StringDescriptor* d = Descriptor();
    if (d != nullptr) return MoveToBlock(d, n);
    // A block whose size cannot be told to the manager fails before a descriptor is made.
    if (block::Size(n) > 0xFFFFFFFFu) return false;
    d = NewDescriptor(DefaultMemMgr);
    if (MoveToBlock(d, n)) return true;
    platform::GeneralFree(d);
    return false;
}

bool GuardedString::MoveToBlock(StringDescriptor* d, std::uint32_t n) {
    // A block whose size does not fit the manager's 32-bit size is a failed allocation, never a
    // wrapped, too-small block.
    const std::uint64_t wideSize = block::Size(n);
    if (wideSize > 0xFFFFFFFFu) return false;
    const auto size = static_cast<std::uint32_t>(wideSize);

    unsigned char* oldManagerBlock = nullptr;
    unsigned char* oldInlineBlock = nullptr;
    const bool hasOldBlock = Descriptor() == d;
    const std::uint32_t oldCapacity = hasOldBlock ? d->capacity : 0;
    if (hasOldBlock && d->blockFromManager) {
        oldManagerBlock = BlockStart(data);
    } else if (hasOldBlock) {
        oldInlineBlock = BlockStart(data);
    }

    auto* fresh = static_cast<unsigned char*>(d->manager->Reallocate(oldManagerBlock, size));
    if (fresh == nullptr) {
        fresh = static_cast<unsigned char*>(d->manager->Allocate(size));
        if (fresh == nullptr) return false;
        if (oldManagerBlock != nullptr) {
            const std::uint64_t oldSize = block::Size(oldCapacity);
            std::memcpy(fresh, oldManagerBlock, oldSize < size ? static_cast<std::size_t>(oldSize) : size);
            d->manager->Free(oldManagerBlock);
        }
    }
    if (oldManagerBlock == nullptr) std::memset(fresh, 0, size);
    if (oldInlineBlock != nullptr) {
        const std::uint64_t oldSize = block::Size(oldCapacity);
        std::memcpy(fresh, oldInlineBlock, oldSize < size ? static_cast<std::size_t>(oldSize) : size);
    }

    WriteWord(fresh + block::FIRST_GUARD, GUARD_WORD);
    std::memcpy(fresh + block::DESCRIPTOR, &d, sizeof d);
    WriteWord(fresh + block::SECOND_GUARD, GUARD_WORD);
    WriteWord(TrailingGuard(fresh, n), GUARD_WORD);
    data = reinterpret_cast<char16_t*>(fresh + block::CHARACTERS);
    data[n] = 0;
    d->capacity = n;
    d->blockFromManager = true;
    if (d->length > n) d->length = n;
    return true;
}

void GuardedString::FreeBuffer() {
    CheckIntegrity();
    FreeBufferUnchecked();
}

void GuardedString::FreeBufferUnchecked() {
    StringDescriptor* d = Descriptor();
    if (d == nullptr) {
        data = nullptr;
        return;
    }
    if (d->blockFromManager) d->manager->Free(BlockStart(data));
    d->manager->Release();
    if (d->descriptorOnHeap) platform::GeneralFree(d);
    data = nullptr;
}

// ---- construction ---------------------------------------------------------------------------

GuardedString::GuardedString(const char16_t* text) {
    if (text == nullptr) {
        Assign(nullptr);
        return;
    }
    if (!Assign(text, TO_TERMINATOR)) FatalStop(FatalSite::BlockAllocationFailed);
    CheckIntegrity();
}

GuardedString::GuardedString(const GuardedString& other) { Assign(other); }

GuardedString::GuardedString(GuardedString&& source) noexcept { TakeOver(source); }

GuardedString::~GuardedString() { FreeBuffer(); }

// ---- operations ------------------------------------------------------------------------------

GuardedString& GuardedString::Assign(const char16_t* text) {
    if (text == nullptr) {
        if (!Reserve(0)) FatalStop(FatalSite::BlockAllocationFailed);
        Descriptor()->length = 0;
        data[0] = 0;
        CheckIntegrity();
        return *this;
    }
    if (text == Text()) return *this;
    if (!Assign(text, TO_TERMINATOR)) FatalStop(FatalSite::BlockAllocationFailed);
    CheckIntegrity();
    return *this;
}

bool GuardedString::Assign(const char16_t* text, std::uint32_t count) {
    if (count == TO_TERMINATOR) count = TextLength(text);
    if (!Reserve(count)) return false;
    // Checked before the copy, so that a broken descriptor never lets the copy run past the block.
    if (count > Capacity()) FatalStop(FatalSite::LengthBeyondCapacity);
    if (count != 0) std::memcpy(data, text, 2 * static_cast<std::size_t>(count));
    Descriptor()->length = count;
    data[count] = 0;
    return true;
}

GuardedString& GuardedString::Assign(const GuardedString& other) {
    if (&other == this) return *this;
    std::uint32_t n = 0;
    if (other.Descriptor() != nullptr) {
        other.CheckIntegrity();
        n = other.Length();
    }
    if (!Assign(other.Text(), n)) FatalStop(FatalSite::BlockAllocationFailed);
    CheckIntegrity();
    return *this;
}

GuardedString& GuardedString::TakeOver(GuardedString& source) {
    if (&source == this) return *this;
    const StringDescriptor* sd = source.Descriptor();
    // Only a block that DefaultMemMgr owns and whose descriptor lives on the heap can change
    // hands: a descriptor embedded in another object (a FixedPathString's) would dangle. Nor does
    // a FixedPathString adopt one: it keeps its own descriptor for life, so it copies.
    const StringDescriptor* own = Descriptor();
    const bool keepsOwnDescriptor = own != nullptr && !own->descriptorOnHeap;
    if (sd != nullptr && sd->manager == &DefaultMemMgr && sd->descriptorOnHeap && !keepsOwnDescriptor) {
        FreeBufferUnchecked();
        data = source.data;
        source.data = nullptr;
        return *this;
    }
    source.CheckIntegrity();
    if (!Assign(source.Text(), source.Length())) FatalStop(FatalSite::BlockAllocationFailed);
    CheckIntegrity();
    return *this;
}

void GuardedString::AppendGrowing(const char16_t* text, std::uint32_t count) {
    if (text == nullptr) return;
    if (count == TO_TERMINATOR) count = TextLength(text);
    if (count == 0) return;
    const std::uint32_t current = Length();
    if (count > 0xFFFFFFFEu - current) FatalStop(FatalSite::LengthOverflow);
    if (!Reserve(current + count)) FatalStop(FatalSite::BlockAllocationFailed);
    std::memcpy(data + current, text, 2 * static_cast<std::size_t>(count));
    data[current + count] = 0;
    SetLength(current + count);
    CheckIntegrity();
}

bool GuardedString::AppendPath(const char16_t* tail) {
    if (tail == nullptr || tail[0] == 0) return true;
    const std::uint32_t length = Length();
    if (length > 0) {
        const std::uint32_t last = length - 1;
        if (last > Capacity()) FatalStop(FatalSite::IndexBeyondCapacity);
        if (!IsSeparator(data[last])) {
            if (!Reserve(length + 1)) FatalStop(FatalSite::BlockAllocationFailed);
            data[length] = u'\\';
            SetLength(length + 1);
            data[length + 1] = 0;
            CheckIntegrity();
        }
    }
    while (IsSeparator(*tail)) ++tail;
    if (*tail == 0) return true;
    Append(tail, TO_TERMINATOR);
    return true;
}

void GuardedString::FormatList(const char16_t* format, const FormatArg* args, std::uint32_t argCount) {
    if (format == nullptr) {
        Assign(nullptr);
        return;
    }
    // An argument that points into this string's own block would be read after the block may
    // have moved; such a call formats into a separate string first.
    if (data != nullptr) {
        const char16_t* end = data + Capacity() + 1;
        for (std::uint32_t i = 0; i < argCount; ++i) {
            if (args[i].kind == FormatArg::Kind::Text && args[i].text >= data && args[i].text < end) {
                GuardedString separate;
                separate.FormatList(format, args, argCount);
                Assign(separate);
                return;
            }
        }
    }
    const std::int32_t count = FormatCount(format, args, argCount);
    if (count < 0) FatalStop(FatalSite::FormatMeasureFailed);
    const auto units = static_cast<std::uint32_t>(count);
    char16_t* buffer = WritableBuffer(units + 2);
    if (FormatInto(buffer, units + 1, format, args, argCount) != count) FatalStop(FatalSite::FormatPrintFailed);
    CommitLength(units);
    CheckIntegrity();
}

char16_t* GuardedString::WritableBuffer(std::uint32_t least) {
    if (least != TO_TERMINATOR && !Reserve(least)) FatalStop(FatalSite::BlockAllocationFailed);
    if (Descriptor() == nullptr && !Reserve(0)) FatalStop(FatalSite::BlockAllocationFailed);
    return data;
}

void GuardedString::SetLength(std::uint32_t n) {
    if (n > Capacity()) FatalStop(FatalSite::LengthBeyondCapacity);
    if (StringDescriptor* d = Descriptor()) d->length = n;
}

void GuardedString::CommitLength(std::uint32_t n) {
    StringDescriptor* d = Descriptor();
    if (n == TO_TERMINATOR) {
        if (d != nullptr) {
            // The scan stops at the terminator slot: outside code that overwrote it gets the
            // fatal stop here instead of a read past the block.
            std::uint32_t count = 0;
            while (count <= d->capacity && data[count] != 0) ++count;
            if (count > d->capacity) FatalStop(FatalSite::ScanPastBlock);
            d->length = count;
        }
    } else {
        if (n > Capacity()) FatalStop(FatalSite::LengthBeyondCapacity);
        if (d != nullptr) {
            d->length = n;
            data[n] = 0;
        }
    }
    CheckIntegrity();
}

void GuardedString::Recount() { CommitLength(TO_TERMINATOR); }

void GuardedString::TrimTrailing(char16_t ch) {
    const StringDescriptor* d = Descriptor();
    if (d == nullptr) return;
    bool inRun = false;
    std::uint32_t runStart = 0;
    std::uint32_t i = 0;
    for (; i <= d->capacity && data[i] != 0; ++i) {
        if (data[i] == ch) {
            if (!inRun) runStart = i;
            inRun = true;
        } else {
            inRun = false;
        }
    }
    if (i > d->capacity) FatalStop(FatalSite::ScanPastBlock);
    if (!inRun) {
        CheckIntegrity();
        return;
    }
    WritableBuffer();
    if (runStart > Capacity()) FatalStop(FatalSite::IndexBeyondCapacity);
    data[runStart] = 0;
    if (Descriptor()->length > runStart) Descriptor()->length = runStart;
    CheckIntegrity();
}

GuardedString Concat(const char16_t* text, const GuardedString& s) {
    GuardedString joined(text);
    joined.Append(s.Text(), s.Length());
    return joined;
}

GuardedString Concat(const GuardedString& s, const char16_t* text) {
    GuardedString joined(s);
    joined.Append(text);
    return joined;
}

}  // namespace orvane
