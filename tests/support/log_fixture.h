// Tests that open the log themselves: a fresh machine and clock, and the log closed after each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "log/log_file.h"
#include "platform/sim/sim.h"

namespace orvane::testing {

class LogFixture : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        RefreshClockSource();
    }
    void TearDown() override { CloseLog(); }

    /// The bytes of the file the log was opened on.
    static std::string OnDisk() { return sim::ReadFile(orvane::LogPath().Text()); }
};

}  // namespace orvane::testing
