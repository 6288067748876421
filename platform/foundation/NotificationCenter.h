#pragma once
// Named notifications, posted synchronously on the posting thread.
//
//   auto token = NotificationCenter::defaultCenter().addObserver(
//       "MVWebViewDidFinishLoadingNotification", webView.get(),
//       [](const Notification& n) { ... });
//   NotificationCenter::defaultCenter().removeObserver(token);
//
// An observer names a notification (empty: every name) and optionally a sender
// identity (null: any sender). An observer removed while a notification is being
// delivered is not called afterwards. Thread-safe.

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace platform {

struct Notification {
    std::string name;
    const void* sender = nullptr;  // identity of the posting object
    std::any object;               // the object itself, where observers read it
    std::shared_ptr<const nlohmann::json> userInfo;
};

class NotificationCenter {
  public:
    using Token = uint64_t;
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();

    Token addObserver(std::string name, const void* sender, Handler handler);
    void removeObserver(Token token);
    void post(const Notification& notification);
    void post(std::string name, const void* sender = nullptr, std::any object = {});

    size_t observerCount() const;
    void resetForTesting();

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// Removes its observer when destroyed.
class ObserverRegistration {
  public:
    ObserverRegistration() = default;
    ObserverRegistration(NotificationCenter& center, NotificationCenter::Token token)
        : center_(&center), token_(token) {}
    ObserverRegistration(ObserverRegistration&& o) noexcept : center_(o.center_), token_(o.token_) {
        o.center_ = nullptr;
    }
    ObserverRegistration& operator=(ObserverRegistration&& o) noexcept {
        if (this != &o) {
            reset();
            center_ = o.center_;
            token_ = o.token_;
            o.center_ = nullptr;
        }
        return *this;
    }
    ~ObserverRegistration() { reset(); }
    void reset() {
        if (center_) center_->removeObserver(token_);
        center_ = nullptr;
    }

  private:
    NotificationCenter* center_ = nullptr;
    NotificationCenter::Token token_ = 0;
};

}  // namespace platform
