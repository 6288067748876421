#include "libmerovane/containers/MVTabController.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/containers/MVNavigationController.h"
#include "libmerovane/containers/MVSpeedFactor.h"
#include "libmerovane/core/CALayerExtensions.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"

namespace {

constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;

// The one instance; the test-only reset forgets it.
std::shared_ptr<MVTabController>& sharedSlot() {
    static auto* slot = [] {
        auto* created = new std::shared_ptr<MVTabController>;
        platform::registerSharedInstanceReset("MVTabController", [created] { created->reset(); });
        return created;
    }();
    return *slot;
}

void removeAnimations(const std::shared_ptr<platform::ViewController>& controller) {
    if (controller && controller->isViewLoaded())
        removeAllAnimationsRecursive(*controller->viewIfLoaded()->layer());
}

void updateStatusBar() {
    setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
}

}  // namespace

std::shared_ptr<MVTabController> MVTabController::create() {
    if (sharedSlot())
        throw MVTabControllerDoubleInitializationException(
            "MVTabController can not initialized twice",
            "MVTabController is meant to be a singleton. Only one instance can be initialized. "
            "Call the sharedDefaultInstance method to get it.");
    auto tabs = std::shared_ptr<MVTabController>(new MVTabController);
    std::weak_ptr<MVTabController> weak = tabs;
    auto& center = platform::NotificationCenter::defaultCenter();
    tabs->bootObserver_ = platform::ObserverRegistration(
        center, center.addObserver(MVLibraryApplicationReceivedBootAppCommand, nullptr,
                                   [weak](const platform::Notification&) {
                                       if (auto strong = weak.lock())
                                           strong->appDidReceiveBootAppCommand();
                                   }));
    sharedSlot() = tabs;
    MVTabControllerInterface::install(tabs);
    return tabs;
}

std::shared_ptr<MVTabController> MVTabController::sharedDefaultInstance() {
    if (auto tabs = sharedSlot()) return tabs;
    return create();
}

MVTabController::~MVTabController() = default;

void MVTabController::loadView() {
    MVContainerViewController::loadView();
    const auto& own = viewIfLoaded();
    own->setUserInteractionEnabled(true);
    own->setAutoresizingMask(kFlexibleSize);
    own->setBackgroundColor(platform::Color::clear());
}

// Tabs

std::shared_ptr<MVNavigationController> MVTabController::navigationController(
    const std::optional<std::string>& identifier) {
    const std::string name = identifier.value_or("");
    auto tab = MVNavigationController::sharedInstanceForIdentifier(name);
    if (!tab) {
        tab = MVNavigationController::create();
        tab->setIdentifier(name);
        const auto& tabView = tab->view();
        tabView->setFrame(view()->bounds());
        tabView->setAutoresizingMask(kFlexibleSize);
        tab->viewShouldAdjustInsets(inheritedInsets_, false);
    }
    if (!content_) setContentViewController(tab);
    return tab;
}

std::shared_ptr<MVNavigationController> MVTabController::currentPresentedTab() const {
    return std::dynamic_pointer_cast<MVNavigationController>(content_);
}

std::shared_ptr<MVNavigationControllerInterface>
MVTabController::navigationControllerWithIdentifier(const std::optional<std::string>& identifier) {
    return navigationController(identifier);
}

std::shared_ptr<MVNavigationControllerInterface> MVTabController::navigationControllerForWebView(
    MVWebView& webView) {
    auto delegate = webView.delegate();
    if (!delegate) return nullptr;
    if (auto answer = delegate->navigationControllerForWebView(webView)) return answer;
    if (auto* controller = dynamic_cast<platform::ViewController*>(delegate.get()))
        return MVNavigationController::preservingNavigationControllerForViewController(*controller);
    return nullptr;
}

void MVTabController::setContentViewController(std::shared_ptr<platform::ViewController> content,
                                               bool exchangingViews) {
    if (content_ && exchangingViews) {
        removeAnimations(content_);
        if (content_->isViewLoaded()) content_->viewIfLoaded()->removeFromSuperview();
    }
    content_ = std::move(content);
    if (!content_) return;
    if (exchangingViews) {
        removeAnimations(content_);
        view()->addSubview(content_->view());
        if (auto* insets = dynamic_cast<MVViewHierarchyDelegate*>(content_.get()))
            insets->viewShouldAdjustInsets(inheritedInsets_, false);
    }
    std::string identifier;
    if (auto tab = currentPresentedTab()) identifier = tab->identifier().value_or("");
    MVEventDispatcher::sharedDispatcher().dispatchEvent(MVEventViews::tabDidChange(identifier));
}

// Presenting

std::shared_ptr<MVTabTransition> MVTabController::makeTransition(const std::string& type) {
    const auto& types = MVTabTransition::transitionTypes();
    auto found = types.find(type);
    if (found != types.end() && found->second.factory) return found->second.factory();
    // Every registered kind is a transition: an unknown name fails both checks.
    MVLogWarn("Transition class with identifier <{}> not found.", type);
    MVErrorLogger::logError("Transition class not found.", nlohmann::json(type));
    MVLogWarn("Transition class with identifier <{}> is not subclass of transition base class {}.",
              type, "MVTabTransition");
    MVErrorLogger::logError(
        fmt::format("Transition class is not subclass of trabnsition base class {}.",
                    "MVTabTransition"),
        {{"transitionType", type}, {"transitionClass", ""}});
    return nullptr;
}

void MVTabController::presentNavigationControllerWithIdentifier(
    const std::string& identifier, const std::optional<std::string>& transitionType,
    std::optional<double> speedFactor) {
    auto keep = self();
    auto tab = navigationController(identifier);
    if (transition_) transitionDidEnd(transition_);
    if (tab == content_) return;

    std::shared_ptr<MVTabTransition> transition;
    if (transitionType) transition = makeTransition(*transitionType);
    if (!transition) {
        setContentViewController(tab, true);
        auto frame = tab->view()->frame();
        frame.origin = {0, 0};
        tab->view()->setFrame(frame);
        updateStatusBar();
        return;
    }

    auto leaving = content_;
    transition->setAppearingViewController(tab);
    transition->setDisappearingViewController(leaving);
    if (speedFactor) transition->setSpeedFactor(MVSpeedFactorAbsolute(speedFactor));

    setContentViewController(tab, false);
    removeAnimations(tab);
    const auto& own = view();
    const auto& tabView = tab->view();
    const auto leavingView = leaving && leaving->isViewLoaded() ? leaving->viewIfLoaded() : nullptr;
    if (leavingView && leavingView->superview() == own) {
        if (transition->transitionViewHierarchy())
            own->insertSubviewBelow(tabView, leavingView);
        else
            own->insertSubviewAbove(tabView, leavingView);
    } else {
        own->addSubview(tabView);
    }
    updateStatusBar();
    for (const std::shared_ptr<platform::ViewController>& told :
         {std::shared_ptr<platform::ViewController>(tab), leaving})
        if (auto* tabbed = dynamic_cast<MVTabTransitioning*>(told.get()))
            tabbed->tabControllerWillStartsTransitionWith(*this, *transition);

    transition_ = transition;
    transition->setDelegate(std::static_pointer_cast<MVTabTransitionDelegate>(self()));
    doTransition(transition, MVTabTransitionStepStart);
}

// Running a transition

void MVTabController::tabTransitionDidFinishTransitionStep(MVTabTransition& transition) {
    auto step = transition.nextTransitionStep().value_or("");
    if (finishing_.lock().get() == &transition) step = MVTabTransitionStepFinished;
    doTransition(transition.shared_from_this(), step);
}

void MVTabController::doTransition(const std::shared_ptr<MVTabTransition>& transition,
                                   const std::string& step) {
    auto keep = self();
    if (transition != transition_) {
        transitionDidEnd(transition);
        return;
    }
    const auto& sequence = transition->sequence();
    auto block = sequence.find(step);
    if (block == sequence.end()) {
        MVLogWarn("MVTabTransition: sequence block <{}> not found in class :<{}>.", step,
                  transition->className());
        if (content_) content_->view()->setFrame(view()->bounds());
        transitionDidEnd(transition);
        return;
    }
    const bool finalStep = step == MVTabTransitionStepFinished;
    const auto& disappearing = transition->disappearingViewController();
    block->second(*transition, content_ ? content_->view() : nullptr,
                  disappearing ? disappearing->view() : nullptr, view()->bounds());
    if (!finalStep) return;
    if (transition->nextTransitionStep() != MVTabTransitionStepFinished) {
        MVLogError(
            "Another transition sequence step not expected after occurrence of: \"{}\" for "
            "transition from type \"{}\"",
            step, transition->className());
        // Its timer runs the final step again, which ends it.
        finishing_ = transition;
    } else {
        transitionDidEnd(transition);
    }
}

void MVTabController::transitionDidEnd(const std::shared_ptr<MVTabTransition>& transition) {
    auto keep = self();
    const auto leaving = transition->disappearingViewController();
    if (transition != transition_) {
        // A superseded transition: the running one, if any, keeps the presented tab.
        if (!transition_ && content_) {
            const auto& tabView = content_->view();
            const auto bounds = view()->bounds();
            if (tabView->frame() != bounds) {
                MVLogWarn(
                    "The end frame  <{}> of MVTabTransition<{}> is not is supposed to be: <{}>",
                    platform::toString(tabView->frame()), transition->className(),
                    platform::toString(bounds));
                tabView->setFrame(bounds);
            }
        }
        // Ended already when it was superseded.
        if (!leaving) return;
    }
    for (const auto& told : {transition->appearingViewController(), leaving})
        if (auto* tabbed = dynamic_cast<MVTabTransitioning*>(told.get()))
            tabbed->tabControllerDidEndTransitionWith(*this, *transition);
    if (leaving && leaving->isViewLoaded()) {
        removeAllAnimationsRecursive(*leaving->viewIfLoaded()->layer());
        if (leaving != content_) leaving->viewIfLoaded()->removeFromSuperview();
    }
    transition->setDisappearingViewController(nullptr);
    if (transition != transition_) return;
    transition_.reset();
    // Ended early, before its movement: the presented tab goes where the movement would
    // have left it.
    if (content_ && content_->isViewLoaded()) {
        const auto& tabView = content_->viewIfLoaded();
        const auto bounds = view()->bounds();
        if (tabView->frame() != bounds) tabView->setFrame(bounds);
    }
}

// Insets and the status bar

void MVTabController::viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) {
    inheritedInsets_ = insets;
    for (const auto& tab : MVNavigationController::allSharedIdentifiedInstances())
        tab->viewShouldAdjustInsets(insets, animated);
}

platform::StatusBarStyle MVTabController::preferredStatusBarStyle() const {
    if (content_) return content_->preferredStatusBarStyle();
    return MVStatusBarStyle::statusBarStyleAppDefault()->preferredStatusbarStyle();
}

bool MVTabController::prefersStatusBarHidden() const {
    if (content_) return content_->prefersStatusBarHidden();
    return MVStatusBarStyle::statusBarStyleAppDefault()->prefersStatusBarHidden();
}

// The boot command

void MVTabController::appDidReceiveBootAppCommand() {
    auto keep = self();
    if (auto transition = transition_) {
        removeAnimations(transition->disappearingViewController());
        removeAnimations(transition->appearingViewController());
        if (auto leaving = transition->disappearingViewController();
            leaving && leaving->isViewLoaded())
            leaving->viewIfLoaded()->removeFromSuperview();
        transition->setDisappearingViewController(nullptr);
        transition_.reset();
    }
    MVNavigationController::removeAllSharedInstances();
    if (content_ && content_->isViewLoaded()) content_->viewIfLoaded()->removeFromSuperview();
    content_.reset();
}
