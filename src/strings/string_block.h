// The storage format shared by GuardedString and FixedPathString: a descriptor and a block of
// characters framed by three guard words.
#pragma once

#include <cstddef>
#include <cstdint>

#include "strings/mem_mgr.h"

namespace orvane {

inline constexpr std::uint32_t GUARD_WORD = 0xABCD;
inline constexpr std::uint32_t DEFAULT_GROWTH_STEP = 64;
inline constexpr std::uint32_t INLINE_CAPACITY = 260;
/// A character count meaning "up to the text's terminator" (all bits set, the count -1).
inline constexpr std::uint32_t TO_TERMINATOR = 0xFFFFFFFF;

/// Length, capacity and ownership of one string's block. Outlives every resize of the block.
struct StringDescriptor {
    IMemMgr* manager;
    std::uint32_t length;
    std::uint32_t capacity;
    std::uint32_t growthStep;
    bool blockFromManager;  ///< the block came from `manager`: it may be resized and is freed
    bool descriptorOnHeap;  ///< the string allocated this descriptor and deletes it
};

/// Byte offsets of a block. With 4-byte pointers this is the product's layout byte for byte;
/// wider pointers widen only the descriptor field, the guards staying right around it.
namespace block {
inline constexpr std::size_t FIRST_GUARD = 0;
inline constexpr std::size_t DESCRIPTOR = 4;
inline constexpr std::size_t SECOND_GUARD = DESCRIPTOR + sizeof(void*);
inline constexpr std::size_t CHARACTERS = SECOND_GUARD + 4;
/// Header, `capacity` slots, the terminator slot and the trailing guard.
inline constexpr std::uint64_t Size(std::uint64_t capacity) { return CHARACTERS + 2 * capacity + 2 + 4; }
static_assert(sizeof(void*) != 4 || (SECOND_GUARD == 8 && CHARACTERS == 12 && Size(0) == 18),
              "the 32-bit block is 2 x capacity + 18 bytes with the characters at byte 12");
static_assert(sizeof(void*) != 8 || (SECOND_GUARD == 12 && CHARACTERS == 16 && Size(0) == 22),
              "the 64-bit block widens only the descriptor field");
}  // namespace block

}  // namespace orvane
