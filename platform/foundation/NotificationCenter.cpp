#include "platform/foundation/NotificationCenter.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {
struct Observer {
    NotificationCenter::Token token;
    std::string name;
    const void* sender;
    NotificationCenter::Handler handler;
    std::atomic<bool> alive{true};
};
}  // namespace

struct NotificationCenter::State {
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<Observer>> observers;
    Token nextToken = 1;
};

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = [] {
        auto* c = new NotificationCenter;
        registerSharedInstanceReset("NotificationCenter", [c] { c->resetForTesting(); });
        return c;
    }();
    return *center;
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::Token NotificationCenter::addObserver(std::string name, const void* sender,
                                                          Handler handler) {
    std::lock_guard lock(state_->mutex);
    auto o = std::make_shared<Observer>();
    o->token = state_->nextToken++;
    o->name = std::move(name);
    o->sender = sender;
    o->handler = std::move(handler);
    state_->observers.push_back(o);
    return o->token;
}

void NotificationCenter::removeObserver(Token token) {
    std::shared_ptr<Observer> removed;
    std::lock_guard lock(state_->mutex);
    auto& v = state_->observers;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if ((*it)->token == token) {
            (*it)->alive = false;
            removed = *it;
            v.erase(it);
            break;
        }
    }
}

void NotificationCenter::post(const Notification& n) {
    std::vector<std::shared_ptr<Observer>> targets;
    {
        std::lock_guard lock(state_->mutex);
        for (auto& o : state_->observers) {
            if (!o->name.empty() && o->name != n.name) continue;
            if (o->sender && o->sender != n.sender) continue;
            targets.push_back(o);
        }
    }
    for (auto& o : targets) {
        if (o->alive) o->handler(n);
    }
}

void NotificationCenter::post(std::string name, const void* sender, std::any object) {
    Notification n;
    n.name = std::move(name);
    n.sender = sender;
    n.object = std::move(object);
    post(n);
}

size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->observers.size();
}

void NotificationCenter::resetForTesting() {
    std::lock_guard lock(state_->mutex);
    for (auto& o : state_->observers) o->alive = false;
    state_->observers.clear();
}

}  // namespace platform
