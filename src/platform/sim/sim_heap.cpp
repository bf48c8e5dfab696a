// The two heaps over malloc/realloc/free, with counters and injected failures. Blocks outlive
// a Reset (process-wide strings are built before any test), so each block carries a small tag
// in front of it with its heap and the generation it was handed out in; only blocks of the
// current generation count as live. The tags keep the books in O(1), so benchmarks that run on
// this heap measure the strings, not the bookkeeping; they are also chained, so that a block
// left behind by a fatal stop stays reachable for leak checkers instead of counting as lost.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/process.h"
#include "platform/sim/sim.h"

namespace {

struct alignas(16) Tag {
    std::uint32_t mark;
    std::uint32_t generation;
    Tag* previous;
    Tag* next;
};
constexpr std::size_t TAG_SIZE = sizeof(Tag);
static_assert(TAG_SIZE % 16 == 0, "blocks stay aligned as malloc's");

struct Heap {
    std::uint32_t mark;  // written into every tag of this heap
    int live = 0;
    Tag* first = nullptr;

    void Link(Tag* tag) {
        tag->previous = nullptr;
        tag->next = first;
        if (first != nullptr) first->previous = tag;
        first = tag;
    }
    /// Points the neighbours at `tag`, after it was unlinked or moved by realloc.
    void Relink(Tag* tag) {
        (tag->previous != nullptr ? tag->previous->next : first) = tag;
        if (tag->next != nullptr) tag->next->previous = tag;
    }
    void Unlink(Tag* tag) {
        (tag->previous != nullptr ? tag->previous->next : first) = tag->next;
        if (tag->next != nullptr) tag->next->previous = tag->previous;
    }
};
constexpr std::uint32_t FREED = 0xDEADDEAD;

struct Heaps {
    std::uint32_t generation = 0;
    Heap runtime{0x52554E54};  // "RUNT"
    Heap general{0x47454E4C};  // "GENL"
    sim::HeapCounts counts;
    int runtimeFailIn = 0;  // 0: off, else the countdown to the failing call
    int generalFailIn = 0;
    sim::FreeWatcher runtimeFreeWatcher = nullptr;
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

Tag* TagOf(void* block) { return reinterpret_cast<Tag*>(static_cast<unsigned char*>(block) - TAG_SIZE); }
void* BlockOf(Tag* tag) { return reinterpret_cast<unsigned char*>(tag) + TAG_SIZE; }

// A block the heap never handed out (or already took back) is memory corruption; a real heap
// would crash some time later, the simulation stops at the fault.
Tag* Owned(Heap& heap, void* block, const char* what) {
    Tag* tag = TagOf(block);
    if (tag->mark != heap.mark) {
        std::fprintf(stderr, "sim: %s of a block this heap does not own\n", what);
        std::abort();
    }
    return tag;
}

// malloc(0) may give null on some C libraries; the heaps on Windows never do.
void* Allocate(Heap& heap, platform::DWORD size) {
    auto* tag = static_cast<Tag*>(std::malloc(TAG_SIZE + size));
    if (tag == nullptr) return nullptr;
    *tag = Tag{heap.mark, H().generation, nullptr, nullptr};
    heap.Link(tag);
    ++heap.live;
    return BlockOf(tag);
}

void Release(Heap& heap, void* block, const char* what) {
    if (block == nullptr) return;
    Tag* tag = Owned(heap, block, what);
    if (tag->generation == H().generation) --heap.live;
    heap.Unlink(tag);
    tag->mark = FREED;
    std::free(tag);
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
void WatchRuntimeFrees(FreeWatcher watcher) { H().runtimeFreeWatcher = watcher; }

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
    h.runtimeFreeWatcher = nullptr;
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
    Owned(h.runtime, block, "RuntimeRealloc");
    // The C runtime on Windows frees the block for size 0 and returns null.
    if (size == 0) {
        Release(h.runtime, block, "RuntimeRealloc");
        return nullptr;
    }
    // A failed realloc leaves the block and its tag as they were.
    auto* moved = static_cast<Tag*>(std::realloc(TagOf(block), TAG_SIZE + size));
    if (moved == nullptr) return nullptr;
    h.runtime.Relink(moved);
    return BlockOf(moved);
}

void RuntimeFree(void* block) {
    ++H().counts.runtimeFrees;
    if (H().runtimeFreeWatcher != nullptr && block != nullptr) H().runtimeFreeWatcher(block);
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
