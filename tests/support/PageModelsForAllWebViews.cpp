#include "tests/support/PageModelsForAllWebViews.h"

#include <algorithm>
#include <any>

#include "libmerovane/bridge/MVWebView.h"
#include "tests/support/MVWebViewTestSupport.h"

PageModelsForAllWebViews::PageModelsForAllWebViews(
    std::function<void(HeadlessPageModel::Settings&)> configure)
    : configure_(std::move(configure)) {
    auto& center = platform::NotificationCenter::defaultCenter();
    starts_ = platform::ObserverRegistration(
        center,
        center.addObserver(
            MVWebViewDidStartLoadingNotification, nullptr, [this](const platform::Notification& n) {
                const auto* weak = std::any_cast<std::weak_ptr<MVWebView>>(&n.object);
                auto webView = weak ? weak->lock() : nullptr;
                if (!webView ||
                    std::find(webViews.begin(), webViews.end(), webView) != webViews.end())
                    return;
                webViews.push_back(webView);
                auto model = HeadlessPageModel::attach(headlessEngineOf(*webView));
                if (configure_) configure_(model->settings);
                models_.push_back(model);
            }));
}

PageModelsForAllWebViews::~PageModelsForAllWebViews() = default;

bool PageModelsForAllWebViews::allLoaded() const {
    return std::none_of(webViews.begin(), webViews.end(),
                        [](const auto& webView) { return webView->isLoading(); });
}

std::shared_ptr<HeadlessPageModel> PageModelsForAllWebViews::modelOf(
    const MVWebView& webView) const {
    for (size_t i = 0; i < webViews.size(); ++i)
        if (webViews[i].get() == &webView) return models_[i];
    return nullptr;
}
