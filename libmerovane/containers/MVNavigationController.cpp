#include "libmerovane/containers/MVNavigationController.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/containers/MVSpeedFactor.h"
#include "libmerovane/containers/MVTabController.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"

namespace {

using Controller = MVNavigationController::Controller;
using Controllers = MVNavigationController::Controllers;
using namespace MVEventWebViews;

constexpr size_t kTrimThreshold = 11;
constexpr double kHeaderCrossFadeDuration = 0.3;
constexpr unsigned kHeaderResizing =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleBottomMargin;

// Pages of preserved stacks by identity, each with the tab that preserves it.
struct Preserving {
    std::weak_ptr<platform::ViewController> page;
    std::shared_ptr<MVNavigationController> tab;
};
std::map<const platform::ViewController*, Preserving>& preservingRegistry() {
    static auto* registry = [] {
        auto* created = new std::map<const platform::ViewController*, Preserving>;
        platform::registerSharedInstanceReset("MVNavigationController preserving",
                                              [created] { created->clear(); });
        return created;
    }();
    return *registry;
}

bool contains(const Controllers& list, const Controller& controller) {
    return std::find(list.begin(), list.end(), controller) != list.end();
}

void updateStatusBar() {
    setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
}

MVWebViewController* asPage(const Controller& controller) {
    return dynamic_cast<MVWebViewController*>(controller.get());
}

const nlohmann::json* parametersOf(const Controller& controller) {
    auto* page = asPage(controller);
    return page ? page->navigationBarParameters() : nullptr;
}

std::optional<std::string> itemTitle(const Controller& controller) {
    return controller->navigationItem().title();
}

// A page's own title for the bar; the navigation item's for other controllers.
std::optional<std::string> barTitle(const Controller& controller) {
    auto* page = asPage(controller);
    return page ? page->navigationBarTitle() : itemTitle(controller);
}

}  // namespace

// Creation

std::shared_ptr<MVNavigationController> MVNavigationController::create() {
    return setUp(std::shared_ptr<MVNavigationController>(new MVNavigationController));
}

MVNavigationController::MVNavigationController() = default;

MVNavigationController::~MVNavigationController() = default;

void MVNavigationController::setUpTab() {
    setDelegate(std::static_pointer_cast<platform::NavigationControllerDelegate>(self()));
    setNavigationBarHidden(true, false);
    webViewHeader_ = initializeHeaderWebView(MVWebView::create(platform::Rect()));
    isWebViewHeaderHidden_ = true;
    std::weak_ptr<platform::ViewController> weak = weak_from_this();
    webCacheObserver_ = MVObserveWebCacheUpdatesOnMainThread([weak](const std::string& key) {
        if (auto strong = weak.lock())
            static_cast<MVNavigationController&>(*strong).webCacheDidUpdateSourceWithKey(key);
    });
}

std::shared_ptr<MVWebView> MVNavigationController::initializeHeaderWebView(
    std::shared_ptr<MVWebView> webView) {
    webView->setBackgroundColor(platform::Color::clear());
    webView->setDelegate(std::static_pointer_cast<MVWebViewDelegate>(self()));
    webView->setAlpha(0);
    return webView;
}

void MVNavigationController::loadView() {
    platform::NavigationController::loadView();
    const auto& own = viewIfLoaded();
    webViewHeader_->setDebugName("NavigationBar:" + identifier().value_or(""));
    const auto bounds = own->bounds();
    webViewHeader_->setFrame(
        platform::Rect(bounds.origin.x, bounds.origin.y, bounds.size.width, 0));
    webViewHeader_->setAutoresizingMask(kHeaderResizing);
    own->addSubview(webViewHeader_);
    const auto& recognizer = interactivePopGestureRecognizer();
    recognizer->setDelegate(std::static_pointer_cast<platform::GestureRecognizerDelegate>(self()));
    recognizer->setEnabled(popGestureEnabled_);
}

Controller MVNavigationController::placeholder() {
    return platform::ViewController::create();
}

void MVNavigationController::afterTurn(std::function<void(MVNavigationController&)> work) {
    std::weak_ptr<platform::ViewController> weak = weak_from_this();
    platform::RunLoop::main().postAfterDetached(0, [weak, work = std::move(work)] {
        if (auto strong = weak.lock()) work(static_cast<MVNavigationController&>(*strong));
    });
}

// State

bool MVNavigationController::hasEmptyStack() const {
    return preserved_ ? preserved_->empty() : hasDummyView_;
}

Controllers MVNavigationController::pageStack() const {
    return preserved_ ? *preserved_ : viewControllers();
}

// Preserving

bool MVNavigationController::startPreservingViewControllers(const Edit& edit,
                                                            Controllers* affected) {
    auto keep = self();
    if (!hasEmptyStack() && isRequestedCleanTab_) clearStack();
    if (preserved_) {
        auto result = edit(true, *preserved_);
        if (affected) *affected = std::move(result);
        return false;
    }
    if (hasDummyView_ && !viewControllers().empty())
        platform::NavigationController::setViewControllers({}, false);
    hasDummyView_ = false;
    Controllers list = viewControllers();
    auto result = edit(false, list);
    if (affected) *affected = std::move(result);
    if (!isVisible_) return false;
    preserved_ = viewControllers();
    endPreservingWhenThePlatformHasShown();
    return true;
}

void MVNavigationController::endPreservingWhenThePlatformHasShown() {
    if (isTransitioning()) return;
    afterTurn([](MVNavigationController& tab) { tab.endPreservingViewControllers(); });
}

bool MVNavigationController::endPreservingViewControllers() {
    auto keep = self();
    if (!hasModifiedStackDuringAnimation_ || !preserved_) {
        if (!viewControllers().empty()) {
            if (hasSetPreservingNavigationController_) {
                setPreservingNavigationControllerOfPreservedViewControllers(false);
                hasSetPreservingNavigationController_ = false;
            }
            hasModifiedStackDuringAnimation_ = false;
            preserved_.reset();
            return true;
        }
        hasDummyView_ = true;
        platform::NavigationController::setViewControllers({placeholder()}, false);
        endPreservingWhenThePlatformHasShown();
        return false;
    }
    hasModifiedStackDuringAnimation_ = false;
    const auto remembered = topViewController();
    Controllers list;
    if (!preserved_->empty()) {
        const auto top = preserved_->back();
        int animation = kNone;
        if (isVisible_ && top != remembered)
            animation = contains(viewControllers(), top) ? kPop : kPush;
        tellNavigationBarOfTop(top, animation, preserved_->size() > 1);
        updateChildViewInsets(top);
        list = *preserved_;
    } else {
        tellNavigationBar(std::string(), kNone, false, nullptr);
        hasDummyView_ = true;
        list = {placeholder()};
    }
    afterTurn([list = std::move(list)](MVNavigationController& tab) {
        tab.platform::NavigationController::setViewControllers(list, tab.isVisible_);
        tab.endPreservingWhenThePlatformHasShown();
        updateStatusBar();
    });
    return false;
}

void MVNavigationController::dropPreservedViewControllers() {
    auto& registry = preservingRegistry();
    std::erase_if(registry, [this](const auto& entry) { return entry.second.tab.get() == this; });
    hasSetPreservingNavigationController_ = false;
    hasModifiedStackDuringAnimation_ = false;
    viewControllerPoppedByGesture_.reset();
    preserved_.reset();
}

void MVNavigationController::removeAllSharedInstances() {
    std::vector<std::shared_ptr<MVNavigationController>> tabs = allSharedIdentifiedInstances();
    for (const auto& entry : preservingRegistry()) tabs.push_back(entry.second.tab);
    for (const auto& tab : tabs) tab->dropPreservedViewControllers();
    MVInstanceTracking<MVNavigationController>::removeAllSharedInstances();
}

bool MVNavigationController::isPreservedViewControllerModifiable() {
    if (!preserved_) return false;
    hasModifiedStackDuringAnimation_ = true;
    return true;
}

std::optional<Controllers> MVNavigationController::replacePreservedViewControllers(
    const Controllers& controllers) {
    if (!isPreservedViewControllerModifiable()) {
        MVLogError(
            "MVNavigationController: preserved view controllers replaced while not preserving");
        return std::nullopt;
    }
    setPreservingNavigationControllerOfPreservedViewControllers(false);
    preserved_ = controllers;
    setPreservingNavigationControllerOfPreservedViewControllers(true);
    return preserved_;
}

std::optional<Controllers> MVNavigationController::addPreservedViewControllers(
    const Controllers& controllers) {
    if (controllers.empty() || !isPreservedViewControllerModifiable()) return std::nullopt;
    setPreservingNavigationController(true, controllers);
    preserved_->insert(preserved_->end(), controllers.begin(), controllers.end());
    return controllers;
}

std::optional<Controllers> MVNavigationController::removePreservedViewControllers(
    const Controllers& controllers) {
    if (controllers.empty() || !isPreservedViewControllerModifiable()) return std::nullopt;
    setPreservingNavigationController(false, controllers);
    for (const auto& controller : controllers) std::erase(*preserved_, controller);
    return controllers;
}

std::optional<Controllers> MVNavigationController::removePreservedViewControllersInRange(
    size_t location, size_t length) {
    if (!isPreservedViewControllerModifiable()) return std::nullopt;
    location = std::min(location, preserved_->size());
    length = std::min(length, preserved_->size() - location);
    const auto first = preserved_->begin() + std::ptrdiff_t(location);
    const auto last = first + std::ptrdiff_t(length);
    Controllers removed(first, last);
    preserved_->erase(first, last);
    setPreservingNavigationController(false, removed);
    return removed;
}

void MVNavigationController::setPreservingNavigationController(bool set,
                                                               const Controllers& controllers) {
    auto& registry = preservingRegistry();
    for (const auto& controller : controllers) {
        if (!controller) continue;
        if (set) {
            registry[controller.get()] = {controller, self()};
            hasSetPreservingNavigationController_ = true;
        } else if (auto found = registry.find(controller.get());
                   found != registry.end() && found->second.tab.get() == this) {
            registry.erase(found);
        }
    }
}

void MVNavigationController::setPreservingNavigationControllerOfPreservedViewControllers(bool set) {
    if (preserved_) setPreservingNavigationController(set, Controllers(*preserved_));
}

std::shared_ptr<MVNavigationController>
MVNavigationController::preservingNavigationControllerForViewController(
    const platform::ViewController& controller) {
    auto& registry = preservingRegistry();
    auto found = registry.find(&controller);
    if (found == registry.end()) return nullptr;
    if (found->second.page.lock().get() != &controller) {
        registry.erase(found);
        return nullptr;
    }
    return found->second.tab;
}

// The navigation bar

void MVNavigationController::tellNavigationBar(const std::optional<std::string>& title,
                                               int animation, bool back,
                                               const nlohmann::json* parameters,
                                               MVWebView* header) {
    const nlohmann::json bar = title ? nlohmann::json(*title) : nlohmann::json();
    const auto event = updateNavigationBar(title ? &bar : nullptr, animation,
                                           back ? kLeftButtonArrow : 0u, parameters);
    if (header)
        header->performMVEvent(event);
    else
        performEvent(event);
}

void MVNavigationController::tellNavigationBarOfTop(const Controller& top, int animation,
                                                    bool back) {
    tellNavigationBar(itemTitle(top), animation, back, parametersOf(top));
}

void MVNavigationController::performEvent(const MVEvent& event) {
    webViewHeader_->performMVEvent(event);
}

// Stack operations

void MVNavigationController::push(const Controller& controller, bool animated) {
    if (!controller) {
        MVLogWarn("MVNavigationController{} pushing no view controller ignored",
                  identifier().value_or(""));
        return;
    }
    if (contains(pageStack(), controller)) {
        // The platform would raise once the preserved stack reaches it.
        MVLogWarn("MVNavigationController{} pushing a view controller it holds ignored",
                  identifier().value_or(""));
        return;
    }
    auto keep = self();
    startPreservingViewControllers([&](bool preserving, Controllers& list) -> Controllers {
        auto* page = asPage(controller);
        bool replacesTop = false;
        if (const auto top = list.empty() ? nullptr : list.back(); page && asPage(top)) {
            auto* topPage = asPage(top);
            if (topPage->removeDiscardablePages()) {
                if (topPage->historySize() >= 1)
                    topPage->reloadLastPageAfterDelay(animated && !preserving ? 0.3 : 0);
                else if (preserving)
                    removePreservedViewControllers({top});
                else
                    replacesTop = true;
            }
        }
        if (page) page->setDelegate(std::static_pointer_cast<MVWebViewControllerDelegate>(self()));
        if (preserving) {
            addPreservedViewControllers({controller});
            return {controller};
        }
        controller->view()->setFrame(view()->bounds());
        Controllers next = list;
        if (replacesTop) next.pop_back();
        next.push_back(controller);
        tellNavigationBarOfTop(controller, animated ? kPush : kNone, next.size() > 1);
        updateChildViewInsets(controller);
        if (replacesTop)
            platform::NavigationController::setViewControllers(next, animated);
        else
            platform::NavigationController::push(controller, animated);
        updateStatusBar();
        return {controller};
    });
}

Controller MVNavigationController::pop(bool animated) {
    auto keep = self();
    if (hasEmptyStack()) return nullptr;
    if (popGestureBegan()) return popByGesture();
    return popWithQuestion(animated);
}

Controller MVNavigationController::popWithQuestion(bool animated) {
    const auto stack = pageStack();
    if (stack.size() <= 1) {
        updateStatusBar();
        return nullptr;
    }
    const auto top = stack.back();
    if (auto* page = asPage(top)) {
        if (!page->shouldBePoppedOfNavigationController(*this)) return nullptr;
        page->setDelegate({});
    }
    Controllers affected;
    startPreservingViewControllers(
        [&](bool preserving, Controllers& list) -> Controllers {
            if (preserving) return removePreservedViewControllers({top}).value_or(Controllers());
            if (list.size() < 2 || list.back() != top) return {};
            const auto below = list[list.size() - 2];
            tellNavigationBar(barTitle(below), kPop, list.size() > 2, parametersOf(below));
            platform::NavigationController::pop(animated);
            updateStatusBar();
            return {top};
        },
        &affected);
    return affected.empty() ? nullptr : affected.back();
}

Controllers MVNavigationController::popTo(const Controller& controller, bool animated) {
    auto keep = self();
    if (hasEmptyStack()) return {};
    const auto stack = pageStack();
    // The page-stack top may not be on the platform's stack yet, and a stranger never is.
    if (!contains(stack, controller) || stack.back() == controller) {
        if (!contains(stack, controller))
            MVLogWarn("MVNavigationController{} pop to a page it does not hold ignored",
                      identifier().value_or(""));
        return {};
    }
    Controllers affected;
    startPreservingViewControllers(
        [&](bool preserving, Controllers& list) -> Controllers {
            const auto at = std::find(list.begin(), list.end(), controller);
            if (at == list.end()) return {};
            const auto index = size_t(at - list.begin());
            if (preserving)
                return removePreservedViewControllersInRange(index + 1, list.size() - index - 1)
                    .value_or(Controllers());
            tellNavigationBar(itemTitle(controller), kPop, index > 0, parametersOf(controller));
            auto popped = platform::NavigationController::popTo(controller, animated);
            updateStatusBar();
            return popped;
        },
        &affected);
    return affected;
}

Controllers MVNavigationController::popToRoot(bool animated) {
    auto keep = self();
    if (hasEmptyStack()) return {};
    if (pageStack().size() < 2) {
        auto popped = platform::NavigationController::popToRoot(animated);
        updateStatusBar();
        return popped;
    }
    Controllers affected;
    startPreservingViewControllers(
        [&](bool preserving, Controllers& list) -> Controllers {
            if (list.empty()) return {};
            const auto root = list.front();
            if (preserving) {
                Controllers popped(list.begin() + 1, list.end());
                replacePreservedViewControllers({root});
                return popped;
            }
            tellNavigationBar(itemTitle(root), kPop, false, parametersOf(root));
            auto popped = platform::NavigationController::popToRoot(animated);
            updateStatusBar();
            return popped;
        },
        &affected);
    return affected;
}

void MVNavigationController::setViewControllers(Controllers controllers, bool animated) {
    auto keep = self();
    std::erase(controllers, nullptr);
    startPreservingViewControllers([&](bool preserving, Controllers& list) -> Controllers {
        if (preserving) return replacePreservedViewControllers(controllers).value_or(Controllers());
        const auto top = controllers.empty() ? nullptr : controllers.back();
        const auto currentTop = list.empty() ? nullptr : list.back();
        int animation = kPush;
        if (top == currentTop)
            animation = kNone;
        else if (contains(list, top))
            animation = kPop;
        tellNavigationBar(top ? itemTitle(top) : std::string(), animation, controllers.size() > 1,
                          top ? parametersOf(top) : nullptr);
        if (top) updateChildViewInsets(top);
        platform::NavigationController::setViewControllers(controllers, animated);
        updateStatusBar();
        return controllers;
    });
}

void MVNavigationController::setContentViewController(Controller controller) {
    const bool none = !controller;
    setViewControllers(none ? Controllers() : Controllers{std::move(controller)}, false);
    hasDummyView_ = none;
    updateStatusBar();
}

// Tags

void MVNavigationController::popPagesWithTags(const std::vector<std::string>& tags, bool animated) {
    if (hasEmptyStack()) return;
    Controllers kept;
    for (const auto& controller : pageStack()) {
        auto* page = asPage(controller);
        if (!page || page->removeHistoryEntriesForTags(tags)) kept.push_back(controller);
    }
    setViewControllers(std::move(kept), animated);
}

void MVNavigationController::popToTag(const std::string& tag, bool animated) {
    if (hasEmptyStack()) return;
    const auto stack = pageStack();
    for (size_t i = stack.size(); i-- > 0;) {
        auto* page = asPage(stack[i]);
        if (!page) continue;
        if (page->popHistoryToTag(tag) || (i + 1 != stack.size() && page->containsTag(tag))) {
            popTo(stack[i], animated);
            return;
        }
    }
}

// Flush, clean, clear

void MVNavigationController::flush() {
    if (hasEmptyStack() || pageStack().empty()) return;
    startPreservingViewControllers([&](bool preserving, Controllers& list) -> Controllers {
        if (list.empty()) return {};
        if (preserving)
            return removePreservedViewControllersInRange(0, list.size() - 1)
                .value_or(Controllers());
        Controllers dropped(list.begin(), list.end() - 1);
        platform::NavigationController::setViewControllers({list.back()}, false);
        updateStatusBar();
        return dropped;
    });
}

void MVNavigationController::clean() {
    if (hasEmptyStack()) {
        isRequestedCleanTab_ = false;
        return;
    }
    isRequestedCleanTab_ = true;
    if (!isBeingAnimated_) clearStack();
}

void MVNavigationController::clearStack() {
    if (hasEmptyStack()) return;
    auto keep = self();
    isRequestedCleanTab_ = false;
    if (preserved_) {
        removePreservedViewControllersInRange(0, preserved_->size());
        return;
    }
    hasDummyView_ = true;
    platform::NavigationController::setViewControllers({placeholder()}, false);
    tellNavigationBar(std::string(), kNone, false, nullptr);
    // The placeholder's transition runs until the next turn: edits wait for its end.
    if (isVisible_) preserved_ = Controllers();
}

void MVNavigationController::tabControllerWillStartsTransitionWith(platform::ViewController&,
                                                                   MVTabTransition&) {
    isBeingAnimated_ = true;
}

void MVNavigationController::tabControllerDidEndTransitionWith(platform::ViewController&,
                                                               MVTabTransition&) {
    isBeingAnimated_ = false;
    if (isRequestedCleanTab_) clean();
}

// The interactive pop

void MVNavigationController::setPopGestureEnabled(bool enabled) {
    popGestureEnabled_ = enabled;
    interactivePopGestureRecognizer()->setEnabled(enabled);
}

bool MVNavigationController::popGestureBegan() const {
    auto* self = const_cast<MVNavigationController*>(this);
    return isViewLoaded() && self->interactivePopGestureRecognizer()->state() ==
                                 platform::GestureRecognizerState::Began;
}

std::optional<bool> MVNavigationController::shouldBegin(platform::GestureRecognizer& recognizer) {
    if (popGestureEnabled_) return !preserved_ && viewControllers().size() > 1;
    return &recognizer != interactivePopGestureRecognizer().get();
}

Controller MVNavigationController::popByGesture() {
    if (preserved_) {
        MVErrorLogger::logError(
            "NavigationController.popViewControllerAnimated(): InteractivePopGesture during "
            "preserved",
            {{"tab", identifier().value_or("")}});
        return nullptr;
    }
    auto before = viewControllers();
    auto popped = platform::NavigationController::pop(true);
    if (popped) {
        preserved_ = std::move(before);
        setPreservingNavigationController(true, {popped});
        viewControllerPoppedByGesture_ = popped;
    }
    return popped;
}

void MVNavigationController::willShow(platform::NavigationController&, platform::ViewController&,
                                      bool) {
    if (!popGestureBegan()) return;
    const auto top = topViewController();
    auto coordinator = top ? top->transitionCoordinator() : nullptr;
    if (!coordinator) return;
    std::weak_ptr<platform::ViewController> weak = weak_from_this();
    coordinator->notifyWhenInteractionEnds([weak](bool cancelled) {
        if (auto strong = weak.lock())
            static_cast<MVNavigationController&>(*strong).interactivePopEnded(cancelled);
    });
}

void MVNavigationController::interactivePopEnded(bool cancelled) {
    auto keep = self();
    const auto popped = std::move(viewControllerPoppedByGesture_);
    viewControllerPoppedByGesture_.reset();
    if (cancelled) {
        if (!hasModifiedStackDuringAnimation_) {
            endPreservingViewControllers();
            return;
        }
        // The platform animates back for at most one transition and announces nothing:
        // edits made meanwhile reach it after that.
        std::weak_ptr<platform::ViewController> weak = weak_from_this();
        platform::RunLoop::main().postAfterDetached(
            platform::kNavigationTransitionDuration, [weak] {
                if (auto strong = weak.lock())
                    static_cast<MVNavigationController&>(*strong).endPreservingViewControllers();
            });
        return;
    }
    startPreservingViewControllers([&](bool preserving, Controllers&) -> Controllers {
        if (!preserving) {
            MVErrorLogger::logError(
                "MVNavigationController.willShowViewController() end of popGesture without "
                "preserving view controllers");
            return {};
        }
        if (auto* page = asPage(popped)) page->setDelegate({});
        if (!popped) return {};
        return removePreservedViewControllers({popped}).value_or(Controllers());
    });
}

void MVNavigationController::didShow(platform::NavigationController&, platform::ViewController&,
                                     bool) {
    endPreservingViewControllers();
}

// Appearance and memory

void MVNavigationController::viewWillAppear(bool animated) {
    isVisible_ = true;
    platform::NavigationController::viewWillAppear(animated);
    if (!isWebViewHeaderHidden_) sendToWebviewHeaderIfNecessaryViewWillAppearAnimated(animated);
}

void MVNavigationController::viewDidAppear(bool animated) {
    platform::NavigationController::viewDidAppear(animated);
    if (!isWebViewHeaderHidden_) sendToWebviewHeaderIfNecessaryViewDidAppearAnimated(animated);
}

void MVNavigationController::viewWillDisappear(bool animated) {
    isVisible_ = false;
    platform::NavigationController::viewWillDisappear(animated);
    if (!isWebViewHeaderHidden_) sendToWebviewHeaderIfNecessaryViewWillDisappearAnimated(animated);
}

void MVNavigationController::viewDidDisappear(bool animated) {
    platform::NavigationController::viewDidDisappear(animated);
    if (!isWebViewHeaderHidden_) sendToWebviewHeaderIfNecessaryViewDidDisappearAnimated(animated);
}

void MVNavigationController::didReceiveMemoryWarning() {
    platform::NavigationController::didReceiveMemoryWarning();
    if (hasEmptyStack()) return;
    startPreservingViewControllers([&](bool preserving, Controllers& list) -> Controllers {
        if (list.size() < kTrimThreshold) return {};
        const Controllers cut{list.front(), list[list.size() - 2], list.back()};
        if (preserving) return replacePreservedViewControllers(cut).value_or(Controllers());
        platform::NavigationController::setViewControllers(cut, false);
        return cut;
    });
}

// The header: place, insets and rendering

void MVNavigationController::viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool) {
    inheritedInsets_ = insets;
    headerInsets_ = {insets.top, insets.left, 0, insets.right};
    performEvent(pageInsetsChanged(headerInsets_, false));
    webViewDidChangePageSize(*webViewHeader_);
}

void MVNavigationController::webViewDidChangePageSize(MVWebView& webView) {
    if (&webView != webViewHeader_.get()) return;
    auto frame = webViewHeader_->frame();
    frame.size.height = webViewHeader_->sizeOfHtmlContent().height;
    webViewHeader_->setFrame(frame);
    updateChildViewInsets(topViewController());
}

void MVNavigationController::updateChildViewInsets(const Controller& controller) {
    auto* child = dynamic_cast<MVViewHierarchyDelegate*>(controller.get());
    if (!child) return;
    child->viewShouldAdjustInsets({webViewHeader_->bounds().size.height, inheritedInsets_.left,
                                   inheritedInsets_.bottom, inheritedInsets_.right},
                                  false);
}

void MVNavigationController::setNavigationBarWithURL(const std::string& url) {
    webViewHeader_->openUrl(url);
}

void MVNavigationController::setNavigationBarWithUrlApi(const std::string& pageId) {
    webViewHeader_->openUrlApi(pageId);
}

void MVNavigationController::webViewDidFinishRendering(MVWebView& webView) {
    std::shared_ptr<MVWebView> old;
    if (webViewHeaderRefresh_ && &webView == webViewHeaderRefresh_.get()) {
        old = webViewHeader_;
        webViewHeader_ = webViewHeaderRefresh_;
        webViewHeaderRefresh_.reset();
        webViewHeader_->setAutoresizingMask(kHeaderResizing);
        view()->addSubview(webViewHeader_);
    } else if (&webView != webViewHeader_.get()) {
        return;
    }
    auto header = webViewHeader_;
    header->performMVEvent(pageInsetsChanged(headerInsets_, false));
    if (old) {
        const auto bounds = old->bounds();
        header->setFrame(platform::Rect(0, 0, bounds.size.width, bounds.size.height));
    } else {
        auto frame = header->frame();
        frame.size.height = header->sizeOfHtmlContent().height;
        header->setFrame(frame);
    }
    header->setDebugName("NavigationBar:" + identifier().value_or(""));
    const auto top = topViewController();
    if (old) {
        const bool empty = hasEmptyStack() || !top;
        tellNavigationBar(empty ? std::nullopt : itemTitle(top), kNone, false,
                          empty ? nullptr : parametersOf(top));
    }
    updateChildViewInsets(top);
    if (old) swapInRefreshedHeader(old);
}

// The new header fades in to the old one's alpha, then the old one fades out and goes.
void MVNavigationController::swapInRefreshedHeader(const std::shared_ptr<MVWebView>& old) {
    viewWillAppearEventIsAlreadySentToWebViewHeader_ = false;
    viewDidAppearEventIsAlreadySentToWebViewHeader_ = false;
    viewWillDisappearEventIsAlreadySentToWebViewHeader_ = false;
    viewDidDisappearEventIsAlreadySentToWebViewHeader_ = false;
    const bool shown = !isWebViewHeaderHidden_;
    const double oldAlpha = old->alpha();
    auto header = webViewHeader_;
    platform::View::animate(
        kHeaderCrossFadeDuration, 0, 0, [&] { header->setAlpha(oldAlpha); },
        [old, shown](bool) {
            if (shown) old->performMVEvent(MVEventViews::viewDidDisappearAnimated(true));
            platform::View::animate(
                kHeaderCrossFadeDuration, 0, 0, [&] { old->setAlpha(0); },
                [old](bool) { old->removeFromSuperview(); });
        });
    if (shown) old->performMVEvent(MVEventViews::viewWillDisappearAnimated(true));
    sendToWebviewHeaderIfNecessaryViewWillAppearAnimated(true);
}

// Refresh

void MVNavigationController::reload() {
    cancelHeaderWebViewRefresh();
    auto refresh = initializeHeaderWebView(webViewHeader_->copy());
    webViewHeaderRefresh_ = refresh;
    refresh->setDebugName("NavigationBar(refreshing):" + identifier().value_or(""));
    refresh->reloadWithClearingChache(false);
    const auto top = topViewController();
    const bool empty = hasEmptyStack() || !top;
    tellNavigationBar(empty ? std::string() : itemTitle(top), kNone, false,
                      empty ? nullptr : parametersOf(top), refresh.get());
}

void MVNavigationController::cancelHeaderWebViewRefresh() {
    auto refresh = webViewHeaderRefresh_;
    if (!refresh || refresh == webViewHeader_) return;
    refresh->setIsGarbage(true);
    refresh->setDelegate({});
    webViewHeaderRefresh_.reset();
    refresh->clear();
    refresh->removeFromSuperview();
}

void MVNavigationController::webCacheDidUpdateSourceWithKey(const std::string& key) {
    if (!webViewHeader_ || webViewHeader_->isLoading() || webViewHeaderRefresh_) return;
    const auto url = webViewHeader_->currentUrl();
    if (!url || !MVWebCacheKeyIsApiPageOfUrl(key, *url)) return;
    reload();
}

// Showing and hiding

double MVNavigationController::duration() {
    return platform::kNavigationControllerHideShowBarDuration;
}

double MVNavigationController::durationForSpeedFactor(std::optional<double> speedFactor) {
    return duration() * static_cast<float>(MVSpeedFactorAsGiven(speedFactor));
}

double MVNavigationController::posYClosedState() const {
    return -webViewHeader_->frame().size.height;
}

void MVNavigationController::setWebViewHeaderOriginY(double y) {
    auto frame = webViewHeader_->frame();
    frame.origin.y = y;
    webViewHeader_->setFrame(frame);
}

void MVNavigationController::showNavigationBarWithAnimation(MVBarAnimation animation,
                                                            std::optional<double> speedFactor) {
    if (!isWebViewHeaderHidden_) return;
    isWebViewHeaderHidden_ = false;
    if (!isVisible_) {
        webViewHeader_->setAlpha(1);
        setWebViewHeaderOriginY(0);
        isCompletelyPresentedAnimated(false);
        return;
    }
    sendToWebviewHeaderIfNecessaryViewWillAppearAnimated(animation != MVBarAnimation::None);
    const auto openNextTurn = [this, speedFactor] {
        afterTurn([speedFactor](MVNavigationController& tab) {
            // A hide in the same turn wins over the movement.
            if (!tab.isWebViewHeaderHidden_) tab.openAnimated(speedFactor);
        });
    };
    switch (animation) {
        case MVBarAnimation::Slide:
            webViewHeader_->setAlpha(1);
            openNextTurn();
            break;
        case MVBarAnimation::Fade:
            setWebViewHeaderOriginY(0);
            webViewHeader_->setAlpha(0);
            openNextTurn();
            break;
        case MVBarAnimation::None:
            webViewHeader_->setAlpha(1);
            setWebViewHeaderOriginY(0);
            isCompletelyPresentedAnimated(false);
            break;
        default:  // other kinds move nothing
            break;
    }
}

void MVNavigationController::openAnimated(std::optional<double> speedFactor) {
    std::weak_ptr<platform::ViewController> weak = weak_from_this();
    platform::View::animate(
        durationForSpeedFactor(speedFactor), 0, platform::kAnimationOptionBeginFromCurrentState,
        [&] {
            webViewHeader_->setAlpha(1);
            setWebViewHeaderOriginY(0);
        },
        [weak](bool finished) {
            auto strong = weak.lock();
            if (!strong || !finished) return;
            auto& tab = static_cast<MVNavigationController&>(*strong);
            if (!tab.isWebViewHeaderHidden_) tab.isCompletelyPresentedAnimated(true);
        });
}

void MVNavigationController::isCompletelyPresentedAnimated(bool animated) {
    if (isVisible_) sendToWebviewHeaderIfNecessaryViewDidAppearAnimated(animated);
}

void MVNavigationController::hideNavigationBarWithAnimation(MVBarAnimation animation,
                                                            std::optional<double> speedFactor) {
    if (isWebViewHeaderHidden_) return;
    isWebViewHeaderHidden_ = true;
    if (isVisible_)
        sendToWebviewHeaderIfNecessaryViewWillDisappearAnimated(animation != MVBarAnimation::None);
    std::weak_ptr<platform::ViewController> weak = weak_from_this();
    const auto hidden = [weak](bool finished) {
        auto strong = weak.lock();
        if (!strong || !finished) return;
        auto& tab = static_cast<MVNavigationController&>(*strong);
        if (tab.isWebViewHeaderHidden_) tab.isCompletlyHiddenAnimated(true);
    };
    const double seconds = durationForSpeedFactor(speedFactor);
    switch (animation) {
        case MVBarAnimation::Slide:
            platform::View::animate(
                seconds, 0, platform::kAnimationOptionBeginFromCurrentState,
                [&] { setWebViewHeaderOriginY(posYClosedState()); }, hidden);
            break;
        case MVBarAnimation::Fade:
            platform::View::animate(
                seconds, 0, platform::kAnimationOptionBeginFromCurrentState,
                [&] { webViewHeader_->setAlpha(0); }, hidden);
            break;
        case MVBarAnimation::None:
            setWebViewHeaderOriginY(posYClosedState());
            isCompletlyHiddenAnimated(false);
            break;
        default:  // other kinds move nothing
            break;
    }
}

void MVNavigationController::isCompletlyHiddenAnimated(bool animated) {
    webViewHeader_->setAlpha(0);
    setWebViewHeaderOriginY(posYClosedState());
    if (isVisible_) sendToWebviewHeaderIfNecessaryViewDidDisappearAnimated(animated);
}

// Each event reaches the header page once until its counterpart has been sent.

void MVNavigationController::sendToWebviewHeaderIfNecessaryViewWillAppearAnimated(bool animated) {
    if (viewWillAppearEventIsAlreadySentToWebViewHeader_) return;
    viewWillAppearEventIsAlreadySentToWebViewHeader_ = true;
    viewDidAppearEventIsAlreadySentToWebViewHeader_ = false;
    performEvent(MVEventViews::viewWillAppearAnimated(animated));
    viewDidDisappearEventIsAlreadySentToWebViewHeader_ = false;
}

void MVNavigationController::sendToWebviewHeaderIfNecessaryViewDidAppearAnimated(bool animated) {
    if (viewDidAppearEventIsAlreadySentToWebViewHeader_) return;
    viewWillAppearEventIsAlreadySentToWebViewHeader_ = true;
    viewDidAppearEventIsAlreadySentToWebViewHeader_ = true;
    performEvent(MVEventViews::viewDidAppearAnimated(animated));
    viewWillDisappearEventIsAlreadySentToWebViewHeader_ = false;
    viewDidDisappearEventIsAlreadySentToWebViewHeader_ = false;
}

void MVNavigationController::sendToWebviewHeaderIfNecessaryViewWillDisappearAnimated(
    bool animated) {
    if (viewWillDisappearEventIsAlreadySentToWebViewHeader_) return;
    viewWillDisappearEventIsAlreadySentToWebViewHeader_ = true;
    viewDidDisappearEventIsAlreadySentToWebViewHeader_ = false;
    performEvent(MVEventViews::viewWillDisappearAnimated(animated));
    viewDidAppearEventIsAlreadySentToWebViewHeader_ = false;
}

void MVNavigationController::sendToWebviewHeaderIfNecessaryViewDidDisappearAnimated(bool animated) {
    if (viewDidDisappearEventIsAlreadySentToWebViewHeader_) return;
    viewDidDisappearEventIsAlreadySentToWebViewHeader_ = true;
    viewWillDisappearEventIsAlreadySentToWebViewHeader_ = true;
    performEvent(MVEventViews::viewDidDisappearAnimated(animated));
    viewWillAppearEventIsAlreadySentToWebViewHeader_ = false;
    viewDidAppearEventIsAlreadySentToWebViewHeader_ = false;
}

// Delegate answers for the header web views

void MVNavigationController::webViewDemandsCloseByCombat(MVWebView&) {
    MVLogWarn("MVNavigationController{} MVWebView demands close but will do nothing.",
              static_cast<const void*>(this));
}

std::shared_ptr<MVNavigationControllerInterface>
MVNavigationController::navigationControllerForWebView(MVWebView& webView) {
    if (&webView == webViewHeader_.get() || &webView == webViewHeaderRefresh_.get()) return self();
    return nullptr;
}

std::optional<MVEvent> MVNavigationController::pageContextForSource(
    const std::string& source, const std::string& baseUrl, bool loadedFromCache,
    const std::vector<std::string>&) {
    return pageContext(source, baseUrl, std::string("navigationBar"), loadedFromCache, identifier(),
                       std::nullopt, nullptr);
}

void MVNavigationController::webViewControllerDidChangeNavigationBarParams(
    MVWebViewController& controller, const nlohmann::json* fromParams,
    const nlohmann::json* toParams, const std::optional<std::string>& fromTitle,
    const std::optional<std::string>& toTitle) {
    const auto top = topViewController();
    if (&controller != top.get()) {
        // The header shows the top page's bar only: another page just takes its insets.
        if (!preserved_) updateChildViewInsets(controller.shared_from_this());
        return;
    }
    auto tabs = std::dynamic_pointer_cast<MVTabController>(
        MVTabControllerInterface::sharedDefaultInstance());
    const bool presented = tabs && tabs->currentPresentedTab().get() == this;
    tellNavigationBar(toTitle, presented ? kFade : kNone, viewControllers().size() > 1, toParams);
}

// The status bar

void MVNavigationController::webViewDidChangePreferredStatusBarStyle(
    MVWebView&, const std::shared_ptr<MVStatusBarStyle>& style) {
    preferredMVStatusBarStyle_ = style;
    updateStatusBar();
}

// The header's style answers while the header page chose one and the bar can be seen.
platform::StatusBarStyle MVNavigationController::preferredStatusBarStyle() const {
    const bool headerGone = webViewHeader_->alpha() == 0 && isWebViewHeaderHidden_;
    if (preferredMVStatusBarStyle_ && !headerGone)
        return preferredMVStatusBarStyle_->preferredStatusbarStyle();
    if (auto top = topViewController()) return top->preferredStatusBarStyle();
    return platform::Application::shared().statusBarStyle();
}

bool MVNavigationController::prefersStatusBarHidden() const {
    const bool headerGone = webViewHeader_->alpha() == 0 && isWebViewHeaderHidden_;
    if (preferredMVStatusBarStyle_ && !headerGone)
        return preferredMVStatusBarStyle_->prefersStatusBarHidden();
    if (auto top = topViewController()) return top->prefersStatusBarHidden();
    return platform::Application::shared().isStatusBarHidden();
}
