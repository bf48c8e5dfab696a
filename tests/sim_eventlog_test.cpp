// The simulation's event log: events recorded for their source.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimEventLogTest = SimFixture;

TEST_F(SimEventLogTest, EventsAreRecordedForTheirSourceUntilItIsDeregistered) {
    HANDLE source = RegisterEventSourceW(u"Orvane.Launcher");
    ASSERT_NE(source, nullptr);
    HANDLE other = RegisterEventSourceW(u"Other");
    EXPECT_TRUE(ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 1000, u"exit code 0"));
    EXPECT_TRUE(ReportEventW(other, EVENTLOG_ERROR_TYPE, 7, u""));
    EXPECT_EQ(sim::OpenEventSources(), 2);
    EXPECT_TRUE(DeregisterEventSource(source));
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 1001, u"late"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeregisterEventSource(source));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    ASSERT_EQ(sim::Events().size(), 2u);
    const sim::Event& first = sim::Events()[0];
    EXPECT_EQ(first.source, u"Orvane.Launcher");
    EXPECT_EQ(first.type, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(first.eventId, 1000u);
    EXPECT_EQ(first.text, u"exit code 0");
    EXPECT_EQ(sim::Events()[1].source, u"Other");
    EXPECT_EQ(sim::Events()[1].type, EVENTLOG_ERROR_TYPE);
    EXPECT_TRUE(DeregisterEventSource(other));
    EXPECT_EQ(sim::OpenEventSources(), 0);
}

}  // namespace
