#include "platform/foundation/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"

namespace platform {
namespace detail {

struct Item {
    std::shared_ptr<TimerState> timer;  // null for plain posts
    Task fn;
    int64_t interval = 0;  // > 0 for repeating timers
};

using Key = std::pair<int64_t, uint64_t>;  // (due time, order of posting)

struct TimerState {
    std::weak_ptr<RunLoopImpl> loop;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    Key key{};  // guarded by the loop's mutex
};

struct FdWatchState {
    std::weak_ptr<RunLoopImpl> loop;
    int fd = -1;
    short events = 0;
    bool cancelled = false;
    std::function<void(short)> callback;
};

struct RunLoopImpl {
    std::string name;
    mutable std::mutex mutex;
    std::map<Key, Item> items;
    uint64_t nextSeq = 0;
    bool running = false;  // an item is executing
    bool stopped = false;
    bool isMain = false;
    std::atomic<pid_t> owner{0};
    std::unique_ptr<RunLoopWaiter> waiter;
    std::vector<std::shared_ptr<FdWatchState>> watches;  // loop thread only
};

}  // namespace detail

namespace {
using detail::Item;
using detail::Key;
using detail::RunLoopImpl;

std::atomic<uint64_t> gGeneration{0};
std::atomic<uint64_t> gWorkerGeneration{0};

// An item or descriptor callback ran to its end on `impl`.
void noteFinished(RunLoopImpl& impl) {
    std::lock_guard lock(impl.mutex);
    impl.running = false;
    gGeneration.fetch_add(1);
    if (!impl.isMain) gWorkerGeneration.fetch_add(1);
}

// Shortest interval of a repeating item: a page or server may ask for any.
constexpr int64_t kMinimumIntervalNanos = 100'000;
constexpr int64_t kEndOfTime = std::numeric_limits<int64_t>::max();

// NaN runs at the next turn, as zero does; a delay beyond the clock's range waits until
// its end.
int64_t delayNanos(double seconds, const std::string& loop) {
    if (std::isnan(seconds)) {
        PLATFORM_LOG_WARN(
            "RunLoop {} was given a delay that is no number; it runs at the next turn", loop);
        return 0;
    }
    return seconds > 0 ? secondsToNanos(seconds) : 0;
}

int64_t intervalNanos(double seconds, const std::string& loop) {
    if (std::isnan(seconds))
        PLATFORM_LOG_WARN(
            "RunLoop {} was given an interval that is no number; it repeats every {} ns", loop,
            kMinimumIntervalNanos);
    return std::max(kMinimumIntervalNanos, secondsToNanos(seconds));
}

pid_t currentTid() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

struct Registry {
    std::mutex mutex;
    std::vector<std::weak_ptr<RunLoopImpl>> loops;
};
Registry& registry() {
    static auto* r = new Registry;
    return *r;
}

thread_local RunLoop* tCurrent = nullptr;

class EventFdWaiter final : public RunLoopWaiter {
  public:
    EventFdWaiter() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~EventFdWaiter() override {
        if (fd_ >= 0) ::close(fd_);
    }
    void wait(int64_t timeoutNanos, std::vector<pollfd>& fds) override {
        fds.push_back(pollfd{fd_, POLLIN, 0});
        // To the nanosecond: whole milliseconds would make a 10 us timer wait 1 ms.
        timespec timeout{};
        timespec* bounded = nullptr;
        if (timeoutNanos >= 0) {
            timeout.tv_sec = static_cast<time_t>(timeoutNanos / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(timeoutNanos % 1'000'000'000);
            bounded = &timeout;
        }
        int r;
        do {
            r = ::ppoll(fds.data(), fds.size(), bounded, nullptr);
        } while (r < 0 && errno == EINTR);
        if (fds.back().revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] auto n = ::read(fd_, &v, sizeof v);
        }
        fds.pop_back();
    }
    void wake() override {
        uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
    }

  private:
    int fd_;
};
}  // namespace

std::unique_ptr<RunLoopWaiter> makeEventFdWaiter() {
    return std::make_unique<EventFdWaiter>();
}

// TimerHandle ---------------------------------------------------------------------

TimerHandle::~TimerHandle() {
    cancel();
}

TimerHandle& TimerHandle::operator=(TimerHandle&& other) noexcept {
    if (this != &other) {
        cancel();
        state_ = std::move(other.state_);
    }
    return *this;
}

void TimerHandle::cancel() {
    if (!state_) return;
    if (state_->cancelled.exchange(true)) return;
    auto loop = state_->loop.lock();
    if (!loop) return;
    Item dropped;
    {
        std::lock_guard lock(loop->mutex);
        auto it = loop->items.find(state_->key);
        if (it != loop->items.end() && it->second.timer == state_) {
            // Destroy the function on the loop's thread when we are not on it.
            if (loop->owner.load() == currentTid() || loop->owner.load() == 0) {
                dropped = std::move(it->second);
                loop->items.erase(it);
            }
        }
    }
    gGeneration.fetch_add(1);
}

bool TimerHandle::isValid() const {
    return state_ && !state_->cancelled.load() && !state_->finished.load();
}

// FdWatch -------------------------------------------------------------------------

void FdWatch::setEvents(short events) {
    if (!state_ || state_->cancelled) return;
    state_->events = events;
    if (auto loop = state_->loop.lock(); loop && loop->waiter) loop->waiter->wake();
}

void FdWatch::cancel() {
    if (!state_) return;
    state_->cancelled = true;
    state_->callback = nullptr;
}

bool FdWatch::isValid() const {
    return state_ && !state_->cancelled;
}

// RunLoop -------------------------------------------------------------------------

RunLoop& RunLoop::main() {
    static RunLoop* loop = [] {
        auto* l = new RunLoop("main");
        l->impl_->isMain = true;
        l->impl_->owner = ::getpid();
        return l;
    }();
    return *loop;
}

RunLoop* RunLoop::current() {
    if (tCurrent) return tCurrent;
    if (currentTid() == ::getpid()) return &main();
    return nullptr;
}

RunLoop::RunLoop(std::string name) : impl_(std::make_shared<RunLoopImpl>()) {
    impl_->name = std::move(name);
    impl_->waiter = makeEventFdWaiter();
    std::lock_guard lock(registry().mutex);
    auto& loops = registry().loops;
    std::erase_if(loops, [](const auto& w) { return w.expired(); });
    loops.push_back(impl_);
}

RunLoop::~RunLoop() {
    std::map<Key, Item> leftovers;
    {
        std::lock_guard lock(impl_->mutex);
        leftovers.swap(impl_->items);
        impl_->stopped = true;
    }
    leftovers.clear();
    if (tCurrent == this) tCurrent = nullptr;
}

void RunLoop::bindToCurrentThread() {
    impl_->owner = currentTid();
    tCurrent = this;
}

void RunLoop::post(Task fn) {
    schedule(0, 0, std::move(fn)).detach();
}

TimerHandle RunLoop::postAfter(double seconds, Task fn) {
    return schedule(delayNanos(seconds, impl_->name), 0, std::move(fn));
}

void RunLoop::postAfterDetached(double seconds, Task fn) {
    postAfter(seconds, std::move(fn)).detach();
}

TimerHandle RunLoop::postRepeating(double intervalSeconds, Task fn) {
    const int64_t interval = intervalNanos(intervalSeconds, impl_->name);
    return schedule(interval, interval, std::move(fn));
}

TimerHandle RunLoop::schedule(int64_t delayNanos, int64_t intervalNanos, Task fn) {
    auto state = std::make_shared<detail::TimerState>();
    state->loop = impl_;
    {
        std::lock_guard lock(impl_->mutex);
        Key key{addNanosSaturating(Clock::monotonicNanos(), delayNanos), impl_->nextSeq++};
        state->key = key;
        impl_->items.emplace(key, Item{state, std::move(fn), intervalNanos});
    }
    gGeneration.fetch_add(1);
    impl_->waiter->wake();
    return TimerHandle(state);
}

FdWatch RunLoop::watchFd(int fd, short events, std::function<void(short)> callback) {
    auto state = std::make_shared<detail::FdWatchState>();
    state->loop = impl_;
    state->fd = fd;
    state->events = events;
    state->callback = std::move(callback);
    impl_->watches.push_back(state);
    impl_->waiter->wake();
    return FdWatch(state);
}

size_t RunLoop::runDue() {
    const int64_t now = Clock::monotonicNanos();
    uint64_t seqLimit;
    {
        std::lock_guard lock(impl_->mutex);
        seqLimit = impl_->nextSeq;
    }
    size_t count = 0;
    for (;;) {
        Item item;
        Key key;
        // Destroyed outside the lock: a function may own handles that cancel on this loop.
        std::vector<Item> stale;
        {
            std::lock_guard lock(impl_->mutex);
            auto it = impl_->items.begin();
            // Cancelled items from other threads are dropped here, on our thread.
            while (it != impl_->items.end() && it->second.timer && it->second.timer->cancelled) {
                stale.push_back(std::move(it->second));
                it = impl_->items.erase(it);
            }
            it = std::find_if(impl_->items.begin(), impl_->items.end(), [&](const auto& kv) {
                return kv.first.first > now || kv.first.second < seqLimit;
            });
            if (it == impl_->items.end() || it->first.first > now) break;
            key = it->first;
            item = std::move(it->second);
            impl_->items.erase(it);
            if (item.timer && item.timer->cancelled) continue;
            impl_->running = true;
        }
        struct Done {
            RunLoopImpl& impl;
            ~Done() { noteFinished(impl); }
        } done{*impl_};
        ++count;
        if (item.interval > 0 && key.first < kEndOfTime) {
            // Re-arm before running, so the task may cancel its own timer.
            Task fn = item.fn;
            {
                std::lock_guard lock(impl_->mutex);
                int64_t next = addNanosSaturating(key.first, item.interval);
                if (next <= now) {
                    next = addNanosSaturating(next,
                                              ((now - next) / item.interval + 1) * item.interval);
                }
                Key nextKey{next, impl_->nextSeq++};
                item.timer->key = nextKey;
                impl_->items.emplace(nextKey, Item{item.timer, std::move(item.fn), item.interval});
            }
            fn();
        } else {
            if (item.timer) item.timer->finished = true;
            item.fn();
        }
    }
    return count;
}

void RunLoop::runOnce(int64_t maxWaitNanos) {
    int64_t timeout = maxWaitNanos;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->stopped) return;
        if (!impl_->items.empty()) {
            // Items are ordered by due time: the first is the earliest.
            const int64_t due = impl_->items.begin()->first.first;
            int64_t now = Clock::monotonicNanos();
            if (due <= now) {
                timeout = 0;
            } else if (!Clock::isManual()) {
                // The manual clock only moves when someone moves it, and that wakes us.
                timeout = timeout < 0 ? due - now : std::min(timeout, due - now);
            }
        }
    }
    std::erase_if(impl_->watches, [](const auto& w) { return w->cancelled; });
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<detail::FdWatchState>> watched;
    for (auto& w : impl_->watches) {
        if (w->events == 0) continue;
        fds.push_back(pollfd{w->fd, w->events, 0});
        watched.push_back(w);
    }
    impl_->waiter->wait(timeout, fds);
    bool anyReady = false;
    for (size_t i = 0; i < watched.size(); ++i) anyReady |= fds[i].revents != 0;
    if (anyReady) {
        // Counted as running, so the test driver waits for what the callbacks post.
        {
            std::lock_guard lock(impl_->mutex);
            impl_->running = true;
        }
        struct Done {
            RunLoopImpl& impl;
            ~Done() { noteFinished(impl); }
        } done{*impl_};
        for (size_t i = 0; i < watched.size(); ++i) {
            if (fds[i].revents == 0 || watched[i]->cancelled) continue;
            auto callback = watched[i]->callback;
            if (callback) callback(fds[i].revents);
        }
    }
    runDue();
}

void RunLoop::run() {
    bindToCurrentThread();
    for (;;) {
        {
            std::lock_guard lock(impl_->mutex);
            if (impl_->stopped) break;
        }
        runOnce(-1);
    }
}

void RunLoop::stop() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopped = true;
    }
    impl_->waiter->wake();
}

void RunLoop::discardPendingForTesting() {
    std::map<Key, Item> dropped;
    {
        std::lock_guard lock(impl_->mutex);
        dropped.swap(impl_->items);
    }
    for (auto& [key, item] : dropped) {
        if (item.timer) item.timer->cancelled = true;
    }
    gGeneration.fetch_add(1);
}

void RunLoop::setWaiter(std::unique_ptr<RunLoopWaiter> waiter) {
    impl_->waiter = std::move(waiter);
    impl_->waiter->wake();
}

void RunLoop::wake() {
    impl_->waiter->wake();
}

const std::string& RunLoop::name() const {
    return impl_->name;
}

bool RunLoop::isCurrent() const {
    return current() == this;
}

bool RunLoop::isIdleAt(int64_t now) const {
    return implIsIdleAt(*impl_, now);
}

std::optional<int64_t> RunLoop::nextDueNanos() const {
    return implNextDue(*impl_);
}

bool RunLoop::implIsIdleAt(const RunLoopImpl& impl, int64_t now) {
    std::lock_guard lock(impl.mutex);
    if (impl.running) return false;
    if (impl.stopped) return true;
    for (const auto& [k, v] : impl.items) {
        if (k.first <= now && !(v.timer && v.timer->cancelled)) return false;
    }
    return true;
}

std::optional<int64_t> RunLoop::implNextDue(const RunLoopImpl& impl) {
    std::lock_guard lock(impl.mutex);
    if (impl.stopped) return std::nullopt;
    std::optional<int64_t> due;
    for (const auto& [k, v] : impl.items) {
        if (v.timer && v.timer->cancelled) continue;
        if (!due || k.first < *due) due = k.first;
    }
    return due;
}

bool RunLoop::implIsMain(const RunLoopImpl& impl) {
    return impl.isMain;
}

void RunLoop::wakeAll() {
    for (auto& loop : allLoops()) {
        if (loop->waiter) loop->waiter->wake();
    }
}

void RunLoop::wakeDueAt(int64_t now) {
    for (auto& loop : allLoops()) {
        if (!loop->waiter) continue;
        if (loop->isMain) {
            loop->waiter->wake();
        } else if (auto due = implNextDue(*loop); due && *due <= now) {
            loop->waiter->wake();
        }
    }
}

std::vector<std::shared_ptr<RunLoopImpl>> RunLoop::allLoops() {
    std::vector<std::shared_ptr<RunLoopImpl>> out;
    std::lock_guard lock(registry().mutex);
    for (auto& w : registry().loops) {
        if (auto l = w.lock()) out.push_back(std::move(l));
    }
    return out;
}

uint64_t RunLoop::activityGeneration() {
    return gGeneration.load();
}

uint64_t RunLoop::workerActivityGeneration() {
    return gWorkerGeneration.load();
}

}  // namespace platform
