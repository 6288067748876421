#pragma once
// Fixture for notifications that show pages: every web view gets a headless page model
// (with the page library, measuring 320 by 80 unless a test says otherwise), API pages
// come from a fake web cache, and the time each web view finished rendering is noted.
//
//   auto note = content("pushTop", 3.0);
//   controller->presentNotification(note);
//   const double r = renderTimeOf(*note);   // seconds since the fixture began

#include <any>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/overlays/MVNotificationMovingTypes.h"
#include "libmerovane/overlays/MVNotificationWithWebview.h"
#include "tests/overlays/NotificationTest.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/PageModelsForAllWebViews.h"

class NotificationPageTest : public NotificationTest {
  protected:
    void SetUp() override {
        NotificationTest::SetUp();
        cache = FakeWebCache::install();
        cache->setPage("mv-api-page:promo", "<p>promo</p>", "https://shop.example/promo");
        pageSettings.library = true;
        pageSettings.width = 320;
        pageSettings.height = 80;
        models = std::make_unique<PageModelsForAllWebViews>(
            [this](HeadlessPageModel::Settings& s) { s = pageSettings; });
        auto& center = platform::NotificationCenter::defaultCenter();
        renders = platform::ObserverRegistration(
            center, center.addObserver(MVWebViewDidFinishLoadingNotification, nullptr,
                                       [this](const platform::Notification& n) {
                                           const auto* weak =
                                               std::any_cast<std::weak_ptr<MVWebView>>(&n.object);
                                           if (auto webView = weak ? weak->lock() : nullptr)
                                               renderTimes.emplace(webView.get(), StepNote::now());
                                       }));
    }
    void TearDown() override {
        renders.reset();
        models.reset();
        NotificationTest::TearDown();
    }

    static std::shared_ptr<const MVNotificationClass> classOf(const std::string& type) {
        return MVNotificationController::registeredNotificationTypes().at(type);
    }
    // A notification of the type showing an inline page.
    std::shared_ptr<MVNotificationBaseLinearMovement> content(
        const std::string& type, std::optional<double> timeout = std::nullopt,
        std::optional<double> speedFactor = std::nullopt) {
        return std::dynamic_pointer_cast<MVNotificationBaseLinearMovement>(
            classOf(type)->notificationWithContent("<p>note</p>", "https://shop.example/", nullptr,
                                                   timeout, speedFactor, nullptr));
    }
    // Moves the clock on in small steps until the web view's page rendered (its library
    // reporting onload once the document is ready); answers when that was (seconds since
    // the fixture began), or -1.
    double renderTimeOf(MVWebView& webView) {
        for (int i = 0; i < 5000; ++i) {
            auto found = renderTimes.find(&webView);
            if (found != renderTimes.end()) return found->second;
            if (webView.isUsingLibrary() && webView.isLoading()) webView.onload();
            platform::advanceBy(0.001);
        }
        return -1;
    }
    double renderTimeOf(const MVNotificationWithWebview& note) {
        return note.notificationWebView() ? renderTimeOf(*note.notificationWebView()) : -1;
    }
    // The notification's page, for the test to act as it.
    std::shared_ptr<ContainerPage> pageOf(const MVNotificationWithWebview& note) const {
        return ContainerPage::of(note.notificationWebView(), *models);
    }
    std::shared_ptr<HeadlessPageModel> modelOf(const MVNotificationWithWebview& note) const {
        return note.notificationWebView() ? models->modelOf(*note.notificationWebView()) : nullptr;
    }
    std::vector<std::string> eventNames(const MVNotificationWithWebview& note) const {
        auto model = modelOf(note);
        return model ? model->eventNames() : std::vector<std::string>();
    }
    bool onOverlay(const MVNotificationWithWebview& note) {
        const auto& webView = note.notificationWebView();
        return webView && webView->superview().get() == controller->overlayView().get();
    }

    HeadlessPageModel::Settings pageSettings;
    std::shared_ptr<FakeWebCache> cache;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::map<const MVWebView*, double> renderTimes;
    platform::ObserverRegistration renders;
};
