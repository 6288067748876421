#pragma once
// Whether the network can be reached, and how: the platform's network monitor.
//
//   auto& reachability = platform::Reachability::shared();
//   auto token = reachability.addStatusChangeHandler([](platform::Reachability::Status s) { ... });
//   reachability.startMonitoring();
//
// While monitoring, every status report runs the handlers on the main loop and posts
// kReachabilityDidChangeNotification (user information: the status number under
// kReachabilityNotificationStatusItem) on the main thread. The first report after
// startMonitoring gives the current status. status() is Unknown until a report came.
//
// Behind it stands GLib's network monitor, watched on a thread of its own: a metered
// network counts as WWAN, any other usable one as WiFi. Under the manual clock (tests)
// the system monitor stays off unless enableSystemMonitorForTesting is called; the
// status then moves only by setStatusForTesting.
// Thread-safety: status() from any thread; the rest on the main thread.

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

inline constexpr const char* kReachabilityDidChangeNotification =
    "ReachabilityDidChangeNotification";
inline constexpr const char* kReachabilityNotificationStatusItem =
    "ReachabilityNotificationStatusItem";

class Reachability {
  public:
    // The platform's numbering.
    enum class Status : int {
        Unknown = -1,
        NotReachable = 0,
        ReachableViaWWAN = 1,
        ReachableViaWiFi = 2
    };
    using Handler = std::function<void(Status)>;
    using Token = uint64_t;

    static Reachability& shared();

    Status status() const;
    bool isReachable() const;

    // A handler may remove itself (or others) while it runs.
    Token addStatusChangeHandler(Handler handler);
    void removeStatusChangeHandler(Token token);

    void startMonitoring();
    void stopMonitoring();
    bool isMonitoring() const;

    // Reports `status` as the system would, on the main loop.
    static void setStatusForTesting(Status status);
    static void enableSystemMonitorForTesting();

    struct State;

  private:
    Reachability();
    std::shared_ptr<State> state_;
};

}  // namespace platform
