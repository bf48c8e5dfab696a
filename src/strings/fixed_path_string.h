// FixedPathString: a GuardedString whose first block (260 characters) and descriptor live
// inside the object, so paths of MAX_PATH characters never touch the heap.
#pragma once

#include <cstdint>

#include "strings/guarded_string.h"

namespace orvane {

class FixedPathString : public GuardedString {
public:
    /// Empty, inline, nothing allocated.
    FixedPathString();
    /// From a text (null: empty, nothing allocated).
    explicit FixedPathString(const char16_t* text);
    /// A new inline string filled by Assign(other); never a byte copy.
    FixedPathString(const FixedPathString& other);
    explicit FixedPathString(const GuardedString& other);
    FixedPathString& operator=(const FixedPathString&) = delete;
    ~FixedPathString();

    /// True while the text lives in the inline block.
    bool IsInline() const;

private:
    void InlineSetUp();

    StringDescriptor inlineDescriptor;
    // Packed to 2 bytes: the characters follow the second guard and the trailing guard follows
    // the terminator slot with no padding, exactly as in a heap block.
#pragma pack(push, 2)
    struct PackedBlock {
        std::uint32_t firstGuard;
        StringDescriptor* descriptor;
        std::uint32_t secondGuard;
        char16_t slots[INLINE_CAPACITY + 1];
        std::uint32_t trailingGuard;
    };
#pragma pack(pop)
    PackedBlock inlineBlock;
};

}  // namespace orvane
