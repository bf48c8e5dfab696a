// The simulation's heaps: counted blocks and refused allocations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimHeapTest = SimFixture;
using SimHeapDeathTest = SimFixture;

TEST_F(SimHeapTest, HeapsCountAndRunOutOfMemoryFromTheNthAllocation) {
    void* a = RuntimeAlloc(16);
    sim::FailRuntimeAllocation(2);
    void* b = RuntimeAlloc(16);
    ASSERT_NE(b, nullptr);
    std::memset(b, 'x', 16);
    EXPECT_EQ(RuntimeRealloc(b, 64), nullptr) << "the second call from now fails";
    EXPECT_EQ(RuntimeAlloc(8), nullptr) << "and every later one";
    sim::FailRuntimeAllocation(0);
    void* c = RuntimeRealloc(b, 64);  // the failed realloc left the block as it was
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(c), 16), std::string(16, 'x'));
    RuntimeFree(a);
    RuntimeFree(c);
    sim::FailGeneralAllocation(1);
    EXPECT_EQ(GeneralAlloc(8), nullptr);
    sim::FailGeneralAllocation(0);
    void* g = GeneralAlloc(8);
    ASSERT_NE(g, nullptr);
    sim::HeapCounts counts = sim::Heap();
    EXPECT_EQ(counts.runtimeAllocs, 3);
    EXPECT_EQ(counts.runtimeReallocs, 2);
    EXPECT_EQ(counts.runtimeFrees, 2);
    EXPECT_EQ(counts.runtimeLive, 0);
    EXPECT_EQ(counts.generalAllocs, 2);
    EXPECT_EQ(counts.generalLive, 1);
    GeneralFree(g);
    EXPECT_EQ(sim::Heap().generalLive, 0);
}

TEST_F(SimHeapTest, BlocksFromBeforeAResetAreNotCountedAsLive) {
    void* old = RuntimeAlloc(8);
    sim::Reset();
    RuntimeFree(old);
    EXPECT_EQ(sim::Heap().runtimeLive, 0);
    EXPECT_EQ(sim::Heap().runtimeFrees, 1);
}

TEST_F(SimHeapDeathTest, FreeingABlockTheHeapDoesNotOwnStops) {
    EXPECT_DEATH(
        {
            void* block = RuntimeAlloc(8);
            GeneralFree(block);
        },
        "does not own");
}

}  // namespace
