#pragma once
// Ways for a child process (ChildProcess.h) to die that the crash capture records.

#include <cstdint>

// Reads a file's page mapped at `address`, past the file's end: SIGBUS with that
// address. Exits with 3 when the page cannot be mapped there.
[[noreturn]] void dieOfSigbusAt(uintptr_t address);
