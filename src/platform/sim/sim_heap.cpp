// The two heaps over malloc/realloc/free, with counters and injected failures. Blocks outlive
// a Reset (process-wide strings are built before any test), so the books keep each block's
// generation and only blocks of the current one count as live.
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "platform/process.h"
#include "platform/sim/sim.h"

namespace {

struct Heap {
    std::unordered_map<void*, unsigned> blocks;  // block -> generation it was handed out in
    int live = 0;
};

struct Heaps {
    unsigned generation = 0;
    Heap runtime, general;
    sim::HeapCounts counts;
    int runtimeFailIn = 0;  // 0: off, else the countdown to the failing call
    int generalFailIn = 0;
};

// Never destroyed, for the same reason as the machine: frees may come during exit.
Heaps& H() {
    static Heaps* heaps = new Heaps;
    return *heaps;
}

// Out of memory stays out of memory: once the countdown reaches the failing call, that call
// and every later one fail, so a fallback allocation cannot rescue the failed one.
bool Due(int& countdown) {
    if (countdown == 0) return false;
    if (countdown == 1) return true;
    --countdown;
    return false;
}

void Take(Heap& heap, void* block) {
    heap.blocks[block] = H().generation;
    ++heap.live;
}

// A block the heap never handed out (or already took back) is memory corruption; a real heap
// would crash some time later, the simulation stops at the fault.
unsigned GenerationOf(Heap& heap, void* block, const char* what) {
    auto it = heap.blocks.find(block);
    if (it == heap.blocks.end()) {
        std::fprintf(stderr, "sim: %s of a block this heap does not own\n", what);
        std::abort();
    }
    return it->second;
}

void Give(Heap& heap, void* block, const char* what) {
    if (GenerationOf(heap, block, what) == H().generation) --heap.live;
    heap.blocks.erase(block);
}

// malloc(0) may give null on some C libraries; the heaps on Windows never do.
void* Allocate(Heap& heap, platform::DWORD size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) Take(heap, block);
    return block;
}

void Release(Heap& heap, void* block, const char* what) {
    if (block == nullptr) return;
    Give(heap, block, what);
    std::free(block);
}

void SyncLive() {
    H().counts.runtimeLive = H().runtime.live;
    H().counts.generalLive = H().general.live;
}

}  // namespace

namespace sim {

HeapCounts Heap() {
    SyncLive();
    return H().counts;
}

void FailRuntimeAllocation(int n) { H().runtimeFailIn = n < 0 ? 0 : n; }
void FailGeneralAllocation(int n) { H().generalFailIn = n < 0 ? 0 : n; }

namespace detail {
// Called by Reset: counters start again; blocks handed out before stop counting as live.
void ResetHeaps() {
    Heaps& h = H();
    ++h.generation;
    h.counts = HeapCounts{};
    h.runtime.live = 0;
    h.general.live = 0;
    h.runtimeFailIn = 0;
    h.generalFailIn = 0;
}
}  // namespace detail

}  // namespace sim

namespace platform {

void* RuntimeAlloc(DWORD size) {
    Heaps& h = H();
    ++h.counts.runtimeAllocs;
    return Due(h.runtimeFailIn) ? nullptr : Allocate(h.runtime, size);
}

void* RuntimeRealloc(void* block, DWORD size) {
    Heaps& h = H();
    ++h.counts.runtimeReallocs;
    if (Due(h.runtimeFailIn)) return nullptr;
    if (block == nullptr) return Allocate(h.runtime, size);
    const unsigned generation = GenerationOf(h.runtime, block, "RuntimeRealloc");
    // The C runtime on Windows frees the block for size 0 and returns null.
    if (size == 0) {
        Release(h.runtime, block, "RuntimeRealloc");
        return nullptr;
    }
    void* moved = std::realloc(block, size);
    if (moved == nullptr) return nullptr;
    h.runtime.blocks.erase(block);
    h.runtime.blocks[moved] = generation;
    return moved;
}

void RuntimeFree(void* block) {
    ++H().counts.runtimeFrees;
    Release(H().runtime, block, "RuntimeFree");
}

void* GeneralAlloc(DWORD size) {
    Heaps& h = H();
    ++h.counts.generalAllocs;
    return Due(h.generalFailIn) ? nullptr : Allocate(h.general, size);
}

void GeneralFree(void* block) {
    ++H().counts.generalFrees;
    Release(H().general, block, "GeneralFree");
}

}  // namespace platform
