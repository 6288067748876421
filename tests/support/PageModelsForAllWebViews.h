#pragma once
// Gives every MVWebView that starts a load from now on a HeadlessPageModel (so that its
// pages answer like finished pages) and keeps it, for tests of code that makes its own
// web views (the pool, the web page view controller).
//
//   PageModelsForAllWebViews models;
//   pool.cachedWebViewForUrl(url);
//   runUntilPolled([&] { return models.allLoaded(); }, 10.0);
//
// Main thread only.

#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "tests/support/HeadlessPageModel.h"

class MVWebView;

class PageModelsForAllWebViews {
  public:
    // `configure` may change the settings of each new model.
    explicit PageModelsForAllWebViews(
        std::function<void(HeadlessPageModel::Settings&)> configure = {});
    ~PageModelsForAllWebViews();

    // Every web view that started a load, oldest first, each once.
    std::vector<std::shared_ptr<MVWebView>> webViews;
    // None of them is loading.
    bool allLoaded() const;
    // The model of a web view seen here, or null.
    std::shared_ptr<HeadlessPageModel> modelOf(const MVWebView& webView) const;

  private:
    std::function<void(HeadlessPageModel::Settings&)> configure_;
    std::vector<std::shared_ptr<HeadlessPageModel>> models_;
    platform::ObserverRegistration starts_;
};
