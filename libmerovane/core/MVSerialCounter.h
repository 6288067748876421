#pragma once
// A process-wide counter of serial numbers, whose first value is `first`:
//
//   static auto* serials = new MVSerialCounter("MVInterjection serials", 1000);
//   const int64_t serial = serials->next();
//
// It starts again at `first` in the test-only reset of shared instances. Thread-safe.

#include <cstdint>
#include <mutex>

class MVSerialCounter {
  public:
    MVSerialCounter(const char* name, int64_t first);
    MVSerialCounter(const MVSerialCounter&) = delete;
    MVSerialCounter& operator=(const MVSerialCounter&) = delete;

    int64_t next();
    void reset();

  private:
    const int64_t first_;
    std::mutex mutex_;
    int64_t next_;  // guarded by mutex_
};
