#include "libmerovane/overlays/MVNotificationWithWebview.h"

#include <fmt/format.h>

#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "libmerovane/overlays/MVNotificationController.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"

namespace {

constexpr const char* kWithoutURL = "MVPushnotification.notificationWithURL without URL to open{}";
constexpr const char* kWithoutContent =
    "MVPushnotification.notificationWithContent without content{}";
constexpr const char* kSentFrom = "sent from webview{}";
constexpr const char* kPageSizeNotOverridden =
    "{} did not override webViewDidChangePageSize-method";
constexpr const char* kDebugName = "Notification";
constexpr const char* kPageFailed =
    "{} with MVWebView{} could not load its page and will be dropped";
constexpr const char* kPageNotRendered =
    "{} with MVWebView{} did not render its page within {} s and will be dropped";
// A web view whose top edge is this high or higher covers the status-bar area.
constexpr double kStatusBarEdge = 20.0;

std::string sender(const std::shared_ptr<MVWebView>& fromWebView) {
    return fromWebView ? fmt::format(kSentFrom, fromWebView->debugName()) : std::string("!");
}

std::shared_ptr<MVNotificationWithWebview> allocWebviewNotification(
    const MVNotificationClass& cls) {
    return std::dynamic_pointer_cast<MVNotificationWithWebview>(cls.alloc());
}

}  // namespace

std::shared_ptr<const MVNotificationClass> MVNotificationWithWebview::classObject() {
    return MVNotificationClass::shared<MVNotificationWithWebview, MVNotification>(
        "MVNotificationWithWebview");
}

// Construction

std::shared_ptr<MVNotificationWithWebview> MVNotificationWithWebview::notitificationWithURL(
    const MVNotificationClass& cls, const std::string& url,
    const nlohmann::json* notificationParams, std::optional<double> timeout,
    std::optional<double> speedFactor, const std::shared_ptr<MVWebView>& fromWebView) {
    if (url.empty()) MVLogWarn(kWithoutURL, sender(fromWebView));
    auto notification = allocWebviewNotification(cls);
    if (notification)
        notification->initNotitificationWithURL(url, notificationParams, timeout, speedFactor,
                                                fromWebView);
    return notification;
}

std::shared_ptr<MVNotificationWithWebview> MVNotificationWithWebview::notitificationWithContent(
    const MVNotificationClass& cls, const std::string& content,
    const std::optional<std::string>& baseURL, const nlohmann::json* notificationParams,
    std::optional<double> timeout, std::optional<double> speedFactor,
    const std::shared_ptr<MVWebView>& fromWebView) {
    if (content.empty()) MVLogWarn(kWithoutContent, sender(fromWebView));
    auto notification = allocWebviewNotification(cls);
    if (notification)
        notification->initNotitificationWithContent(content, baseURL, notificationParams, timeout,
                                                    speedFactor, fromWebView);
    return notification;
}

void MVNotificationWithWebview::initNotitificationWithURL(
    const std::string& url, const nlohmann::json* notificationParams, std::optional<double> timeout,
    std::optional<double> speedFactor, const std::shared_ptr<MVWebView>& fromWebView) {
    basicSetup(url, std::nullopt, std::nullopt, notificationParams, timeout, speedFactor,
               fromWebView);
}

void MVNotificationWithWebview::initNotitificationWithContent(
    const std::string& content, const std::optional<std::string>& baseURL,
    const nlohmann::json* notificationParams, std::optional<double> timeout,
    std::optional<double> speedFactor, const std::shared_ptr<MVWebView>& fromWebView) {
    basicSetup(std::nullopt, content, baseURL, notificationParams, timeout, speedFactor,
               fromWebView);
}

void MVNotificationWithWebview::basicSetup(const std::optional<std::string>& source,
                                           const std::optional<std::string>& htmlString,
                                           const std::optional<std::string>& baseUrl,
                                           const nlohmann::json* notificationParams,
                                           std::optional<double> timeout,
                                           std::optional<double> speedFactor,
                                           const std::shared_ptr<MVWebView>& fromWebView) {
    isRendered_ = false;
    isInjectedNotificationParams_ = false;
    setTimeout(timeout && static_cast<float>(*timeout) > 0 ? timeout : std::nullopt);
    setSpeedFactor(speedFactor && static_cast<float>(*speedFactor) > 0 ? *speedFactor : 1.0);
    setFromWebView(fromWebView);
    const bool hasParameters = notificationParams && notificationParams->is_object();
    setNotificationParameter(hasParameters ? *notificationParams : nlohmann::json());
    setNextNotificationStep(std::nullopt);
    if (source && hasParameters) {
        urlToOpenAsCachedWebView_ = source;
    } else if (source) {
        urlToOpenAsCachedWebView_.reset();
        takeWebView(emptyWebView());
        notificationWebView_->openUrl(*source);
    } else if (htmlString) {
        urlToOpenAsCachedWebView_.reset();
        takeWebView(emptyWebView());
        std::optional<platform::URL> base;
        if (baseUrl) base = platform::URL::parse(*baseUrl);
        notificationWebView_->loadHTMLString(*htmlString, base);
    }
}

std::shared_ptr<MVWebView> MVNotificationWithWebview::emptyWebView() {
    auto webView = MVWebView::create(platform::Rect(0, 0, 10, 10));
    webView->setDelegate(selfAsWebviewNotification());
    return webView;
}

std::shared_ptr<MVNotificationWithWebview> MVNotificationWithWebview::selfAsWebviewNotification() {
    return std::static_pointer_cast<MVNotificationWithWebview>(shared_from_this());
}

// The step machine's questions

bool MVNotificationWithWebview::canNotificationStartPresenting() {
    if (urlToOpenAsCachedWebView_) {
        takeWebView(MVWebViewCache::sharedCache().cachedWebViewForUrl(
            *std::exchange(urlToOpenAsCachedWebView_, std::nullopt)));
        notificationWebView_->setDebugName(kDebugName);
        notificationWebView_->setDelegate(selfAsWebviewNotification());
        if (!notificationWebView_->isLoading()) {
            forceWebViewRedraw();
            injectNotificationData();
            isRendered_ = true;
            setNextNotificationStep(std::string(MVNotificationStepInit));
            return true;
        }
    }
    if (isDropped_) {
        // Nothing to show, or asked not to: the check ends the notification.
        setNextNotificationStep(std::nullopt);
        return true;
    }
    if (!isRendered_) {
        // Its turn has come: the page gets a bound, so that it cannot hold the queue and
        // the content's touches.
        if (!renderBound_.isValid()) {
            std::weak_ptr<MVNotification> weak = shared_from_this();
            renderBound_ = platform::RunLoop::main().postAfter(kRenderBound, [weak] {
                if (auto notification = weak.lock())
                    static_cast<MVNotificationWithWebview&>(*notification).pageDidNotRender();
            });
        }
        return false;
    }
    return notificationParameter().is_object() ? isInjectedNotificationParams_ : true;
}

void MVNotificationWithWebview::takeWebView(std::shared_ptr<MVWebView> webView) {
    notificationWebView_ = std::move(webView);
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVNotification> weak = shared_from_this();
    loadFailure_ = platform::ObserverRegistration(
        center,
        center.addObserver(
            MVWebViewDidFailLoadingNotification,
            static_cast<const MVWebViewInterface*>(notificationWebView_.get()),
            [weak](const platform::Notification&) {
                if (auto notification = weak.lock())
                    static_cast<MVNotificationWithWebview&>(*notification).pageDidFailLoading();
            }));
}

void MVNotificationWithWebview::pageDidFailLoading() {
    if (isRendered_ || isDropped_) return;
    MVLogWarn(kPageFailed, className(), notificationWebView_->debugName());
    dropBeforeShown();
}

void MVNotificationWithWebview::pageDidNotRender() {
    if (isRendered_ || isDropped_) return;
    MVLogWarn(kPageNotRendered, className(),
              notificationWebView_ ? notificationWebView_->debugName() : std::string(),
              kRenderBound);
    dropBeforeShown();
}

void MVNotificationWithWebview::dropBeforeShown() {
    auto keep = shared_from_this();
    isDropped_ = true;
    // One that has its turn goes now, through the render gate; one still waiting in the
    // queue goes when its turn comes.
    if (!hasStartedPresenting()) return;
    cancelScheduledChecks();
    setNextNotificationStep(std::string(MVNotificationStepInit));
    checkForSucceedingStep();
}

bool MVNotificationWithWebview::hasBeenShown() const {
    const auto& step = currentNotificationStep();
    return step && *step != MVNotificationStepInit;
}

void MVNotificationWithWebview::abort() {
    if (notificationWebView_) notificationWebView_->removeFromSuperview();
}

std::shared_ptr<const MVNotificationSequence> MVNotificationWithWebview::notificationSequence() {
    platform::assertThat(false, "MVNotificationWithWebview has no notification sequence");
    return nullptr;
}

// Web-view delegate

std::optional<bool> MVNotificationWithWebview::webViewShouldPerformCommand(MVWebView&,
                                                                           const MVCommand&) {
    return true;
}

void MVNotificationWithWebview::webViewDemandsCloseByCombat(MVWebView& webView) {
    if (&webView != notificationWebView_.get()) return;
    // Not on the screen yet: it never shows.
    if (!hasBeenShown()) {
        dropBeforeShown();
        return;
    }
    setNextNotificationStep(std::string(MVNotificationStepCancel));
    checkForSucceedingStep();
}

void MVNotificationWithWebview::webViewDidFinishRendering(MVWebView&) {
    auto keep = shared_from_this();
    if (notificationParameter().is_object() && !isInjectedNotificationParams_)
        injectNotificationData();
    if (!isRendered_) {
        isRendered_ = true;
        setNextNotificationStep(std::string(MVNotificationStepInit));
        scheduleCheck(1.0);
    }
    setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
}

void MVNotificationWithWebview::webViewDidChangePageSize(MVWebView&) {
    MVLogWarn(kPageSizeNotOverridden, className());
}

void MVNotificationWithWebview::webViewDidChangePreferredStatusBarStyle(
    MVWebView&, const std::shared_ptr<MVStatusBarStyle>& style) {
    preferredMVStatusBarStyle_ = style;
    auto controller = presentingController();
    if (!style || !controller || !controller->isFirstInQueue(*this)) return;
    auto& application = platform::Application::shared();
    if (style->preferredStatusbarStyle() != application.statusBarStyle() ||
        style->prefersStatusBarHidden() != application.isStatusBarHidden())
        setNeedsStatusBarAppearanceUpdate(application);
}

std::shared_ptr<MVNavigationControllerInterface>
MVNotificationWithWebview::navigationControllerForWebView(MVWebView&) {
    return nullptr;
}

std::optional<MVEvent> MVNotificationWithWebview::pageContextForSource(
    const std::string&, const std::string&, bool, const std::vector<std::string>&) {
    return std::nullopt;
}

void MVNotificationWithWebview::injectNotificationData() {
    isInjectedNotificationParams_ = true;
    if (!notificationWebView_) return;
    const nlohmann::json& parameter = notificationParameter();
    notificationWebView_->performMVEvent(
        MVEventWebViews::updateTemplateContent(parameter.is_null() ? nullptr : &parameter));
}

void MVNotificationWithWebview::forceWebViewRedraw() {
    if (notificationWebView_) notificationWebView_->forceWebViewRedraw();
}

// Status bar

bool MVNotificationWithWebview::isBelowStatusBar() const {
    return notificationWebView_ && notificationWebView_->frame().origin.y <= kStatusBarEdge;
}

platform::StatusBarStyle MVNotificationWithWebview::preferredStatusBarStyle() const {
    if (preferredMVStatusBarStyle_ && isBelowStatusBar())
        return preferredMVStatusBarStyle_->preferredStatusbarStyle();
    return platform::Application::shared().statusBarStyle();
}

bool MVNotificationWithWebview::prefersStatusBarHidden() const {
    if (preferredMVStatusBarStyle_ && isBelowStatusBar())
        return preferredMVStatusBarStyle_->prefersStatusBarHidden();
    return platform::Application::shared().isStatusBarHidden();
}

// Positioning

platform::Size MVNotificationWithWebview::webViewSize() const {
    return notificationWebView_ ? notificationWebView_->frame().size : platform::Size();
}

platform::Point MVNotificationWithWebview::screenCenter() const {
    auto controller = presentingController();
    return controller ? controller->overlayCenter() : platform::Point();
}

platform::Size MVNotificationWithWebview::screenSize() const {
    auto controller = presentingController();
    return controller ? controller->overlaySize() : platform::Size();
}

platform::Rect MVNotificationWithWebview::framePositionCenter() const {
    const auto size = webViewSize();
    const auto center = screenCenter();
    return {{center.x - size.width / 2, center.y - size.height / 2}, size};
}

platform::Rect MVNotificationWithWebview::framePositionCenteredTop() const {
    const auto size = webViewSize();
    return {{screenCenter().x - size.width / 2, 0}, size};
}

platform::Rect MVNotificationWithWebview::framePositionCenteredTopOffscreen() const {
    const auto size = webViewSize();
    return {{screenCenter().x - size.width / 2, -size.height}, size};
}

platform::Rect MVNotificationWithWebview::framePositionCenteredBottom() const {
    const auto size = webViewSize();
    return {{screenCenter().x - size.width / 2, screenSize().height - size.height}, size};
}

platform::Rect MVNotificationWithWebview::framePositionCenterBottomOffscreen() const {
    const auto size = webViewSize();
    return {{screenCenter().x - size.width / 2, screenSize().height}, size};
}

platform::Rect MVNotificationWithWebview::framePositionLeftOffscreen() const {
    const auto size = webViewSize();
    return {{-size.width, screenCenter().y - size.height / 2}, size};
}

platform::Rect MVNotificationWithWebview::framePositionRightOffscreen() const {
    const auto size = webViewSize();
    return {{screenSize().width, screenCenter().y - size.height / 2}, size};
}

void MVNotificationWithWebview::adaptSizeToWebviewContentSize() {
    if (!notificationWebView_) return;
    notificationWebView_->setFrame(
        {notificationWebView_->frame().origin, notificationWebView_->sizeOfHtmlContent()});
}
