#include "libmerovane/overlays/MVNotification.h"

#include <fmt/format.h>

#include <mutex>

#include "libmerovane/core/MVLog.h"
#include "libmerovane/overlays/MVNotificationController.h"
#include "libmerovane/overlays/MVNotificationWithWebview.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/SharedInstances.h"

namespace {

constexpr const char* kNotImplementedReason =
    "The notification sequence method is not implemented in class \"{}\".";
constexpr const char* kStepNotFoundReason =
    "The notification sequence step not found: \"{}\" for notification from type \"{}\"";
constexpr const char* kSucceedingStepReason =
    "Another notification sequence step not expected after occurrence of: \"{}\" for "
    "notification from type \"{}\"";
constexpr const char* kCreationReason =
    "The notification sequence in class \"{}\" is not from type NSDictionary.";
constexpr const char* kMustBeQueuedUnknown =
    "No information if notification has to be queued is given in class: \"{}\".";
constexpr const char* kAbortNotOverwritten =
    "Subclass of MVNotification: \"{}\" should overwrite <abort>-method.";
// Init waits this long (single precision) before Start.
constexpr float kInitDelay = 0.05f;

// Class name to that class's sequence, built once per class.
struct SequenceCache {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const MVNotificationSequence>> sequences;
};

SequenceCache& sequenceCache() {
    static auto* cache = [] {
        auto* created = new SequenceCache;
        platform::registerSharedInstanceReset("MVNotification sequences", [created] {
            std::lock_guard lock(created->mutex);
            created->sequences.clear();
        });
        return created;
    }();
    return *cache;
}

}  // namespace

// MVNotificationClass

MVNotificationClass::MVNotificationClass(std::string name, Members members)
    : name_(std::move(name)),
      definesNotificationType_(members.definesNotificationType),
      notificationType_(std::move(members.notificationType)),
      notificationSequence_(std::move(members.notificationSequence)),
      shallUserInteractionBeDisabled_(std::move(members.shallUserInteractionBeDisabled)),
      isWebViewNotification_(members.isWebViewNotification),
      make_(std::move(members.make)) {}

std::shared_ptr<MVNotification> MVNotificationClass::alloc() const {
    auto notification = make_();
    notification->class_ = shared_from_this();
    return notification;
}

std::shared_ptr<MVNotificationInterface> MVNotificationClass::notificationWithContent(
    const std::string& content, const std::optional<std::string>& baseURL,
    const nlohmann::json* notificationParams, std::optional<double> timeout,
    std::optional<double> speedFactor, const std::shared_ptr<MVWebView>& webView) const {
    if (!isWebViewNotification_) return nullptr;
    return MVNotificationWithWebview::notitificationWithContent(
        *this, content, baseURL, notificationParams, timeout, speedFactor, webView);
}

std::shared_ptr<MVNotificationInterface> MVNotificationClass::notificationWithURL(
    const std::string& url, const nlohmann::json* notificationParams, std::optional<double> timeout,
    std::optional<double> speedFactor, const std::shared_ptr<MVWebView>& webView) const {
    if (!isWebViewNotification_) return nullptr;
    return MVNotificationWithWebview::notitificationWithURL(*this, url, notificationParams, timeout,
                                                            speedFactor, webView);
}

// MVNotification

MVNotification::~MVNotification() = default;

const MVNotificationClass& MVNotification::notificationClass() const {
    platform::assertThat(class_ != nullptr, "a notification is made by its class's alloc()");
    return *class_;
}

std::string MVNotification::className() const {
    return class_ ? class_->name() : std::string("MVNotification");
}

void MVNotification::perform(const MVNotificationActionBlock& action, MVNotification& notification,
                             const std::string& nextStep, double duration) {
    if (nextStep == MVNotificationStepTimeoutReached) notification.setIsTimeoutSet(true);
    notification.setNextNotificationStep(nextStep);
    if (action) action(notification, duration);
    notification.scheduleCheck(duration);
}

void MVNotification::scheduleCheck(double seconds) {
    const uint64_t stepsWhenScheduled = stepsRun_;
    scheduledChecks_.push_back(platform::DispatchQueue::main().after(
        seconds, [keep = shared_from_this(), stepsWhenScheduled] {
            if (keep->stepsRun_ != stepsWhenScheduled) return;
            keep->checkForSucceedingStep();
        }));
}

void MVNotification::cancelScheduledChecks() {
    // The checks hold this notification: cancel them from a moved-out list.
    auto checks = std::move(scheduledChecks_);
    scheduledChecks_.clear();
    checks.clear();
}

void MVNotification::checkForSucceedingStep() {
    auto keep = shared_from_this();
    if (isAborted_) return;
    if (nextStep_ == MVNotificationStepInit && !canNotificationStartPresenting()) return;
    auto controller = presentingController();
    if (mustBeQueued() && !(controller && controller->isFirstInQueue(*this))) return;
    if (!nextStep_) {
        if (controller) controller->notificationDidFinishPresenting(*this);
        return;
    }
    if (*nextStep_ == MVNotificationStepTimeoutReached && !isTimeoutSet_) return;
    isTimeoutSet_ = false;

    const std::string step = *nextStep_;
    MVNotificationStepBlock block;
    if (step == MVNotificationStepInit) {
        block = initBlock();
    } else if (auto steps = sequence()) {
        auto found = steps->find(step);
        if (found != steps->end()) block = found->second;
    }
    currentStep_ = step;
    if (!block)
        throw platform::Exception(MVNotificationSequenceStepNotFoundException,
                                  fmt::format(kStepNotFoundReason, step, className()));
    // Every check scheduled before this step is stale from here on.
    ++stepsRun_;
    cancelScheduledChecks();

    const bool finishing = step == MVNotificationStepFinished;
    nextStep_ = MVNotificationStepFinished;
    block(*this);
    if (!finishing) return;
    if (nextStep_ != MVNotificationStepFinished)
        throw platform::Exception(MVNotificationSequenceSucceedingStepNotExpectedException,
                                  fmt::format(kSucceedingStepReason, step, className()));
    currentStep_ = MVNotificationStepFinished;
    if (auto owner = presentingController()) owner->notificationDidFinishPresenting(*this);
}

std::shared_ptr<const MVNotificationSequence> MVNotification::sequence() const {
    const auto& cls = notificationClass();
    auto& cache = sequenceCache();
    {
        std::lock_guard lock(cache.mutex);
        auto found = cache.sequences.find(cls.name());
        if (found != cache.sequences.end()) return found->second;
    }
    if (!cls.notificationSequence()) return nullptr;
    auto built = cls.notificationSequence()();
    if (!built)
        throw platform::Exception(MVNotificationSequenceCreationException,
                                  fmt::format(kCreationReason, cls.name()));
    std::lock_guard lock(cache.mutex);
    return cache.sequences.emplace(cls.name(), std::move(built)).first->second;
}

MVNotificationStepBlock MVNotification::initBlock() const {
    return [](MVNotification& notification) {
        perform([](MVNotification&, double) {}, notification, MVNotificationStepStart,
                static_cast<double>(kInitDelay));
    };
}

bool MVNotification::mustBeQueued() {
    MVLogError(kMustBeQueuedUnknown, className());
    return true;
}

void MVNotification::abort() {
    MVLogWarn(kAbortNotOverwritten, className());
}

void MVNotification::notificationSequence() const {
    throw platform::Exception(MVNotificationSequenceNotImplementedException,
                              fmt::format(kNotImplementedReason, className()));
}
