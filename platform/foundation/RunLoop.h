#pragma once
// A run loop: one per thread that runs one, first in first out, with timers and
// file-descriptor watches.
//
//   platform::RunLoop::main().post([] { ... });                  // next turn
//   auto t = platform::RunLoop::current()->postAfter(0.3, fn);   // in 0.3 s
//   t.cancel();
//
// Items run in order of (due time, order of posting). Seconds become nanoseconds by
// truncation; a delay of zero or less, or NaN (with a warning), runs at a later turn,
// never inside the call; a delay beyond the clock's range waits until its end. Repeating
// items repeat at most every 0.1 ms, whatever interval they are given.
// Any thread may post to any run loop; only the loop's own thread runs it. A function
// posted to a loop is destroyed on that loop's thread (or when the loop is destroyed).
// Run-loop modes collapse to this one queue: nothing scrolls headless.
//
// Thread-safety: post, postAfter, postRepeating, cancel and wake are safe from any
// thread; run, runDue, runOnce and watchFd belong to the loop's own thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct pollfd;

namespace platform {

using Task = std::function<void()>;

namespace detail {
struct RunLoopImpl;
struct TimerState;
struct FdWatchState;
}  // namespace detail

// A scheduled item. Default-constructed handles are inert.
class TimerHandle {
  public:
    TimerHandle() = default;
    // The item never runs after this returns (unless it is running right now).
    void cancel();
    // Scheduled and neither cancelled nor (for one-shot items) run yet.
    bool isValid() const;

  private:
    friend class RunLoop;
    explicit TimerHandle(std::shared_ptr<detail::TimerState> s) : state_(std::move(s)) {}
    std::shared_ptr<detail::TimerState> state_;
};

// Blocks a run loop until it is woken, a watched descriptor is ready or a time-out
// passes. The default polls an eventfd; the real web engine supplies GLib's.
class RunLoopWaiter {
  public:
    virtual ~RunLoopWaiter() = default;
    // timeoutNanos < 0: no limit. Sets revents of `fds`.
    virtual void wait(int64_t timeoutNanos, std::vector<pollfd>& fds) = 0;
    virtual void wake() = 0;
};
std::unique_ptr<RunLoopWaiter> makeEventFdWaiter();

enum FdEvents : short { kFdReadable = 0x001, kFdWritable = 0x004 };

// A watch of a file descriptor on one run loop. The callback gets the poll revents.
class FdWatch {
  public:
    FdWatch() = default;
    void setEvents(short events);
    void cancel();
    bool isValid() const;

  private:
    friend class RunLoop;
    explicit FdWatch(std::shared_ptr<detail::FdWatchState> s) : state_(std::move(s)) {}
    std::shared_ptr<detail::FdWatchState> state_;
};

class RunLoop {
  public:
    // The main thread's loop (the process's first thread).
    static RunLoop& main();
    // This thread's loop, or null where the thread runs none.
    static RunLoop* current();

    explicit RunLoop(std::string name);
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    void post(Task fn);
    TimerHandle postAfter(double seconds, Task fn);
    // First run at now + interval, then every interval.
    TimerHandle postRepeating(double intervalSeconds, Task fn);
    FdWatch watchFd(int fd, short events, std::function<void(short revents)> callback);

    // Runs until stop(). Binds the loop to the calling thread.
    void run();
    void stop();
    // Runs the items that are due now and were posted before this turn began.
    // Returns how many ran.
    size_t runDue();
    // Waits at most maxWaitNanos for something to happen, then serves ready
    // descriptors and runs what is due.
    void runOnce(int64_t maxWaitNanos);

    void setWaiter(std::unique_ptr<RunLoopWaiter> waiter);
    void wake();

    const std::string& name() const;
    bool isCurrent() const;

    // For the test driver: nothing due at `now` and nothing running.
    bool isIdleAt(int64_t now) const;
    std::optional<int64_t> nextDueNanos() const;

    // Every live loop, for the clock and the test driver.
    static void wakeAll();
    // Wakes the main loop and the loops with something due at `now`: a step of the
    // manual clock leaves idle loops asleep.
    static void wakeDueAt(int64_t now);
    static std::vector<std::shared_ptr<detail::RunLoopImpl>> allLoops();
    static bool implIsIdleAt(const detail::RunLoopImpl& impl, int64_t now);
    static std::optional<int64_t> implNextDue(const detail::RunLoopImpl& impl);
    static bool implIsMain(const detail::RunLoopImpl& impl);
    // Bumped on every post and every finished item; lets the driver see quiescence.
    static uint64_t activityGeneration();
    // Bumped only when an item or a descriptor callback finishes on a loop other than main.
    static uint64_t workerActivityGeneration();

    // Drops every pending item (on the calling thread); for the test listener between
    // tests, so that one test's closures do not keep its objects alive into the next.
    void discardPendingForTesting();

    // Binds a loop to the calling thread (Thread does this for its loop).
    void bindToCurrentThread();

  private:
    TimerHandle schedule(int64_t delayNanos, int64_t intervalNanos, Task fn);
    std::shared_ptr<detail::RunLoopImpl> impl_;
};

}  // namespace platform
