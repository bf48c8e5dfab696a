#include "strings/fixed_path_string.h"

#include <cstddef>
#include <cstring>

#include "platform/fatal_stop.h"
#include "platform/process.h"

namespace orvane {

FixedPathString::FixedPathString() {
    InlineSetUp();
    Assign(nullptr);
}

FixedPathString::FixedPathString(const char16_t* text) {
    InlineSetUp();
    if (text == nullptr) {
        Assign(nullptr);
        return;
    }
    if (!Assign(text, TO_TERMINATOR)) platform::FatalStop(platform::FatalSite::BlockAllocationFailed);
    CheckIntegrity();
}

// A copy is a new inline string filled by Assign: the base is deliberately not copied, since its
// block pointer would point into the other object.
// NOLINTNEXTLINE(bugprone-copy-constructor-init,readability-redundant-member-init)
FixedPathString::FixedPathString(const FixedPathString& other) : GuardedString() {
    InlineSetUp();
    Assign(other);
}

FixedPathString::FixedPathString(const GuardedString& other) {
    InlineSetUp();
    Assign(other);
}

FixedPathString::~FixedPathString() { FreeBuffer(); }

bool FixedPathString::IsInline() const { return data == inlineBlock.slots; }

void FixedPathString::InlineSetUp() {
    static_assert(offsetof(PackedBlock, descriptor) == block::DESCRIPTOR);
    static_assert(offsetof(PackedBlock, secondGuard) == block::SECOND_GUARD);
    static_assert(offsetof(PackedBlock, slots) == block::CHARACTERS);
    static_assert(offsetof(PackedBlock, trailingGuard) == block::Size(INLINE_CAPACITY) - 4);
    static_assert(sizeof(PackedBlock) == block::Size(INLINE_CAPACITY));
    static_assert(sizeof(void*) != 4 || sizeof(PackedBlock) == 538, "the 32-bit inline block is 538 bytes");

    inlineDescriptor = StringDescriptor{&DefaultMemMgr, 0, INLINE_CAPACITY, INLINE_CAPACITY, false, false};
    std::memset(&inlineBlock, 0, sizeof inlineBlock);
    inlineBlock.firstGuard = GUARD_WORD;
    StringDescriptor* descriptor = &inlineDescriptor;
    std::memcpy(reinterpret_cast<unsigned char*>(&inlineBlock) + block::DESCRIPTOR, &descriptor, sizeof descriptor);
    inlineBlock.secondGuard = GUARD_WORD;
    inlineBlock.trailingGuard = GUARD_WORD;
    data = inlineBlock.slots;
}

}  // namespace orvane
