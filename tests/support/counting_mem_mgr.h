// Memory managers for tests: count every call, optionally refuse Reallocate, and make the
// bytes a resize leaves undefined, and those of a block given back, visible (0x55) instead of
// whatever the heap had there.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>

#include "strings/mem_mgr.h"

namespace orvane::testing {

class CountingMemMgr final : public IMemMgr {
public:
    explicit CountingMemMgr(bool reallocateFails = false) : reallocateFails(reallocateFails) {}

    void* Allocate(std::uint32_t size) override {
        if (beforeBlock) beforeBlock();
        ++allocates;
        lastSize = size;
        return Fresh(size);
    }
    void* Reallocate(void* block, std::uint32_t size) override {
        if (beforeBlock) beforeBlock();
        ++reallocates;
        lastSize = size;
        if (reallocateFails) return nullptr;
        // Always moves, and fills what it adds with a pattern, as a heap may leave anything there.
        void* moved = Fresh(size);
        if (block != nullptr) {
            const std::uint32_t old = sizes[block];
            std::memcpy(moved, block, old < size ? old : size);
            Drop(block);
        }
        return moved;
    }
    void Free(void* block) override {
        ++frees;
        Drop(block);
    }
    void Release() override { ++releases; }

    int allocates = 0, reallocates = 0, frees = 0, releases = 0;
    std::uint32_t lastSize = 0;
    std::map<void*, std::uint32_t> sizes;  // live blocks
    /// Runs before each block is handed out: what the rest of the process may do meanwhile.
    std::function<void()> beforeBlock;

private:
    void* Fresh(std::uint32_t size) {
        void* block = std::malloc(size);
        std::memset(block, 0x55, size);
        sizes[block] = size;
        return block;
    }
    void Drop(void* block) {
        std::memset(block, 0x55, sizes[block]);
        sizes.erase(block);
        std::free(block);
    }
    bool reallocateFails;
};

}  // namespace orvane::testing
