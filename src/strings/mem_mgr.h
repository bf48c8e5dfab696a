// The memory-manager interface of the string type and its heap-backed default.
#pragma once

#include <cstdint>

namespace orvane {

/// Provides and takes back string blocks. Strings never delete a manager, so there is no
/// virtual destructor; the slot order is part of the contract.
class IMemMgr {
public:
    /// A new block of at least `size` bytes, aligned for a pointer, contents undefined; null when
    /// out of memory.
    virtual void* Allocate(std::uint32_t size) = 0;
    /// Resizes `block` (null: as Allocate) keeping min(old, new) bytes. Null when it did not
    /// resize; the given block is then untouched and still valid.
    virtual void* Reallocate(void* block, std::uint32_t size) = 0;
    /// Takes back a block that this manager provided.
    virtual void Free(void* block) = 0;
    /// Told once each time a string gives up its descriptor, after its block (if ours) was freed.
    virtual void Release() = 0;

protected:
    constexpr IMemMgr() = default;
    ~IMemMgr() = default;
};

/// The C runtime heap: malloc, realloc, free; Release does nothing.
class StringMemMgr final : public IMemMgr {
public:
    constexpr StringMemMgr() = default;
    void* Allocate(std::uint32_t size) override;
    void* Reallocate(void* block, std::uint32_t size) override;
    void Free(void* block) override;
    void Release() override;
};

/// The one manager every string of the system uses. Constant-initialised, so it is usable
/// before any dynamic initialisation runs, and never destroyed.
extern StringMemMgr DefaultMemMgr;

}  // namespace orvane
