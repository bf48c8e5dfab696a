// Heap use per benchmark iteration: our strings on the simulation's two heaps, std::u16string
// through the bench binary's own global operator new.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "platform/sim/sim.h"

namespace bench {

/// Calls of the global operator new so far (every form).
std::int64_t NewCalls();

/// Blocks the strings asked for so far: runtime-heap allocations and resizes, descriptors and
/// other general-heap allocations.
inline std::int64_t StringHeapCalls() {
    const sim::HeapCounts counts = sim::Heap();
    return std::int64_t{counts.runtimeAllocs} + counts.runtimeReallocs + counts.generalAllocs;
}

/// Reports `calls` over the run as heap allocations per iteration.
inline void ReportAllocations(benchmark::State& state, std::int64_t calls) {
    state.counters["heap_allocs"] = benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kAvgIterations);
}

}  // namespace bench
