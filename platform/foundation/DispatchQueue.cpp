#include "platform/foundation/DispatchQueue.h"

#include <atomic>
#include <future>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Thread.h"

namespace platform {

struct DispatchQueue::Workers {
    std::vector<std::unique_ptr<Thread>> threads;
    std::atomic<size_t> next{0};
};

DispatchQueue::DispatchQueue(Kind kind, std::string label, int width)
    : kind_(kind), label_(std::move(label)), workers_(std::make_unique<Workers>()) {
    if (kind_ == Kind::Main) return;
    int n = kind_ == Kind::Serial ? 1 : std::max(1, width);
    for (int i = 0; i < n; ++i) {
        std::string name = n == 1 ? label_ : label_ + " " + std::to_string(i + 1);
        workers_->threads.push_back(std::make_unique<Thread>(name));
    }
}

DispatchQueue::~DispatchQueue() = default;

DispatchQueue& DispatchQueue::main() {
    static auto* q = new DispatchQueue(Kind::Main, "main", 0);
    return *q;
}

DispatchQueue& DispatchQueue::global() {
    static auto* q = new DispatchQueue(Kind::Concurrent, "global", 4);
    return *q;
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeSerial(std::string label) {
    return std::make_shared<DispatchQueue>(Kind::Serial, std::move(label), 1);
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeConcurrent(std::string label, int width) {
    return std::make_shared<DispatchQueue>(Kind::Concurrent, std::move(label), width);
}

RunLoop& DispatchQueue::pick() {
    if (kind_ == Kind::Main) return RunLoop::main();
    auto& threads = workers_->threads;
    if (threads.size() == 1) return threads[0]->runLoop();
    // Prefer an idle worker, so that one long task does not hold up the others.
    const int64_t now = Clock::monotonicNanos();
    size_t start = workers_->next.fetch_add(1);
    for (size_t i = 0; i < threads.size(); ++i) {
        auto& loop = threads[(start + i) % threads.size()]->runLoop();
        if (loop.isIdleAt(now)) return loop;
    }
    return threads[start % threads.size()]->runLoop();
}

void DispatchQueue::async(Task fn) {
    pick().post(std::move(fn));
}

TimerHandle DispatchQueue::after(double seconds, Task fn) {
    return pick().postAfter(seconds, std::move(fn));
}

void DispatchQueue::sync(Task fn) {
    RunLoop& loop = pick();
    if (loop.isCurrent()) {
        fn();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    loop.post([&] {
        fn();
        done.set_value();
    });
    finished.wait();
}

}  // namespace platform
