#include "tests/support/RecordingContainers.h"

#include "libmerovane/bridge/MVEvent.h"

namespace {

std::string flag(bool value) {
    return value ? "1" : "0";
}

}  // namespace

std::shared_ptr<RecordingNavigationStack> RecordingNavigationStack::create(
    std::optional<std::string> identifier) {
    return std::make_shared<RecordingNavigationStack>(std::move(identifier));
}

void RecordingNavigationStack::pushViewController(
    const std::shared_ptr<platform::ViewController>& viewController, bool animated) {
    calls.push_back("pushViewController(" + flag(animated) + ")");
    pushed.push_back(viewController);
}

void RecordingNavigationStack::popViewControllerAnimated(bool animated) {
    calls.push_back("popViewControllerAnimated(" + flag(animated) + ")");
}

void RecordingNavigationStack::popToRootViewControllerAnimated(bool animated) {
    calls.push_back("popToRootViewControllerAnimated(" + flag(animated) + ")");
}

void RecordingNavigationStack::flush() {
    calls.push_back("flush");
}

void RecordingNavigationStack::clean() {
    calls.push_back("clean");
}

void RecordingNavigationStack::popToTag(const std::string& tag, bool animated) {
    calls.push_back("popToTag(" + tag + "," + flag(animated) + ")");
}

void RecordingNavigationStack::popPagesWithTags(const std::vector<std::string>& tags,
                                                bool animated) {
    std::string joined;
    for (const auto& tag : tags) joined += (joined.empty() ? "" : ",") + tag;
    calls.push_back("popPagesWithTags([" + joined + "]," + flag(animated) + ")");
}

void RecordingNavigationStack::showNavigationBarWithAnimation(MVBarAnimation animation,
                                                              std::optional<double> speedFactor) {
    calls.push_back("showNavigationBar");
    barCalls.push_back({true, animation, speedFactor});
}

void RecordingNavigationStack::hideNavigationBarWithAnimation(MVBarAnimation animation,
                                                              std::optional<double> speedFactor) {
    calls.push_back("hideNavigationBar");
    barCalls.push_back({false, animation, speedFactor});
}

void RecordingNavigationStack::setNavigationBarWithURL(const std::string& url) {
    calls.push_back("setNavigationBarWithURL(" + url + ")");
}

void RecordingNavigationStack::setPopGestureEnabled(bool enabled) {
    calls.push_back("setPopGestureEnabled(" + flag(enabled) + ")");
}

void RecordingNavigationStack::performEvent(const MVEvent& event) {
    calls.push_back("performEvent(" + event.eventName() + ")");
}

std::shared_ptr<RecordingTabController> RecordingTabController::install() {
    auto tabs = std::make_shared<RecordingTabController>();
    MVTabControllerInterface::install(tabs);
    return tabs;
}

std::shared_ptr<MVNavigationControllerInterface>
RecordingTabController::navigationControllerWithIdentifier(
    const std::optional<std::string>& identifier) {
    return stack(identifier.value_or(""));
}

std::shared_ptr<MVNavigationControllerInterface>
RecordingTabController::navigationControllerForWebView(MVWebView& webView) {
    auto tab = webViewTabs_.find(&webView);
    return tab != webViewTabs_.end() ? stack(tab->second) : nullptr;
}

void RecordingTabController::presentNavigationControllerWithIdentifier(
    const std::string& identifier, const std::optional<std::string>& transition,
    std::optional<double> speedFactor) {
    presentations.push_back({identifier, transition, speedFactor});
}

std::shared_ptr<RecordingNavigationStack> RecordingTabController::stack(
    const std::string& identifier) {
    auto& made = stacks[identifier];
    if (!made) made = RecordingNavigationStack::create(identifier);
    return made;
}

void RecordingTabController::holdWebView(const MVWebView& webView, const std::string& identifier) {
    webViewTabs_[&webView] = identifier;
}

std::shared_ptr<RecordingSplashScreen> RecordingSplashScreen::install() {
    auto splash = std::make_shared<RecordingSplashScreen>();
    MVSplashScreenInterface::install(splash);
    return splash;
}

void RecordingSplashScreen::showSplashScreen() {
    calls.push_back("show");
    visible = true;
}

void RecordingSplashScreen::hideSplashScreen() {
    calls.push_back("hide");
    visible = false;
}

void RecordingSplashScreen::setSplashScreenWithUrlString(const std::string& urlString) {
    calls.push_back("set(" + urlString + ")");
}
