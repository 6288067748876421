#pragma once
// A named animation with which the tab controller switches tabs. Each kind names itself
// (transitionType), says whether the appearing tab goes below the disappearing one
// (transitionViewHierarchy) and supplies its sequence: step blocks by step name. A step
// makes its changes through perform(), which names the next step and tells the delegate
// when that step is due; the delegate (the tab controller) then runs it, and ends the
// transition after MVTabTransitionStepFinished.
//
//   auto type = MVTabTransition::transitionTypes().find("slideInFromBottom");
//   auto transition = type->second.factory();
//   transition->setDelegate(tabController);
//   transition->sequence().at(MVTabTransitionStepStart)(*transition, in, out, bounds);
//
// Programming errors in a kind raise the named exceptions below when the registry is
// built or the sequence is first needed. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Geometry.h"

namespace platform {
class View;
class ViewController;
}  // namespace platform

class MVTabTransition;

inline constexpr const char* MVTabTransitionStepStart = "MVTabTransitionStepStart";
inline constexpr const char* MVTabTransitionStepAnimation = "MVTabTransitionStepAnimation";
inline constexpr const char* MVTabTransitionStepFinished = "MVTabTransitionStepFinished";

#define MV_TAB_TRANSITION_EXCEPTION(Name)     \
    class Name : public platform::Exception { \
      public:                                 \
        using platform::Exception::Exception; \
    }
MV_TAB_TRANSITION_EXCEPTION(MVTabTransitionTypeNotGiven);
MV_TAB_TRANSITION_EXCEPTION(MVTabTransitionTypeGivenTwiceException);
MV_TAB_TRANSITION_EXCEPTION(MVTabTransitionSequenceCreationException);
MV_TAB_TRANSITION_EXCEPTION(MVTabTransitionSequenceNotImplementedException);
MV_TAB_TRANSITION_EXCEPTION(MVTabTransitionViewHierarchyNotGivenException);
#undef MV_TAB_TRANSITION_EXCEPTION

class MVTabTransitionDelegate {
  public:
    virtual ~MVTabTransitionDelegate() = default;
    // The time of the transition's next step has come.
    virtual void tabTransitionDidFinishTransitionStep(MVTabTransition& transition) = 0;
};

// Adopted by the tabs, told when a transition that moves them starts and ends.
class MVTabTransitioning {
  public:
    virtual ~MVTabTransitioning() = default;
    virtual void tabControllerWillStartsTransitionWith(platform::ViewController& tabController,
                                                       MVTabTransition& transition) = 0;
    virtual void tabControllerDidEndTransitionWith(platform::ViewController& tabController,
                                                   MVTabTransition& transition) = 0;
};

class MVTabTransition : public std::enable_shared_from_this<MVTabTransition> {
  public:
    using View = std::shared_ptr<platform::View>;
    // Takes the transition, the appearing and the disappearing view and the tab
    // controller's view bounds.
    using Step = std::function<void(MVTabTransition& transition, const View& appearing,
                                    const View& disappearing, const platform::Rect& bounds)>;
    using Sequence = std::map<std::string, Step>;
    // Takes the step's duration in seconds.
    using Schedule = std::function<void(double duration)>;
    using TypeFunction = std::optional<std::string> (*)();

    // One kind in the registration list: its class name, its type name function (its own
    // or the one it inherits from `Parent`, its direct base) and its factory.
    struct Registration {
        std::string className;
        TypeFunction transitionType = nullptr;
        bool definesTransitionType = false;
        std::function<std::shared_ptr<MVTabTransition>()> factory;
    };
    template <class Kind, class Parent = MVTabTransition>
    static Registration registration(std::string className) {
        static_assert(std::is_base_of_v<Parent, Kind> &&
                      std::is_base_of_v<MVTabTransition, Parent>);
        return {std::move(className), &Kind::transitionType,
                &Kind::transitionType != &Parent::transitionType,
                [] { return std::shared_ptr<MVTabTransition>(Kind::create()); }};
    }

    static std::shared_ptr<MVTabTransition> create();
    virtual ~MVTabTransition() = default;

    // The kinds by type name, built once from registrations(); a build that raised keeps
    // nothing, so the next call raises again.
    static const std::map<std::string, Registration>& transitionTypes();
    // The registration list; changes count only before the first transitionTypes().
    static std::vector<Registration>& registrations();

    // The base names no type; a kind defines its own.
    static std::optional<std::string> transitionType() { return std::nullopt; }

    // This kind's sequence, made once per kind.
    const Sequence& sequence();

    // Names the next step, runs the schedule with the duration at once, and tells the
    // transition's delegate after that many seconds on the main queue, unless the
    // transition is gone by then.
    static void perform(const Schedule& schedule,
                        const std::shared_ptr<MVTabTransition>& transition,
                        const std::string& nextStep, double duration);

    double speedFactor() const { return speedFactor_; }
    void setSpeedFactor(double speedFactor) { speedFactor_ = speedFactor; }
    const std::shared_ptr<platform::ViewController>& appearingViewController() const {
        return appearing_;
    }
    void setAppearingViewController(std::shared_ptr<platform::ViewController> controller) {
        appearing_ = std::move(controller);
    }
    const std::shared_ptr<platform::ViewController>& disappearingViewController() const {
        return disappearing_;
    }
    void setDisappearingViewController(std::shared_ptr<platform::ViewController> controller) {
        disappearing_ = std::move(controller);
    }
    const std::optional<std::string>& nextTransitionStep() const { return nextStep_; }
    std::shared_ptr<MVTabTransitionDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MVTabTransitionDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // False: the appearing view goes above the disappearing one; true: below. The base
    // raises.
    virtual bool transitionViewHierarchy() const;
    const std::string& className() const { return className_; }

  protected:
    explicit MVTabTransition(std::string className = "MVTabTransition")
        : className_(std::move(className)) {}
    // The kind's sequence; null stands for one that is no dictionary. The base raises.
    virtual std::shared_ptr<const Sequence> transitionSequence() const;

  private:
    std::string className_;
    double speedFactor_ = 1.0;
    std::shared_ptr<platform::ViewController> appearing_;
    std::shared_ptr<platform::ViewController> disappearing_;
    std::optional<std::string> nextStep_;
    std::weak_ptr<MVTabTransitionDelegate> delegate_;
};

// "slideInFromBottom": the appearing view slides up from below the bounds, above the
// disappearing one, over 0.3 s times the speed factor.
class MVTabTransitionSlideInFromBottom : public MVTabTransition {
  public:
    static std::shared_ptr<MVTabTransitionSlideInFromBottom> create();
    static std::optional<std::string> transitionType() { return "slideInFromBottom"; }
    bool transitionViewHierarchy() const override { return false; }

  protected:
    MVTabTransitionSlideInFromBottom() : MVTabTransition("MVTabTransitionSlideInFromBottom") {}
    std::shared_ptr<const Sequence> transitionSequence() const override;
};

// "slideOutToBottom": the disappearing view slides down out of the bounds, above the
// appearing one, over 0.3 s times the speed factor.
class MVTabTranstitionSlideOutToBottom : public MVTabTransition {
  public:
    static std::shared_ptr<MVTabTranstitionSlideOutToBottom> create();
    static std::optional<std::string> transitionType() { return "slideOutToBottom"; }
    bool transitionViewHierarchy() const override { return true; }

  protected:
    MVTabTranstitionSlideOutToBottom() : MVTabTransition("MVTabTranstitionSlideOutToBottom") {}
    std::shared_ptr<const Sequence> transitionSequence() const override;
};
