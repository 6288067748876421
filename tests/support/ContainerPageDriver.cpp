#include "tests/support/ContainerPageDriver.h"

#include <algorithm>

#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/MVWebViewTestSupport.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PollingWait.h"

namespace {

// Loads of HTML text end on the manual clock; the bound only guards against a hang.
constexpr double kRenderBound = 10.0;

}  // namespace

std::shared_ptr<ContainerPage> ContainerPage::create(const platform::Rect& frame) {
    auto webView = MVWebView::create(frame);
    auto model = HeadlessPageModel::attach(headlessEngineOf(*webView));
    model->settings.library = true;
    return std::make_shared<ContainerPage>(std::move(webView), std::move(model));
}

std::shared_ptr<ContainerPage> ContainerPage::of(const std::shared_ptr<MVWebView>& webView,
                                                 const PageModelsForAllWebViews& models) {
    auto model = models.modelOf(*webView);
    if (!model) model = HeadlessPageModel::attach(headlessEngineOf(*webView));
    model->settings.library = true;
    return std::make_shared<ContainerPage>(webView, std::move(model));
}

bool ContainerPage::render(platform::Size contentSize, const std::string& html,
                           const std::optional<platform::URL>& baseURL) {
    model->settings.width = contentSize.width;
    model->settings.height = contentSize.height;
    webView->loadHTMLString(html, baseURL);
    return finishLoading(contentSize);
}

bool ContainerPage::finishLoading(platform::Size contentSize) {
    model->settings.width = contentSize.width;
    model->settings.height = contentSize.height;
    LoadNotifications notes(*webView);
    auto saw = [&](const char* name) {
        return std::find(notes.names.begin(), notes.names.end(), name) != notes.names.end();
    };
    // The page's library answers the ready poll; then the page sends its onload.
    runUntilPolled([&] { return webView->isUsingLibrary() || saw("fail"); }, kRenderBound);
    if (webView->isUsingLibrary()) webView->onload();
    runUntilPolled([&] { return saw("finish") || saw("fail"); }, kRenderBound);
    platform::runUntilIdle();
    return saw("finish") && webView->sizeOfHtmlContent() == contentSize;
}

void ContainerPage::changePageSize(platform::Size contentSize) {
    model->settings.width = contentSize.width;
    model->settings.height = contentSize.height;
    webView->pageSizeDidChange();
    platform::runUntilIdle();
}

void ContainerPage::setViewProperties(const nlohmann::json& viewProperties) {
    webView->setViewProperties(viewProperties);
}

void ContainerPage::askToClose() {
    if (auto delegate = webView->delegate()) delegate->webViewDemandsCloseByCombat(*webView);
}

void ContainerPage::chooseStatusBarStyle(const std::string& identifier) {
    if (auto delegate = webView->delegate())
        delegate->webViewDidChangePreferredStatusBarStyle(
            *webView, MVStatusBarStyle::statusBarStyleWithStyleIdentifier(identifier));
}

std::vector<nlohmann::json> ContainerPage::parametersOf(const std::string& name) const {
    std::vector<nlohmann::json> found;
    for (const auto& event : model->events())
        if (event.name == name) found.push_back(event.parameters);
    return found;
}
