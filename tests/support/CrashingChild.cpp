#include "tests/support/CrashingChild.h"

#include <sys/mman.h>

#include <cstdlib>

void dieOfSigbusAt(uintptr_t address) {
    const int fd = ::memfd_create("empty", 0);
    void* page = ::mmap(reinterpret_cast<void*>(address), 4096, PROT_READ,
                        MAP_SHARED | MAP_FIXED_NOREPLACE, fd, 0);
    if (page == reinterpret_cast<void*>(address)) (void)*static_cast<volatile char*>(page);
    std::_Exit(3);
}
