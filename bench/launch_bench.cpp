// One whole launch on the simulated machine: how many heap allocations it makes (the target is
// few and fixed), and its time, which is mostly the simulation's file system.
#include <benchmark/benchmark.h>

#include "alloc_count.h"
#include "launcher/launch_sequence.h"
#include "testkit/typical_machine.h"

namespace {

void TypicalMachine() { orvane::testing::TypicalMachine(); }

/// The launcher beside both patch files, with a legacy tool: the version is read too.
void VersionReadingMachine() {
    orvane::testing::TypicalMachine();
    sim::MakeFile(u"D:\\deploy\\patch.rkv.old", "old");
    sim::SetFileVersion(orvane::testing::TOOL_PATH, 0x00060000, 0x00010000);
}

template <void (*Arrange)()>
void WholeLaunch(benchmark::State& state) {
    std::int64_t runtime = 0;
    std::int64_t general = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Arrange();  // a new machine also starts the heap counters from zero
        state.ResumeTiming();
        benchmark::DoNotOptimize(orvane::RunLaunchSequence());
        state.PauseTiming();
        const sim::HeapCounts counts = sim::Heap();
        runtime += counts.runtimeAllocs + counts.runtimeReallocs;
        general += counts.generalAllocs;
        state.ResumeTiming();
    }
    using benchmark::Counter;
    state.counters["runtime_heap_allocs"] = Counter(static_cast<double>(runtime), Counter::kAvgIterations);
    state.counters["general_heap_allocs"] = Counter(static_cast<double>(general), Counter::kAvgIterations);
    bench::ReportAllocations(state, runtime + general);
}

BENCHMARK_TEMPLATE(WholeLaunch, TypicalMachine)->Name("Launch/typical")->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(WholeLaunch, VersionReadingMachine)
    ->Name("Launch/version read")
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
