#pragma once
// The device's system version as numbers, and its hardware model.
//
//   if (systemVersionEqualOrAbove(UISystemVersionMake(8, 0, 0))) { ... }

#include <array>
#include <cstdint>
#include <string>

// Major, minor and patch; 0 where the version text has fewer parts.
using SystemVersion = std::array<uint32_t, 3>;

// The device's version, in one process-wide buffer filled on the first call from the
// version text split at "." (each part's integer value, at most three parts).
const SystemVersion& systemVersionAsInts();

// Writes its arguments into one process-wide buffer and answers it: the result is valid
// until the next call, so callers use it at once.
const SystemVersion& UISystemVersionMake(uint32_t major, uint32_t minor, uint32_t patch);

// Major, then minor, then patch: the first part that differs decides; all equal is yes.
bool systemVersionEqualOrAbove(const SystemVersion& version);

// A named system value as text ("hw.machine": the hardware machine); empty when unknown.
std::string getSysInfoByName(const char* name);

// The hardware model: the machine text, or for the simulator's machines ("i386",
// "x86_64") "iPhoneS,1" when the main screen is narrower than 768 points, else
// "iPadS,1". (The category names this `platform`, which is our namespace's name.)
std::string devicePlatform();
bool platformIsSimulator();
