#include "platform/device/Reachability.h"

#include <gio/gio.h>

#include <atomic>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

struct Reachability::State {
    std::atomic<int> status{static_cast<int>(Status::Unknown)};
    // Main thread only.
    bool monitoring = false;
    bool systemAllowed = !Clock::isManual();
    std::map<Token, Handler> handlers;
    Token nextToken = 1;

    // Main thread: a report from the system or a test.
    void report(Status s) {
        status = static_cast<int>(s);
        if (!monitoring) return;
        auto snapshot = handlers;
        for (auto& [token, handler] : snapshot) {
            if (handlers.count(token) && handler) handler(s);
        }
        Notification n;
        n.name = kReachabilityDidChangeNotification;
        n.userInfo = std::make_shared<const nlohmann::json>(
            nlohmann::json{{kReachabilityNotificationStatusItem, static_cast<int>(s)}});
        NotificationCenter::defaultCenter().post(n);
    }
};

namespace {

// GLib's monitor, watched on its own thread with its own main context for the life of
// the process (the monitor stays bound to the context it was first asked from).
class SystemMonitor {
  public:
    static SystemMonitor& shared() {
        static auto* monitor = new SystemMonitor;
        return *monitor;
    }

    // Reports the current status now and every change afterwards.
    void start(std::weak_ptr<Reachability::State> state) {
        {
            std::lock_guard lock(mutex_);
            state_ = std::move(state);
        }
        std::call_once(started_, [this] {
            context_ = g_main_context_new();
            std::thread([this] { run(); }).detach();
        });
        g_main_context_invoke(context_, &SystemMonitor::reportNow, this);
    }

  private:
    void run() {
        g_main_context_push_thread_default(context_);
        monitor_ = g_network_monitor_get_default();
        g_signal_connect(monitor_, "network-changed", G_CALLBACK(&SystemMonitor::onChanged), this);
        g_signal_connect(monitor_, "notify::network-metered", G_CALLBACK(&SystemMonitor::onNotify),
                         this);
        g_signal_connect(monitor_, "notify::connectivity", G_CALLBACK(&SystemMonitor::onNotify),
                         this);
        GMainLoop* loop = g_main_loop_new(context_, FALSE);
        g_main_loop_run(loop);
    }

    Reachability::Status current() const {
        if (!monitor_ || !g_network_monitor_get_network_available(monitor_))
            return Reachability::Status::NotReachable;
        if (g_network_monitor_get_connectivity(monitor_) == G_NETWORK_CONNECTIVITY_LOCAL)
            return Reachability::Status::NotReachable;
        return g_network_monitor_get_network_metered(monitor_)
                   ? Reachability::Status::ReachableViaWWAN
                   : Reachability::Status::ReachableViaWiFi;
    }

    void post(Reachability::Status s, bool onlyOnChange) {
        if (onlyOnChange && lastReported_ == s) return;
        lastReported_ = s;
        std::weak_ptr<Reachability::State> state;
        {
            std::lock_guard lock(mutex_);
            state = state_;
        }
        RunLoop::main().post([state, s] {
            auto st = state.lock();
            if (st && st->systemAllowed) st->report(s);
        });
    }

    static gboolean reportNow(gpointer self) {
        auto* m = static_cast<SystemMonitor*>(self);
        m->post(m->current(), false);
        return G_SOURCE_REMOVE;
    }
    static void onChanged(GNetworkMonitor*, gboolean, gpointer self) {
        auto* m = static_cast<SystemMonitor*>(self);
        m->post(m->current(), true);
    }
    static void onNotify(GObject*, GParamSpec*, gpointer self) { onChanged(nullptr, FALSE, self); }

    std::once_flag started_;
    GMainContext* context_ = nullptr;
    GNetworkMonitor* monitor_ = nullptr;                // monitor thread only
    std::optional<Reachability::Status> lastReported_;  // monitor thread only
    std::mutex mutex_;
    std::weak_ptr<Reachability::State> state_;
};

}  // namespace

Reachability::Reachability() : state_(std::make_shared<State>()) {}

Reachability& Reachability::shared() {
    static Reachability* instance = [] {
        auto* created = new Reachability;
        registerSharedInstanceReset("Reachability", [created] {
            auto& s = *created->state_;
            s.monitoring = false;
            s.handlers.clear();
            s.status = static_cast<int>(Status::Unknown);
            s.systemAllowed = !Clock::isManual();
        });
        return created;
    }();
    return *instance;
}

Reachability::Status Reachability::status() const {
    return static_cast<Status>(state_->status.load());
}

bool Reachability::isReachable() const {
    Status s = status();
    return s == Status::ReachableViaWiFi || s == Status::ReachableViaWWAN;
}

Reachability::Token Reachability::addStatusChangeHandler(Handler handler) {
    Token token = state_->nextToken++;
    state_->handlers.emplace(token, std::move(handler));
    return token;
}

void Reachability::removeStatusChangeHandler(Token token) {
    state_->handlers.erase(token);
}

void Reachability::startMonitoring() {
    if (state_->monitoring) return;
    state_->monitoring = true;
    if (state_->systemAllowed) SystemMonitor::shared().start(state_);
}

void Reachability::stopMonitoring() {
    state_->monitoring = false;
}

bool Reachability::isMonitoring() const {
    return state_->monitoring;
}

void Reachability::setStatusForTesting(Status status) {
    auto state = shared().state_;
    RunLoop::main().post([state, status] { state->report(status); });
}

void Reachability::enableSystemMonitorForTesting() {
    shared().state_->systemAllowed = true;
}

}  // namespace platform
