#include "libmerovane/core/MVCommandTrace.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/SharedInstances.h"

namespace {

struct Trace {
    std::atomic<bool> active{false};
    std::mutex mutex;
    std::shared_ptr<const MVCommandTrace::Observer> observer;  // guarded by mutex
};

Trace& trace() {
    static Trace* shared = [] {
        auto* created = new Trace;
        platform::registerSharedInstanceReset("MVCommandTrace",
                                              [] { MVCommandTrace::setObserver(nullptr); });
        return created;
    }();
    return *shared;
}

}  // namespace

void MVCommandTrace::setObserver(Observer observer) {
    auto& t = trace();
    std::lock_guard lock(t.mutex);
    t.observer = observer ? std::make_shared<const Observer>(std::move(observer)) : nullptr;
    t.active = t.observer != nullptr;
}

void MVCommandTrace::record(Direction direction, std::string_view version, std::string_view name) {
    auto& t = trace();
    if (!t.active.load(std::memory_order_relaxed)) return;
    std::shared_ptr<const Observer> observer;
    {
        std::lock_guard lock(t.mutex);
        observer = t.observer;
    }
    if (!observer) return;
    try {
        (*observer)(direction, version, name);
    } catch (const std::exception& e) {
        MVLogError("MVCommandTrace observer failed: {}", e.what());
    } catch (...) {
        MVLogError("MVCommandTrace observer failed");
    }
}

const char* MVCommandTrace::directionName(Direction direction) {
    switch (direction) {
        case Direction::Sent:
            return "up";
        case Direction::FromServer:
            return "down";
        case Direction::FromPage:
            return "page";
    }
    return "?";
}
