// The simulation's event log: events recorded for their source while it is registered.
#include <gtest/gtest.h>

#include "support/sim_fixture.h"

namespace {

using namespace platform;

using SimEventLogTest = orvane::testing::SimFixture;

TEST_F(SimEventLogTest, ASourceReportsUntilItIsDeregistered) {
    HANDLE source = RegisterEventSourceW(u"Orvane.Launcher");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(sim::OpenEventSources(), 1);
    EXPECT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 7, u"text"));
    EXPECT_TRUE(DeregisterEventSource(source));
    EXPECT_EQ(sim::OpenEventSources(), 0);
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 8, u"late"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeregisterEventSource(source));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    ASSERT_EQ(sim::Events().size(), 1u);
    EXPECT_EQ(sim::Events()[0].eventId, 7u);
}

}  // namespace
