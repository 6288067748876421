#pragma once
// What the commands need of in-app notifications: the notification controllers of the
// container chain, registered by name ("notifications" is the host's), and the
// notification classes by presentation type name, which make notifications from a page.
// The overlays register both; until then there is no controller, and the six built-in
// types make no notification.
//
//   auto controller = MVNotificationControllerInterface::sharedDefaultInstance();
//   auto type = MVNotificationControllerInterface::notificationType("pushTop");
//   if (controller && type && type->isWebViewNotification())
//       if (auto n = type->notificationWithURL(url, nullptr, std::nullopt, std::nullopt, webView))
//           controller->presentNotification(n);
//
// Time-outs and speed factors are handed on as the page or server sent them:
// implementations accept any number (0, negative numbers and 1e308 arrive) and none.
//
// Main thread only, but for the type table, which any thread may read.

#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/core/MVInstanceTracking.h"

class MVWebView;

// One notification, as its class made it; the controller presents it.
class MVNotificationInterface {
  public:
    virtual ~MVNotificationInterface() = default;
};

// The class of a presentation type: makes its notifications.
class MVNotificationClassInterface {
  public:
    virtual ~MVNotificationClassInterface() = default;

    // True for notifications that show a page, the only kind the commands make.
    virtual bool isWebViewNotification() const = 0;
    // A notification whose page is the HTML, against the base URL; or null. The
    // parameters (a dictionary, or null) reach its page; null web view: made for none.
    virtual std::shared_ptr<MVNotificationInterface> notificationWithContent(
        const std::string& content, const std::optional<std::string>& baseURL,
        const nlohmann::json* notificationParams, std::optional<double> timeout,
        std::optional<double> speedFactor, const std::shared_ptr<MVWebView>& webView) const = 0;
    // The same with the page at the URL.
    virtual std::shared_ptr<MVNotificationInterface> notificationWithURL(
        const std::string& url, const nlohmann::json* notificationParams,
        std::optional<double> timeout, std::optional<double> speedFactor,
        const std::shared_ptr<MVWebView>& webView) const = 0;
};

using MVNotificationTypes =
    std::map<std::string, std::shared_ptr<const MVNotificationClassInterface>, std::less<>>;

class MVNotificationControllerInterface
    : public MVInstanceTracking<MVNotificationControllerInterface> {
  public:
    // The built-in presentation types, all of them web-view notifications.
    static const std::vector<std::string>& builtInNotificationTypes();

    virtual ~MVNotificationControllerInterface() = default;

    // Queued notifications start one after the other, first in first out, once first in
    // line; others at once.
    virtual void presentNotification(std::shared_ptr<MVNotificationInterface> notification) = 0;

    // Presentation type name to class: the built-in names and whatever was registered.
    static MVNotificationTypes notificationTypes();
    // The class of one type, or null.
    static std::shared_ptr<const MVNotificationClassInterface> notificationType(
        std::string_view name);
    // Adds or replaces a type; a null class removes it.
    static void registerNotificationType(const std::string& name,
                                         std::shared_ptr<const MVNotificationClassInterface> cls);
};
