#pragma once
// Base fixture: records every log line of the test and offers the manual-clock driver.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/foundation/Log.h"
#include "platform/foundation/TestDriver.h"

class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Flushes the log and answers whether some line contains `part`.
    bool logged(const std::string& part);
    size_t loggedCount(const std::string& part);
    // The level flag of the first line that reads exactly `text`; 0 when none does.
    int loggedLevel(const std::string& text);

    std::shared_ptr<platform::log::RecordingLogger> log_;
};
