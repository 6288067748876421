#include "tests/support/TestApiConnectionHost.h"

std::string TestApiConnectionHost::defaultApiPath() {
    std::lock_guard lock(mutex_);
    return defaultApiPath_;
}

void TestApiConnectionHost::setDefaultApiPath(std::string path) {
    std::lock_guard lock(mutex_);
    defaultApiPath_ = std::move(path);
}
