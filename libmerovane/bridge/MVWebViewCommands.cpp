// MVWebView: what a page's navigation to the command scheme and to an API page does.
#include <any>
#include <cstring>

#include "libmerovane/bridge/MVCommandChannel.h"
#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewControllerFactory.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/URLRequest.h"
#include "platform/ui/ViewController.h"
#include "platform/web/WebEngine.h"

namespace texts = mvwebview_texts;

namespace {

constexpr const char* kFrameCommandRefused =
    "MVWebView{} refused the commands of a frame (document {}): only the page itself commands";

}  // namespace

void MVWebView::performCommandURL(const platform::URLRequest& request) {
    auto keep = self();
    MVCommandChannel::performCommandURL(request.url().absoluteString(), keep, lastCommandSerial_);
}

void MVWebView::refuseFrameCommandURL(const platform::URLRequest& request) {
    const std::any document = request.property(platform::kFrameDocumentProperty);
    const int64_t* named = std::any_cast<int64_t>(&document);
    const int64_t key = named ? *named : 0;
    // Said once per frame document of the shown page, for a bounded number of them.
    if (frameCommandsRefused_.count(key)) return;
    if (frameCommandsRefused_.size() >= kMaximumFrameDocuments)
        frameCommandsRefused_.erase(frameCommandsRefused_.begin());
    frameCommandsRefused_.insert(key);
    MVLogWarn(kFrameCommandRefused, debugName(), key);
}

void MVWebView::openApiLink(const platform::URLRequest& request) {
    static constexpr size_t kPrefix = std::char_traits<char>::length("mvapi:");
    const std::string pageId = request.url().absoluteString().substr(kPrefix);
    auto keep = self();
    auto page = MVWebViewControllerFactory::webViewControllerOpeningApiPage(pageId);
    if (!page) {
        MVLogWarn(texts::kNoApiPageController, debugName(), pageId);
        return;
    }
    // The delegate's stack: the delegate itself when it is one, else the stack the
    // delegate (a view controller) sits in.
    auto delegate = this->delegate();
    auto stack = std::dynamic_pointer_cast<MVNavigationControllerInterface>(delegate);
    if (!stack) {
        if (auto controller = std::dynamic_pointer_cast<platform::ViewController>(delegate))
            stack = MVNavigationControllerInterface::navigationControllerOf(*controller);
    }
    if (stack) stack->pushViewController(page, true);
}
