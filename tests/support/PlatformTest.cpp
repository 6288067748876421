#include "tests/support/PlatformTest.h"

void PlatformTest::SetUp() {
    log_ = std::make_shared<platform::log::RecordingLogger>();
    platform::log::addLogger(log_);
}

void PlatformTest::TearDown() {
    platform::log::flush();
    platform::log::removeLogger(log_);
}

bool PlatformTest::logged(const std::string& part) {
    platform::log::flush();
    return log_->contains(part);
}

size_t PlatformTest::loggedCount(const std::string& part) {
    platform::log::flush();
    return log_->count(part);
}

int PlatformTest::loggedLevel(const std::string& text) {
    platform::log::flush();
    for (const auto& message : log_->messages())
        if (message.text == text) return message.flag;
    return 0;
}
