#pragma once
// The container of the chain that shows in-app notifications: a transparent overlay above
// its content's view holds the notifications' views. Queued notifications are presented
// one at a time, first in first out; others start at once. While a notification that asks
// for it is on screen, touches do not reach the content.
//
//   MVNotificationController::install();   // start-up: the chain and the commands use it
//   auto controller = MVNotificationController::create();
//   controller->presentNotification(MVNotificationPushTop::notitificationWithURL(...));
//
// The boot command drops every notification at once. Notifications tell the controller
// when they finished (notificationDidFinishPresenting). Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/containers/MVContainerViewController.h"
#include "libmerovane/core/MVNotificationControllerInterface.h"
#include "libmerovane/overlays/MVNotification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/View.h"

// Exception names, as raised (the first is spelt so).
inline constexpr const char* MVNotificationSequenceTypeNotGivenException =
    "MVNotificaton type not given";
inline constexpr const char* MVNotificationSequenceTypeGivenTwiceException =
    "MVNotification type given twice";

// The controller's root view.
class MVNotificationControllerView : public platform::View {
  public:
    static std::shared_ptr<MVNotificationControllerView> create(const platform::Rect& frame);

  protected:
    using platform::View::View;
};

// Holds the notifications' views; takes a touch only where one of them does.
class MVNotificationOverlayHittestView : public platform::View {
  public:
    static std::shared_ptr<MVNotificationOverlayHittestView> create(const platform::Rect& frame);
    bool pointInside(platform::Point point) const override;

  protected:
    using platform::View::View;
};

class MVNotificationController : public MVContainerViewController,
                                 public MVNotificationControllerInterface {
  public:
    // Queued notifications beyond this are dropped with a warning: each holds a web view
    // that loads its page.
    static constexpr size_t kMaximumQueuedNotifications = 16;

    // The first controller made becomes the default one.
    static std::shared_ptr<MVNotificationController> create();
    static std::shared_ptr<MVNotificationController> initWithContentViewController(
        std::shared_ptr<platform::ViewController> content);
    ~MVNotificationController() override;

    // Makes this class the chain's notification container and registers the presentation
    // types for the commands.
    static void install();

    // The notification classes the type registry is built from: the built-in ones and
    // those added; a class added later counts only while the registry is not built.
    static std::vector<std::shared_ptr<const MVNotificationClass>> notificationClasses();
    static void addNotificationClass(std::shared_ptr<const MVNotificationClass> cls);
    // Presentation type to class, built once. Raises the two type exceptions for a class
    // that does not name its own type and for a type named twice; a failed build is not
    // kept.
    static std::map<std::string, std::shared_ptr<const MVNotificationClass>, std::less<>>
    registeredNotificationTypes();

    // Above the content container view; holds the notifications' views.
    const std::shared_ptr<MVNotificationOverlayHittestView>& overlayView();

    // MVNotificationControllerInterface
    void presentNotification(std::shared_ptr<MVNotificationInterface> notification) override;

    void startPresenting(const std::shared_ptr<MVNotification>& notification);
    // Adds a notification's view as the overlay's topmost subview.
    void addNotificationView(const std::shared_ptr<platform::View>& view);
    platform::Size overlaySize();
    // The overlay's centre in the root view's coordinates.
    platform::Point overlayCenter();

    // Told by the notifications.
    void notificationDidFinishPresenting(MVNotification& notification);
    bool isFirstInQueue(const MVNotification& notification) const;
    void checkForNotificationsToPresent();
    void abortNotification(MVNotification& notification);
    void appDidReceiveBootAppCommand();

    const std::vector<std::shared_ptr<MVNotification>>& notificationQueue() const {
        return notificationQueue_;
    }
    const std::vector<std::shared_ptr<MVNotification>>& unqueuedPresentedNotification() const {
        return unqueuedPresentedNotification_;
    }
    int64_t amountUserInteractionDisabled() const { return amountUserInteractionDisabled_; }

    // The first queued notification's answers, else the container's.
    platform::StatusBarStyle preferredStatusBarStyle() const override;
    bool prefersStatusBarHidden() const override;

  protected:
    MVNotificationController() = default;
    void loadView() override;

  private:
    void observeBootCommand();
    void setContentInteraction(bool enabled);

    std::shared_ptr<MVNotificationOverlayHittestView> overlayView_;
    std::vector<std::shared_ptr<MVNotification>> notificationQueue_;
    std::vector<std::shared_ptr<MVNotification>> unqueuedPresentedNotification_;
    int64_t amountUserInteractionDisabled_ = 0;
    platform::ObserverRegistration bootObserver_;
};
