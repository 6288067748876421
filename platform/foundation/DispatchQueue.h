#pragma once
// Dispatch queues: the main queue, serial queues (one thread each) and concurrent
// queues (a few threads), each backed by run loops so that `after` runs on the
// platform clock and the test driver sees their work.
//
//   platform::DispatchQueue::global().async([] { ... });
//   platform::DispatchQueue::main().after(0.15, [] { ... }).detach();
//
// Thread-safe.

#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/RunLoop.h"

namespace platform {

class DispatchQueue {
  public:
    enum class Kind { Main, Serial, Concurrent };

    static DispatchQueue& main();
    // The process-wide concurrent queue (priorities collapse to one).
    static DispatchQueue& global();

    static std::shared_ptr<DispatchQueue> makeSerial(std::string label);
    static std::shared_ptr<DispatchQueue> makeConcurrent(std::string label, int width = 4);

    ~DispatchQueue();

    void async(Task fn);
    TimerHandle after(double seconds, Task fn);
    // Runs fn on the queue and waits for it (inline for the main queue on the main thread).
    void sync(Task fn);

    Kind kind() const { return kind_; }
    const std::string& label() const { return label_; }

    DispatchQueue(Kind kind, std::string label, int width);

  private:
    RunLoop& pick();
    struct Workers;
    Kind kind_;
    std::string label_;
    std::unique_ptr<Workers> workers_;
};

}  // namespace platform
