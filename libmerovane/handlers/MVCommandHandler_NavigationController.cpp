// Navigation commands: switch the visible tab, trim, pop and clean a tab's stack, show,
// hide and load its navigation bar, switch its pop gesture. They only choose the target
// and turn words into values; the containers do the work.
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/JsonValue.h"
#include "platform/ui/ViewController.h"

namespace {

using Conventions = MVCommandConventions;
using WebViewPtr = std::shared_ptr<MVWebView>;

std::optional<std::string> stringParameter(const nlohmann::json* parameters, const char* key) {
    return parameters ? platform::json::stringValue(*parameters, key) : std::nullopt;
}

void showTab_1_0(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (auto tabs = MVTabControllerInterface::sharedDefaultInstance())
        tabs->presentNavigationControllerWithIdentifier(
            stringParameter(parameters, "targetTab").value_or(""), std::nullopt, std::nullopt);
}

void showTab_1_1(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (auto tabs = MVTabControllerInterface::sharedDefaultInstance())
        tabs->presentNavigationControllerWithIdentifier(
            stringParameter(parameters, "targetTab").value_or(""),
            stringParameter(parameters, "transition"), Conventions::speedFactor(parameters));
}

void flushTab(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (auto stack = Conventions::targetStack(parameters, webView)) stack->flush();
}

void popTabToRoot(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (auto stack = Conventions::targetStack(parameters, webView))
        stack->popToRootViewControllerAnimated(true);
}

void popTab(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (auto stack = Conventions::targetStack(parameters, webView))
        stack->popViewControllerAnimated(true);
}

MVBarAnimation barAnimation(const std::shared_ptr<MVNavigationControllerInterface>& stack,
                            const nlohmann::json* parameters) {
    return Conventions::animationTypeForController(
        std::dynamic_pointer_cast<platform::ViewController>(stack),
        stringParameter(parameters, "animation"));
}

void showNavigationBar(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (auto stack = Conventions::targetStack(parameters, webView))
        stack->showNavigationBarWithAnimation(barAnimation(stack, parameters),
                                              Conventions::speedFactor(parameters));
}

void hideNavigationBar(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (auto stack = Conventions::targetStack(parameters, webView))
        stack->hideNavigationBarWithAnimation(barAnimation(stack, parameters),
                                              Conventions::speedFactor(parameters));
}

void setNavigationBar(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (auto stack = Conventions::targetStack(parameters, webView))
        stack->setNavigationBarWithURL(stringParameter(parameters, "src").value_or(""));
}

void cleanTab(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "cleanTab", Conventions::CallerCheck::PageOrTarget,
                                  parameters, webView))
        return;
    if (auto stack = Conventions::targetStack(parameters, webView)) stack->clean();
}

void enablePopGesture(MVCommandHandler& handler, nlohmann::json* parameters,
                      const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "enablePopGesture",
                                  Conventions::CallerCheck::PageOrTarget, parameters, webView))
        return;
    if (auto stack = Conventions::targetStack(parameters, webView))
        stack->setPopGestureEnabled(parameters &&
                                    platform::json::boolValue(*parameters, "enabled"));
}

}  // namespace

void registerNavigationControllerCommands() {
    const MVSpec::Member targetTab{"+targetTab", MVSpec::NSString};
    const MVSpec::Member animation{"+animation", MVSpec::NSString};
    const MVSpec::Member speedFactor{"+speedFactor", MVSpec::NSNumber};

    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("showTab", {MVSpec{{"targetTab", MVSpec::NSString}}, &showTab_1_0, true});
    v10.add("flushTab", {MVSpec{targetTab}, &flushTab, true});
    v10.add("popTabToRoot", {MVSpec{targetTab}, &popTabToRoot, true});
    v10.add("popTab", {MVSpec{targetTab}, &popTab, true});
    v10.add("showNavigationBar",
            {MVSpec{targetTab, animation, speedFactor}, &showNavigationBar, true});
    v10.add("hideNavigationBar",
            {MVSpec{targetTab, animation, speedFactor}, &hideNavigationBar, true});
    v10.add("setNavigationBar",
            {MVSpec{targetTab, {"src", MVSpec::NSString}}, &setNavigationBar, true});

    auto& v11 = MVCommandHandler_1_1::commandTable();
    v11.add(
        "showTab",
        {MVSpec{{"targetTab", MVSpec::NSString}, {"+transition", MVSpec::NSString}, speedFactor},
         &showTab_1_1, true});
    v11.add("cleanTab", {MVSpec{targetTab}, &cleanTab, true});

    MVCommandHandler_2_0::commandTable().add(
        "enablePopGesture",
        {MVSpec{targetTab, {"enabled", MVSpec::NSNumber}}, &enablePopGesture, true});
}
