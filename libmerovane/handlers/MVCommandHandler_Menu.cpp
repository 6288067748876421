// Menu commands: load, show and hide the menu bar and the background menus. They
// choose the target container and turn words into values; the containers do the work.
// The calling web view only fills the data of error reports.
#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVBackgroundMenuControllerInterface.h"
#include "libmerovane/bridge/MVMenuBarControllerInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "platform/ui/ViewController.h"

namespace {

using Conventions = MVCommandConventions;
namespace Parameters = MVCommandParameters;
using WebViewPtr = std::shared_ptr<MVWebView>;
using MenuBarPtr = std::shared_ptr<MVMenuBarControllerInterface>;
using BackgroundMenuPtr = std::shared_ptr<MVBackgroundMenuControllerInterface>;

constexpr MVCommandErrorTexts kMenuBarWithoutSource{"{} doesn't contain neither src nor content",
                                                    "{} doesn't contain neither src nor content."};
constexpr MVCommandErrorTexts kBackgroundMenuWithoutSource{
    "{} doesn't contain neither src nor content.",
    "{} setBackgroundMenu doesn't contain neither src nor content."};
constexpr const char* kBackgroundMenuNotFoundReport =
    "{} Couldn't find MVBackgroundMenuController for identifier.";
constexpr MVCommandErrorTexts kNoDefaultBackgroundMenu{
    "{} Couldn't find default MVBackgroundMenuController or identifier was not given",
    "{} Couldn't find default MVBackgroundMenuController or identifier was not given."};

// The data of every error report here: the parameters and the caller's address.
nlohmann::json menuData(const nlohmann::json* parameters, const WebViewPtr& webView) {
    std::optional<std::string> url = webView ? webView->currentUrl() : std::nullopt;
    return {{"params", parameters ? *parameters : nlohmann::json("")},
            {"webView.currentUrl", url.value_or("")}};
}

void reportMenuError(const MVCommandHandler& handler, std::string_view command,
                     const MVCommandErrorTexts& texts, const nlohmann::json* parameters,
                     const WebViewPtr& webView) {
    const nlohmann::json data = menuData(parameters, webView);
    Conventions::reportCommandError(handler, command, texts, parameters, &data);
}

MenuBarPtr menuBarControllerForIdentifier(const std::optional<std::string>& identifier) {
    if (identifier) {
        auto menuBar = MVMenuBarControllerInterface::sharedInstanceForIdentifier(*identifier);
        if (!menuBar) MVLogWarn("No menu bar controller is registered as \"{}\"", *identifier);
        return menuBar;
    }
    auto menuBar = MVMenuBarControllerInterface::sharedDefaultInstance();
    if (!menuBar) MVLogWarn("{}", "There is no default menu bar controller");
    return menuBar;
}

MVBarAnimation menuBarAnimationTypeForController(const MenuBarPtr& menuBar,
                                                 const nlohmann::json* parameters) {
    return Conventions::animationTypeForController(
        std::dynamic_pointer_cast<platform::ViewController>(menuBar),
        Parameters::string(parameters, "animation"));
}

void setMenuBar(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    const nlohmann::json* menuParams = Parameters::dictionary(parameters, "menuParams");
    if (auto src = Parameters::string(parameters, "src")) {
        if (auto menuBar =
                menuBarControllerForIdentifier(Parameters::string(parameters, "targetMenu")))
            menuBar->setMenuBarWithUrl(*src, menuParams);
    } else if (auto content = Parameters::string(parameters, "content")) {
        if (auto menuBar =
                menuBarControllerForIdentifier(Parameters::string(parameters, "targetMenu")))
            menuBar->setMenuBarWithContent(*content, Parameters::string(parameters, "baseUrl"),
                                           menuParams);
    } else {
        reportMenuError(handler, "setMenuBar", kMenuBarWithoutSource, parameters, webView);
    }
}

void showMenuBar(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    auto menuBar = menuBarControllerForIdentifier(Parameters::string(parameters, "targetMenu"));
    if (!menuBar) return;
    menuBar->showMenuBarWithAnimation(menuBarAnimationTypeForController(menuBar, parameters),
                                      Conventions::speedFactor(parameters));
}

void hideMenuBar(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    auto menuBar = menuBarControllerForIdentifier(Parameters::string(parameters, "targetMenu"));
    if (!menuBar) return;
    menuBar->hideMenuBarWithAnimation(menuBarAnimationTypeForController(menuBar, parameters),
                                      Conventions::speedFactor(parameters));
}

// The target background menu; null after the report when there is none.
BackgroundMenuPtr backgroundMenu(const MVCommandHandler& handler, std::string_view command,
                                 const nlohmann::json* parameters, const WebViewPtr& webView) {
    auto identifier = Parameters::string(parameters, "targetMenu");
    auto menu = identifier
                    ? MVBackgroundMenuControllerInterface::sharedInstanceForIdentifier(*identifier)
                    : MVBackgroundMenuControllerInterface::sharedDefaultInstance();
    if (menu) return menu;
    if (identifier) {
        const std::string prefix = Conventions::commandPrefix(handler, command);
        MVLogWarn("{} Couldn't find MVBackgroundMenuController for identifier: \"{}\"", prefix,
                  *identifier);
        MVErrorLogger::logError(fmt::format(kBackgroundMenuNotFoundReport, prefix),
                                menuData(parameters, webView));
    } else {
        reportMenuError(handler, command, kNoDefaultBackgroundMenu, parameters, webView);
    }
    return nullptr;
}

void setBackgroundMenu(MVCommandHandler& handler, nlohmann::json* parameters,
                       const WebViewPtr& webView) {
    auto menu = backgroundMenu(handler, "setBackgroundMenu", parameters, webView);
    if (!menu) return;
    const std::string presentationType =
        Parameters::string(parameters, "defaultPresentationType").value_or("");
    auto gestureRecognizer = Parameters::string(parameters, "gestureRecognizer");
    // The speed factor comes from this key; "speedFactor" is only validated.
    auto speedFactor = Parameters::number(parameters, "speefFactor");
    const nlohmann::json* menuParams = Parameters::dictionary(parameters, "menuParams");
    if (auto src = Parameters::string(parameters, "src")) {
        menu->setContentWithUrl(*src, presentationType, gestureRecognizer, speedFactor, menuParams);
    } else if (auto content = Parameters::string(parameters, "content")) {
        menu->setContentWithString(*content, Parameters::string(parameters, "baseUrl"),
                                   presentationType, gestureRecognizer, speedFactor, menuParams);
    } else {
        reportMenuError(handler, "setBackgroundMenu", kBackgroundMenuWithoutSource, parameters,
                        webView);
    }
}

void showBackgroundMenu(MVCommandHandler& handler, nlohmann::json* parameters,
                        const WebViewPtr& webView) {
    if (auto menu = backgroundMenu(handler, "showBackgroundMenu", parameters, webView))
        menu->showWithPresentationType(Parameters::string(parameters, "presentationType"),
                                       Conventions::speedFactor(parameters));
}

void hideBackgroundMenu(MVCommandHandler& handler, nlohmann::json* parameters,
                        const WebViewPtr& webView) {
    if (auto menu = backgroundMenu(handler, "hideBackgroundMenu", parameters, webView))
        menu->hideWithSpeedFactor(Conventions::speedFactor(parameters));
}

}  // namespace

void registerMenuCommands() {
    const MVSpec::Member src{"+src", MVSpec::NSString};
    const MVSpec::Member content{"+content", MVSpec::NSString};
    const MVSpec::Member baseUrl{"+baseUrl", MVSpec::NSString};
    const MVSpec::Member targetMenu{"+targetMenu", MVSpec::NSString};
    const MVSpec::Member animation{"+animation", MVSpec::NSString};
    const MVSpec::Member speedFactor{"+speedFactor", MVSpec::NSNumber};

    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("setMenuBar", {MVSpec{src, content, baseUrl}, &setMenuBar, true});
    v10.add("showMenuBar", {MVSpec{targetMenu, animation, speedFactor}, &showMenuBar, true});
    v10.add("hideMenuBar", {MVSpec{targetMenu, animation, speedFactor}, &hideMenuBar, true});
    v10.add("setBackgroundMenu", {MVSpec{src,
                                         content,
                                         {"defaultPresentationType", MVSpec::NSString},
                                         baseUrl,
                                         targetMenu,
                                         speedFactor},
                                  &setBackgroundMenu, true});
    v10.add("showBackgroundMenu",
            {MVSpec{{"+presentationType", MVSpec::NSString}, targetMenu, speedFactor},
             &showBackgroundMenu, true});
    v10.add("hideBackgroundMenu", {MVSpec{targetMenu, speedFactor}, &hideBackgroundMenu, true});
}
