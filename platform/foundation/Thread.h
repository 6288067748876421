#pragma once
// A named thread that runs its own run loop until stopped.
//
//   platform::Thread upstream("Merovane Api Upstream");
//   upstream.runLoop().post([] { ... });
//
// The destructor stops the loop and joins. Thread-safe: any thread may post to
// runLoop(); stop() and join() may be called from any thread but the thread itself.

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace platform {

class RunLoop;

class Thread {
  public:
    explicit Thread(std::string name);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    RunLoop& runLoop() { return *loop_; }
    const std::string& name() const { return name_; }
    void stop();
    void join();

    // The name of the calling thread ("main" for the main thread).
    static std::string currentName();

  private:
    std::string name_;
    std::unique_ptr<RunLoop> loop_;
    std::thread thread_;
};

// True on the process's main thread, whose loop is RunLoop::main().
bool isMainThread();
// Runs fn on the main thread: inline when already there; otherwise posted, and with
// `wait` the caller blocks until it has run.
void performOnMainThread(std::function<void()> fn, bool wait);

}  // namespace platform
