// Counts every call of the global operator new in the bench binary, so that std::u16string's
// allocations can be told per operation.
#include "alloc_count.h"

#include <cstdlib>
#include <new>

namespace {
std::int64_t newCalls = 0;

void* Counted(std::size_t size) {
    ++newCalls;
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
}  // namespace

std::int64_t bench::NewCalls() { return newCalls; }

void* operator new(std::size_t size) { return Counted(size); }
void* operator new[](std::size_t size) { return Counted(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++newCalls;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    ++newCalls;
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
