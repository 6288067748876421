#include "libmerovane/overlays/MVNotificationController.h"

#include <fmt/format.h>

#include <algorithm>
#include <mutex>

#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "libmerovane/overlays/MVNotificationBaseLinearMovement.h"
#include "libmerovane/overlays/MVNotificationMovingTypes.h"
#include "libmerovane/overlays/MVNotificationWithWebview.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Application.h"

namespace {

constexpr const char* kTypeNotGivenReason = "MVNotification type not given in subclass: \"{}\".";
constexpr const char* kTypeGivenTwiceReason = "MVNotification type has given twice: \"{}\".\n";
constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;

using TypeRegistry = std::map<std::string, std::shared_ptr<const MVNotificationClass>, std::less<>>;

// The notification classes, and the registry once it is built.
struct ClassTable {
    std::mutex mutex;
    std::vector<std::shared_ptr<const MVNotificationClass>> classes;  // guarded by mutex
    std::optional<TypeRegistry> registry;                             // guarded by mutex
};

std::vector<std::shared_ptr<const MVNotificationClass>> builtInClasses() {
    return {
        MVNotificationWithWebview::classObject(), MVNotificationBaseLinearMovement::classObject(),
        MVNotificationRightToLeft::classObject(), MVNotificationLeftToRight::classObject(),
        MVNotificationTopToBottom::classObject(), MVNotificationPushTop::classObject(),
        MVNotificationPushBottom::classObject(),  MVNotificationCenteredFade::classObject()};
}

ClassTable& classTable() {
    static auto* table = [] {
        auto* created = new ClassTable;
        created->classes = builtInClasses();
        platform::registerSharedInstanceReset("MVNotificationController types", [created] {
            std::lock_guard lock(created->mutex);
            created->classes = builtInClasses();
            created->registry.reset();
        });
        return created;
    }();
    return *table;
}

TypeRegistry buildRegistry(const std::vector<std::shared_ptr<const MVNotificationClass>>& classes) {
    TypeRegistry registry;
    for (const auto& cls : classes) {
        if (!cls->definesNotificationType())
            throw platform::Exception(MVNotificationSequenceTypeNotGivenException,
                                      fmt::format(kTypeNotGivenReason, cls->name()));
        auto type = cls->notificationType();
        if (!type) continue;  // abstract
        if (registry.count(*type))
            throw platform::Exception(MVNotificationSequenceTypeGivenTwiceException,
                                      fmt::format(kTypeGivenTwiceReason, *type));
        registry.emplace(*type, cls);
    }
    return registry;
}

template <class View>
std::shared_ptr<View> makeView(const platform::Rect& frame) {
    struct Made : View {
        explicit Made(const platform::Rect& f) : View(f) {}
    };
    return std::make_shared<Made>(frame);
}

// Removes the element with that identity; answers whether it was there.
bool removeIdentical(std::vector<std::shared_ptr<MVNotification>>& list,
                     const MVNotification& notification) {
    auto found = std::find_if(list.begin(), list.end(),
                              [&](const auto& element) { return element.get() == &notification; });
    if (found == list.end()) return false;
    list.erase(found);
    return true;
}

}  // namespace

// Views

std::shared_ptr<MVNotificationControllerView> MVNotificationControllerView::create(
    const platform::Rect& frame) {
    return makeView<MVNotificationControllerView>(frame);
}

std::shared_ptr<MVNotificationOverlayHittestView> MVNotificationOverlayHittestView::create(
    const platform::Rect& frame) {
    return makeView<MVNotificationOverlayHittestView>(frame);
}

bool MVNotificationOverlayHittestView::pointInside(platform::Point point) const {
    for (const auto& subview : subviews())
        if (subview->pointInside(subview->convertPointFromView(point, this))) return true;
    return false;
}

// Creation

std::shared_ptr<MVNotificationController> MVNotificationController::create() {
    auto controller = std::shared_ptr<MVNotificationController>(new MVNotificationController);
    controller->view();
    controller->observeBootCommand();
    track(controller);
    return controller;
}

std::shared_ptr<MVNotificationController> MVNotificationController::initWithContentViewController(
    std::shared_ptr<platform::ViewController> content) {
    auto controller = create();
    controller->setContentViewController(std::move(content));
    return controller;
}

MVNotificationController::~MVNotificationController() = default;

void MVNotificationController::loadView() {
    MVContainerViewController::loadView();
    auto root = MVNotificationControllerView::create(viewIfLoaded()->frame());
    root->setAutoresizingMask(kFlexibleSize);
    setView(root);
    root->addSubview(contentContainerView());
    overlayView_ = MVNotificationOverlayHittestView::create(root->bounds());
    overlayView_->setAutoresizingMask(kFlexibleSize);
    root->addSubview(overlayView_);
}

void MVNotificationController::observeBootCommand() {
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVNotificationController> weak =
        std::static_pointer_cast<MVNotificationController>(shared_from_this());
    bootObserver_ = platform::ObserverRegistration(
        center, center.addObserver(MVLibraryApplicationReceivedBootAppCommand, nullptr,
                                   [weak](const platform::Notification&) {
                                       if (auto controller = weak.lock())
                                           controller->appDidReceiveBootAppCommand();
                                   }));
}

const std::shared_ptr<MVNotificationOverlayHittestView>& MVNotificationController::overlayView() {
    view();
    return overlayView_;
}

// Type registry

std::vector<std::shared_ptr<const MVNotificationClass>>
MVNotificationController::notificationClasses() {
    auto& table = classTable();
    std::lock_guard lock(table.mutex);
    return table.classes;
}

void MVNotificationController::addNotificationClass(
    std::shared_ptr<const MVNotificationClass> cls) {
    auto& table = classTable();
    std::lock_guard lock(table.mutex);
    table.classes.push_back(std::move(cls));
}

std::map<std::string, std::shared_ptr<const MVNotificationClass>, std::less<>>
MVNotificationController::registeredNotificationTypes() {
    auto& table = classTable();
    std::lock_guard lock(table.mutex);
    if (!table.registry) table.registry = buildRegistry(table.classes);
    return *table.registry;
}

void MVNotificationController::install() {
    MVViewControllerHierarchy::installContainerClass("MVNotificationController",
                                                     [] { return create(); });
    for (const auto& [type, cls] : registeredNotificationTypes())
        registerNotificationType(type, cls);
}

// Presenting

void MVNotificationController::presentNotification(
    std::shared_ptr<MVNotificationInterface> presented) {
    auto notification = std::dynamic_pointer_cast<MVNotification>(presented);
    if (!notification) return;
    const bool queued = notification->mustBeQueued();
    if (queued && notificationQueue_.size() >= kMaximumQueuedNotifications) {
        MVLogWarn("MVNotificationController holds {} queued notifications and drops {}",
                  kMaximumQueuedNotifications, notification->className());
        return;
    }
    notification->setPresentingController(
        std::static_pointer_cast<MVNotificationController>(shared_from_this()));
    if (queued) {
        notificationQueue_.push_back(notification);
        if (notificationQueue_.size() == 1) checkForNotificationsToPresent();
        return;
    }
    unqueuedPresentedNotification_.push_back(notification);
    startPresenting(notification);
}

void MVNotificationController::startPresenting(
    const std::shared_ptr<MVNotification>& notification) {
    notification->setNextNotificationStep(std::string(MVNotificationStepInit));
    notification->setHasStartedPresenting(true);
    if (notification->notificationClass().shallUserInteractionBeDisabled() &&
        amountUserInteractionDisabled_ == 0) {
        amountUserInteractionDisabled_ = 1;
        setContentInteraction(false);
    }
    notification->checkForSucceedingStep();
}

void MVNotificationController::addNotificationView(const std::shared_ptr<platform::View>& view) {
    if (view) overlayView()->addSubview(view);
}

platform::Size MVNotificationController::overlaySize() {
    return overlayView()->bounds().size;
}

platform::Point MVNotificationController::overlayCenter() {
    return overlayView()->center();
}

void MVNotificationController::notificationDidFinishPresenting(MVNotification& notification) {
    auto keep = notification.shared_from_this();
    if (notification.notificationClass().shallUserInteractionBeDisabled()) {
        if (--amountUserInteractionDisabled_ < 1) {
            amountUserInteractionDisabled_ = 0;
            setContentInteraction(true);
        }
    }
    if (removeIdentical(notificationQueue_, notification)) {
        std::weak_ptr<MVNotificationController> weak =
            std::static_pointer_cast<MVNotificationController>(shared_from_this());
        platform::RunLoop::main().postAfterDetached(0, [weak] {
            if (auto controller = weak.lock()) controller->checkForNotificationsToPresent();
        });
        return;
    }
    removeIdentical(unqueuedPresentedNotification_, notification);
}

bool MVNotificationController::isFirstInQueue(const MVNotification& notification) const {
    return !notificationQueue_.empty() && notificationQueue_.front().get() == &notification;
}

void MVNotificationController::checkForNotificationsToPresent() {
    // A first notification that has started already runs its steps; starting it again
    // would send it back to Init.
    if (!notificationQueue_.empty() && !notificationQueue_.front()->hasStartedPresenting()) {
        // A copy: starting may end the notification and take it out of the queue.
        auto first = notificationQueue_.front();
        startPresenting(first);
    }
    ::setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
}

void MVNotificationController::abortNotification(MVNotification& notification) {
    notification.setIsAborted(true);
    notification.cancelScheduledChecks();
    notification.abort();
}

void MVNotificationController::appDidReceiveBootAppCommand() {
    if (!unqueuedPresentedNotification_.empty()) {
        auto unqueued = std::move(unqueuedPresentedNotification_);
        unqueuedPresentedNotification_.clear();
        for (const auto& notification : unqueued) abortNotification(*notification);
    }
    if (!notificationQueue_.empty()) {
        auto first = notificationQueue_.front();
        notificationQueue_.clear();
        abortNotification(*first);
    }
    setContentInteraction(true);
    amountUserInteractionDisabled_ = 0;
    const auto subviews = overlayView()->subviews();
    for (const auto& subview : subviews) subview->removeFromSuperview();
}

void MVNotificationController::setContentInteraction(bool enabled) {
    contentContainerView()->setUserInteractionEnabled(enabled);
}

// Status bar

platform::StatusBarStyle MVNotificationController::preferredStatusBarStyle() const {
    if (!notificationQueue_.empty())
        if (auto first =
                std::dynamic_pointer_cast<MVNotificationWithWebview>(notificationQueue_.front()))
            return first->preferredStatusBarStyle();
    return MVContainerViewController::preferredStatusBarStyle();
}

bool MVNotificationController::prefersStatusBarHidden() const {
    if (!notificationQueue_.empty())
        if (auto first =
                std::dynamic_pointer_cast<MVNotificationWithWebview>(notificationQueue_.front()))
            return first->prefersStatusBarHidden();
    return MVContainerViewController::prefersStatusBarHidden();
}
