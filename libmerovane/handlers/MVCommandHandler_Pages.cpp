// Page commands: open a page on a tab's stack or outside the application, replace,
// refresh or close the calling page, and the page's reports about itself (loaded, view
// properties, touch and scrolling, size, navigation-bar parameters); preloading a page
// into the pool.
#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "libmerovane/handlers/MVOpenPage.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"
#include "platform/ui/Color.h"
#include "platform/ui/Layer.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace {

using Conventions = MVCommandConventions;
namespace Parameters = MVCommandParameters;
using WebViewPtr = std::shared_ptr<MVWebView>;

constexpr const char* kCannotOpenLine = "{} cannot open URL: {}";
constexpr const char* kCannotOpenReport = "{} Cannot open URL.";
constexpr const char* kReplacePageWithoutWebView =
    "<MVCommand:replacePage can only be called from a webview.>";
constexpr MVCommandErrorTexts kRefreshWithoutWebView{"{} can only be called from a webview",
                                                     "{} can only be called from a webview."};
constexpr MVCommandErrorTexts kViewPropertiesWithoutWebView{
    "{} can only be called from MVWebViews.", "{} can only be called from MVWebviews."};
constexpr MVCommandErrorTexts kNotCalledFromWebView{"{} not called from webview",
                                                    "{} can only be called from a webview."};
constexpr MVCommandErrorTexts kNavigationBarWithoutWebView{"{} can only be called from a webview",
                                                           "{} can only be called from a webview."};

// The red marker that blinks over a page replaced in place.
constexpr const char* kBlinkingKey = "replacePageBlinking";
constexpr double kBlinkDuration = 0.25;
constexpr double kBlinkOpacity = 0.25;
constexpr double kBlinkRepeats = 4;
constexpr double kMarkerLifetime = 1.0;
constexpr platform::Color kMarkerColor = platform::Color::rgba(1, 0, 0, 1);

std::shared_ptr<MVWebViewController> pageController(const MVWebView& webView) {
    return std::dynamic_pointer_cast<MVWebViewController>(webView.delegate());
}

void openPage_1_0(MVCommandHandler& handler, nlohmann::json* parameters,
                  const WebViewPtr& webView) {
    MVOpenPage::perform(handler, parameters, webView, MVOpenPage::kVersion1_0);
}

void openPageExtern(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr&) {
    const auto url = platform::URL::parse(Parameters::string(parameters, "src").value_or(""));
    auto& application = platform::Application::shared();
    if (url && application.canOpenURL(*url)) {
        application.openURL(*url);
        return;
    }
    const std::string prefix = Conventions::commandPrefix(handler, "openPageExtern");
    MVLogWarn(kCannotOpenLine, prefix, url ? url->absoluteString() : "(null)");
    if (url)
        MVErrorLogger::logError(fmt::format(kCannotOpenReport, prefix), url->absoluteString());
    else
        MVErrorLogger::logError(fmt::format(kCannotOpenReport, prefix));
}

// A red view over the web view whose opacity blinks; it leaves after a second.
void blinkMarkerOver(const MVWebView& webView) {
    auto superview = webView.superview();
    if (!superview) return;
    auto marker = platform::View::create(webView.frame());
    marker->setUserInteractionEnabled(false);
    marker->setAlpha(0);
    marker->setBackgroundColor(kMarkerColor);
    superview->addSubview(marker);

    platform::LayerAnimation blink;
    blink.keyPath = "opacity";
    blink.to = {kBlinkOpacity};
    blink.durationNanos = platform::secondsToNanos(kBlinkDuration);
    blink.autoreverses = true;
    blink.repeatCount = kBlinkRepeats;
    blink.timingFunction = platform::TimingFunction::EaseInEaseOut;
    blink.fillMode = platform::FillMode::Forwards;
    blink.removedOnCompletion = true;
    marker->layer()->addAnimation(blink, kBlinkingKey);
    platform::RunLoop::main().postAfterDetached(kMarkerLifetime,
                                                [marker] { marker->removeFromSuperview(); });
}

void replacePage(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (!webView) {
        MVLogWarn("{}", kReplacePageWithoutWebView);
        return;
    }
    const std::string src = Parameters::string(parameters, "src").value_or("");
    if (auto controller = pageController(*webView)) {
        std::optional<nlohmann::json> previewParams;
        if (const nlohmann::json* preview = Parameters::dictionary(parameters, "previewParams"))
            previewParams = *preview;
        // Read although not listed: a non-dictionary counts as absent.
        if (const nlohmann::json* bar = Parameters::dictionary(parameters, "navigationBarParams"))
            controller->setNavigationBarParameters(*bar);
        controller->replacePageWithUrl(src, Parameters::string(parameters, "previewSrc"),
                                       std::move(previewParams));
        return;
    }
    webView->openUrl(src);
    blinkMarkerOver(*webView);
}

void refreshPage(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "refreshPage", Conventions::CallerCheck::PageOnly,
                                  parameters, webView, &kRefreshWithoutWebView))
        return;
    if (auto controller = pageController(*webView))
        controller->reload();
    else
        webView->reload();
}

void closeView(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "closeView", Conventions::CallerCheck::PageOnly,
                                  parameters, webView))
        return;
    if (auto delegate = webView->delegate()) delegate->webViewDemandsCloseByCombat(*webView);
}

void onload(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "onload", Conventions::CallerCheck::PageOnly, parameters,
                                  webView))
        return;
    webView->onload();
}

void setViewProperties(MVCommandHandler& handler, nlohmann::json* parameters,
                       const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "setViewProperties", Conventions::CallerCheck::PageOnly,
                                  parameters, webView, &kViewPropertiesWithoutWebView))
        return;
    webView->setViewProperties(parameters ? *parameters : nlohmann::json::object());
}

void setTouchInputEnabled(MVCommandHandler& handler, nlohmann::json* parameters,
                          const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "setTouchInputEnabled",
                                  Conventions::CallerCheck::PageOnly, parameters, webView,
                                  &kNotCalledFromWebView))
        return;
    webView->setUserInteractionEnabled(Parameters::flag(parameters, "enabled", false));
}

void setScrollingEnabled(MVCommandHandler& handler, nlohmann::json* parameters,
                         const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "setScrollingEnabled",
                                  Conventions::CallerCheck::PageOnly, parameters, webView,
                                  &kNotCalledFromWebView))
        return;
    if (auto scrollView = webView->scrollView())
        scrollView->setScrollEnabled(Parameters::flag(parameters, "enabled", false));
}

void pageSizeDidChange(MVCommandHandler& handler, nlohmann::json* parameters,
                       const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "pageSizeDidChange", Conventions::CallerCheck::PageOnly,
                                  parameters, webView))
        return;
    webView->pageSizeDidChange();
}

void setNavigationBarParams(MVCommandHandler& handler, nlohmann::json* parameters,
                            const WebViewPtr& webView) {
    if (!Conventions::checkCaller(handler, "setNavigationBarParams",
                                  Conventions::CallerCheck::PageOnly, parameters, webView,
                                  &kNavigationBarWithoutWebView))
        return;
    std::shared_ptr<const nlohmann::json> bar;
    if (const nlohmann::json* given = Parameters::dictionary(parameters, "navigationBarParams"))
        bar = std::make_shared<const nlohmann::json>(*given);
    webView->setNavigationBarParams(std::move(bar), Parameters::string(parameters, "title"));
}

void preloadView(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    (void)MVWebViewCache::sharedCache().cachedWebViewForUrl(
        Parameters::string(parameters, "src").value_or(""));
}

void toggleKeyboard(MVCommandHandler&, nlohmann::json*, const WebViewPtr&) {}

}  // namespace

void registerPageCommands() {
    const MVSpec::Member src{"src", MVSpec::NSString};
    const MVSpec::Member enabled{"enabled", MVSpec::NSNumber};

    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("openPage", {MVOpenPage::specification(MVOpenPage::kVersion1_0), &openPage_1_0, true});
    v10.add("openPageExtern", {MVSpec{src}, &openPageExtern, true});
    v10.add("replacePage", {MVSpec{src,
                                   {"+title", MVSpec::NSString},
                                   {"+previewSrc", MVSpec::NSString},
                                   {"+previewParams", MVSpec::NSDictionary},
                                   {"+targetTab", MVSpec::NSString}},
                            &replacePage, true});
    v10.add("refreshPage", {MVSpec{}, &refreshPage, true});
    v10.add("closeView", {MVSpec{}, &closeView, true});
    v10.add("onload", {MVSpec{}, &onload, false});
    v10.add("setViewProperties", {MVSpec{}, &setViewProperties, false});
    v10.add("setTouchInputEnabled", {MVSpec{enabled}, &setTouchInputEnabled, false});
    v10.add("setScrollingEnabled", {MVSpec{enabled}, &setScrollingEnabled, false});
    v10.add("pageSizeDidChange", {MVSpec{}, &pageSizeDidChange, false});
    v10.add("setNavigationBarParams",
            {MVSpec{{"+title", MVSpec::NSString}, {"+navigationBarParams", MVSpec::NSDictionary}},
             &setNavigationBarParams, true});
    v10.add("preloadView", {MVSpec{src}, &preloadView, true});
    v10.add("toggleKeyboard", {MVSpec{}, &toggleKeyboard, false});
}
