#pragma once
// The base of every in-app notification: a machine that runs the notification as a
// sequence of named steps. The notification's class supplies the sequence, a dictionary
// from step name to block; each block does its work (an animation, a page event) and names
// the step that follows and after how long:
//
//   MVNotification::perform([](MVNotification&, double d) { /* animate over d */ },
//                            notification, MVNotificationStepViewDidAppear, d);
//
// The presenting controller sets the first step (Init) and calls checkForSucceedingStep;
// from then on the steps follow the sequence until Finished, after which the controller
// is told. Timers are never cancelled from outside: a check that a timer fires does
// nothing once another step has run since it was scheduled, so a stale timer cannot move
// the notification on. Main thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/core/MVNotificationControllerInterface.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"

class MVNotification;
class MVNotificationController;
class MVWebView;

// Step names; each text is its own name.
inline constexpr const char* MVNotificationStepInit = "MVNotificationStepInit";
inline constexpr const char* MVNotificationStepStart = "MVNotificationStepStart";
inline constexpr const char* MVNotificationStepTimeoutReached = "MVNotificationStepTimeoutReached";
inline constexpr const char* MVNotificationStepCancel = "MVNotificationStepCancel";
inline constexpr const char* MVNotificationStepFinished = "MVNotificationStepFinished";
inline constexpr const char* MVNotificationStepViewIsAppearing =
    "MVNotificationStepViewIsAppearing";
inline constexpr const char* MVNotificationStepViewDidAppear = "MVNotificationStepViewDidAppear";
inline constexpr const char* MVNotificationStepViewIsDisappearing =
    "MVNotificationStepViewIsDisappearing";

// Exception names, as raised.
inline constexpr const char* MVNotificationSequenceNotImplementedException =
    "The notification sequence method is not implemented";
inline constexpr const char* MVNotificationSequenceStepNotFoundException =
    "Notification sequence step not found";
inline constexpr const char* MVNotificationSequenceSucceedingStepNotExpectedException =
    "Another notification sequence step not expected.";
inline constexpr const char* MVNotificationSequenceCreationException =
    "The notification sequence is not from type NSDictionary";

// A step: takes the notification.
using MVNotificationStepBlock = std::function<void(MVNotification& notification)>;
// What a step starts at once: takes the notification and the step's duration in seconds.
using MVNotificationActionBlock =
    std::function<void(MVNotification& notification, double duration)>;
// Step name to step block; shared by every notification of a class.
using MVNotificationSequence = std::map<std::string, MVNotificationStepBlock, std::less<>>;

// A notification class: what its class methods answer. Made from a C++ class T and its
// superclass by of<T, Super>(name), which reads T's static members:
//   notificationType()                (none: abstract; MVNotification answers none)
//   notificationSequence()            (optional; a null result is no sequence)
//   shallUserInteractionBeDisabled()
//   isWebViewNotificationClass()
class MVNotificationClass : public MVNotificationClassInterface,
                            public std::enable_shared_from_this<MVNotificationClass> {
  public:
    using SequenceOperation = std::function<std::shared_ptr<const MVNotificationSequence>()>;

    template <class T, class Super>
    static std::shared_ptr<MVNotificationClass> of(std::string name);
    // The class of T, made once per process: what T::classObject() answers.
    template <class T, class Super>
    static std::shared_ptr<const MVNotificationClass> shared(const char* name) {
        static const auto* cls = new std::shared_ptr<const MVNotificationClass>(of<T, Super>(name));
        return *cls;
    }

    const std::string& name() const { return name_; }
    // False when the class answers notificationType only by inheritance.
    bool definesNotificationType() const { return definesNotificationType_; }
    std::optional<std::string> notificationType() const { return notificationType_(); }
    // Empty when the class has no class operation notificationSequence.
    const SequenceOperation& notificationSequence() const { return notificationSequence_; }
    bool shallUserInteractionBeDisabled() const { return shallUserInteractionBeDisabled_(); }
    // A new, uninitialised notification of this class.
    std::shared_ptr<MVNotification> alloc() const;

    // MVNotificationClassInterface: web-view notification classes make notifications.
    bool isWebViewNotification() const override { return isWebViewNotification_; }
    std::shared_ptr<MVNotificationInterface> notificationWithContent(
        const std::string& content, const std::optional<std::string>& baseURL,
        const nlohmann::json* notificationParams, std::optional<double> timeout,
        std::optional<double> speedFactor,
        const std::shared_ptr<MVWebView>& webView) const override;
    std::shared_ptr<MVNotificationInterface> notificationWithURL(
        const std::string& url, const nlohmann::json* notificationParams,
        std::optional<double> timeout, std::optional<double> speedFactor,
        const std::shared_ptr<MVWebView>& webView) const override;

  private:
    struct Members {
        bool definesNotificationType = false;
        std::function<std::optional<std::string>()> notificationType;
        SequenceOperation notificationSequence;
        std::function<bool()> shallUserInteractionBeDisabled;
        bool isWebViewNotification = false;
        std::function<std::shared_ptr<MVNotification>()> make;
    };
    MVNotificationClass(std::string name, Members members);

    const std::string name_;
    const bool definesNotificationType_;
    const std::function<std::optional<std::string>()> notificationType_;
    const SequenceOperation notificationSequence_;
    const std::function<bool()> shallUserInteractionBeDisabled_;
    const bool isWebViewNotification_;
    const std::function<std::shared_ptr<MVNotification>()> make_;
};

class MVNotification : public MVNotificationInterface,
                       public std::enable_shared_from_this<MVNotification> {
  public:
    MVNotification() = default;
    ~MVNotification() override;
    MVNotification(const MVNotification&) = delete;
    MVNotification& operator=(const MVNotification&) = delete;

    // Schedules the next step: arms the timeout when the step is TimeoutReached, makes it
    // the next step, runs the action at once with the duration, and checks again after
    // the duration (whole nanoseconds, truncated) on the main queue. The pending check
    // keeps the notification alive.
    static void perform(const MVNotificationActionBlock& action, MVNotification& notification,
                        const std::string& nextStep, double duration);

    // Runs the next step when it may run. Direct calls always check; see perform.
    void checkForSucceedingStep();

    const std::optional<std::string>& nextNotificationStep() const { return nextStep_; }
    void setNextNotificationStep(std::optional<std::string> step) { nextStep_ = std::move(step); }
    const std::optional<std::string>& currentNotificationStep() const { return currentStep_; }
    void setCurrentNotificationStep(std::optional<std::string> step) {
        currentStep_ = std::move(step);
    }

    // The class's sequence, from the process-wide cache; null when the class has none.
    // Raises MVNotificationSequenceCreationException for a class whose operation makes none.
    std::shared_ptr<const MVNotificationSequence> sequence() const;
    // Init: Start after 0.05 s (single precision).
    MVNotificationStepBlock initBlock() const;

    // Subclasses answer these.
    virtual bool canNotificationStartPresenting() { return true; }
    // Logs that the subclass does not say, and answers yes.
    virtual bool mustBeQueued();
    static std::optional<std::string> notificationType() { return std::nullopt; }
    static bool shallUserInteractionBeDisabled() { return true; }
    static bool isWebViewNotificationClass() { return false; }
    // Logs that the subclass does not say how.
    virtual void abort();
    // Raises MVNotificationSequenceNotImplementedException; the machine asks the class.
    void notificationSequence() const;

    // The class the notification was made of (MVNotificationClass::alloc).
    const MVNotificationClass& notificationClass() const;
    std::string className() const;

    bool isTimeoutSet() const { return isTimeoutSet_; }
    void setIsTimeoutSet(bool set) { isTimeoutSet_ = set; }
    bool isAborted() const { return isAborted_; }
    void setIsAborted(bool aborted) { isAborted_ = aborted; }
    const std::shared_ptr<MVWebView>& fromWebView() const { return fromWebView_; }
    void setFromWebView(std::shared_ptr<MVWebView> webView) { fromWebView_ = std::move(webView); }
    const std::optional<double>& timeout() const { return timeout_; }
    void setTimeout(std::optional<double> timeout) { timeout_ = timeout; }
    const std::optional<double>& speedFactor() const { return speedFactor_; }
    void setSpeedFactor(std::optional<double> factor) { speedFactor_ = factor; }
    // A dictionary, or null for none.
    const nlohmann::json& notificationParameter() const { return notificationParameter_; }
    void setNotificationParameter(nlohmann::json parameter) {
        notificationParameter_ = std::move(parameter);
    }
    std::shared_ptr<MVNotificationController> presentingController() const {
        return presentingController_.lock();
    }
    void setPresentingController(std::weak_ptr<MVNotificationController> controller) {
        presentingController_ = std::move(controller);
    }

    // Set when the controller started presenting it; a queued notification starts once.
    bool hasStartedPresenting() const { return hasStartedPresenting_; }
    void setHasStartedPresenting(bool started) { hasStartedPresenting_ = started; }
    // Steps run so far.
    uint64_t stepsRun() const { return stepsRun_; }

    // Drops every pending timer-fired check (after an abort).
    void cancelScheduledChecks();

  protected:
    // A check fired by a timer after `seconds` on the main queue: it does nothing once
    // another step has run in the meantime.
    void scheduleCheck(double seconds);

  private:
    friend class MVNotificationClass;

    std::shared_ptr<const MVNotificationClass> class_;
    bool isTimeoutSet_ = false;
    bool isAborted_ = false;
    bool hasStartedPresenting_ = false;
    std::optional<std::string> nextStep_;
    std::optional<std::string> currentStep_;
    std::shared_ptr<MVWebView> fromWebView_;
    std::optional<double> timeout_;
    std::optional<double> speedFactor_;
    nlohmann::json notificationParameter_;
    std::weak_ptr<MVNotificationController> presentingController_;
    uint64_t stepsRun_ = 0;
    // Pending timer-fired checks; those scheduled before the latest step are stale.
    std::vector<platform::TimerHandle> scheduledChecks_;
};

template <class T, class Super>
std::shared_ptr<MVNotificationClass> MVNotificationClass::of(std::string name) {
    static_assert(std::is_base_of_v<MVNotification, T> && std::is_base_of_v<Super, T>);
    Members members;
    // A class that does not declare notificationType answers its superclass's.
    members.definesNotificationType = &T::notificationType != &Super::notificationType;
    members.notificationType = &T::notificationType;
    if constexpr (requires { T::notificationSequence(); })
        members.notificationSequence = [] {
            return std::shared_ptr<const MVNotificationSequence>(T::notificationSequence());
        };
    members.shallUserInteractionBeDisabled = &T::shallUserInteractionBeDisabled;
    members.isWebViewNotification = T::isWebViewNotificationClass();
    members.make = [] { return std::shared_ptr<MVNotification>(std::make_shared<T>()); };
    return std::shared_ptr<MVNotificationClass>(
        new MVNotificationClass(std::move(name), std::move(members)));
}
