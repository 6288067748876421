#pragma once
// Shared instances are created on first use and never destroyed. Each registers a
// reset here, which the test listener calls between tests so that every test case
// (and every fuzzer or benchmark iteration that asks) starts fresh.

#include <functional>
#include <string>

namespace platform {

void registerSharedInstanceReset(std::string name, std::function<void()> reset);
// Runs every registered reset, latest registration first.
void resetSharedInstancesForTesting();

}  // namespace platform
