#include "libmerovane/overlays/MVSplashScreenController.h"

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/UIScreenExtensions.h"
#include "libmerovane/overlays/MVSplashScreen.h"
#include "libmerovane/overlays/MVSplashScreenBundleURLProtocol.h"
#include "libmerovane/overlays/MVSplashScreenLaunchImage.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"

namespace {

constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;

class InstalledSplashScreen : public MVSplashScreenInterface {
  public:
    bool isVisible() const override { return MVSplashScreenController::isVisible(); }
    void showSplashScreen() override { MVSplashScreenController::showSplashScreen(); }
    void hideSplashScreen() override { MVSplashScreenController::hideSplashScreen(); }
    void setSplashScreenWithUrlString(const std::string& urlString) override {
        MVSplashScreenController::setSplashScreenWithUrlString(urlString);
    }
};

}  // namespace

std::shared_ptr<MVSplashScreenControllerView> MVSplashScreenControllerView::create(
    const platform::Rect& frame) {
    return std::shared_ptr<MVSplashScreenControllerView>(new MVSplashScreenControllerView(frame));
}

void MVSplashScreenControllerView::didMoveToWindow() {
    if (auto controller = splashScreenController()) controller->splashScreenDidMoveToWindow();
}

std::shared_ptr<MVSplashScreenContentContainerView> MVSplashScreenContentContainerView::create(
    const platform::Rect& frame) {
    return std::shared_ptr<MVSplashScreenContentContainerView>(
        new MVSplashScreenContentContainerView(frame));
}

std::shared_ptr<MVSplashScreenContainerView> MVSplashScreenContainerView::create(
    const platform::Rect& frame) {
    return std::shared_ptr<MVSplashScreenContainerView>(new MVSplashScreenContainerView(frame));
}

void MVSplashScreenController::install() {
    MVViewControllerHierarchy::installContainerClass(kClassName, [] { return create(); });
    MVSplashScreenInterface::install(std::make_shared<InstalledSplashScreen>());
    platform::URLProtocol::registerClass(MVSplashScreenBundleURLProtocol::factory());
}

std::shared_ptr<MVSplashScreenController> MVSplashScreenController::create() {
    std::shared_ptr<MVSplashScreenController> controller(new MVSplashScreenController);
    controller->view();
    MVSplashScreen::addController(controller);
    MVSplashScreen::sharedView();
    return controller;
}

std::shared_ptr<MVSplashScreenController> MVSplashScreenController::initWithContentViewController(
    std::shared_ptr<platform::ViewController> content) {
    auto controller = create();
    controller->setContentViewController(std::move(content));
    return controller;
}

void MVSplashScreenController::loadView() {
    MVContainerViewController::loadView();
    auto root = MVSplashScreenControllerView::create(boundsDependingOnOrientation(
        platform::Screen::main(), platform::Application::shared().statusBarOrientation()));
    root->setSplashScreenController(
        std::static_pointer_cast<MVSplashScreenController>(shared_from_this()));
    root->setUserInteractionEnabled(true);
    root->setAutoresizingMask(kFlexibleSize);

    const auto& content = contentContainerView();
    content->setFrame(root->bounds());
    content->setAutoresizingMask(kFlexibleSize);
    content->setUserInteractionEnabled(false);
    root->addSubview(content);

    splashScreenContainerView_ = MVSplashScreenContainerView::create(root->bounds());
    splashScreenContainerView_->setAutoresizingMask(kFlexibleSize);
    root->addSubview(splashScreenContainerView_);
    setView(root);
}

void MVSplashScreenController::showSplashScreen() {
    MVSplashScreen::sharedView()->show();
}

void MVSplashScreenController::hideSplashScreen() {
    MVSplashScreen::sharedView()->hide();
    MVLogVerbose(kHideTimeFormat, MVLibraryApplication::timeIntervalSinceLaunching());
}

bool MVSplashScreenController::isVisible() {
    return MVSplashScreen::sharedView()->alpha() != 0;
}

void MVSplashScreenController::setSplashScreenWithUrlString(
    const std::optional<std::string>& urlString) {
    MVSplashScreen::sharedView()->setSplashScreenWithUrlString(urlString);
}

std::shared_ptr<const platform::Image> MVSplashScreenController::launchImage() {
    return MVSplashScreenLaunchImage::launchImage();
}

double MVSplashScreenController::progressOffsetForCurrentDevice() {
    return MVSplashScreenLaunchImage::progressOffsetForCurrentDevice();
}

void MVSplashScreenController::splashScreenDidMoveToWindow() {
    MVSplashScreen::sharedView()->shallBecomeNewCurrentDisplayingSplashScreenController(
        std::static_pointer_cast<MVSplashScreenController>(shared_from_this()));
}

void MVSplashScreenController::webViewDidChangePreferredStatusBarStyle(
    MVWebView& webView, const std::shared_ptr<MVStatusBarStyle>& style) {
    MVSplashScreen::sharedView()->webViewDidChangePreferredStatusBarStyle(webView, style);
}

void MVSplashScreenController::didReceiveMemoryWarning() {
    MVContainerViewController::didReceiveMemoryWarning();
    MVSplashScreen::sharedView()->didReceiveMemoryWarning();
}

std::shared_ptr<MVStatusBarStyle> MVSplashScreenController::overlayStatusBarStyle() const {
    if (!isVisible()) return nullptr;
    auto style = MVSplashScreen::sharedView()->preferredMVStatusBarStyle();
    return style ? style : MVStatusBarStyle::statusBarStyleNone();
}

std::shared_ptr<MVStatusBarStyle> MVSplashScreenController::fallbackStatusBarStyle() const {
    return MVStatusBarStyle::statusBarStyleDark();
}
