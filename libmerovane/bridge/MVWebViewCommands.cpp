// MVWebView: what a page's navigation to the command scheme and to an API page does.
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

namespace texts = mvwebview_texts;

void MVWebView::performCommandURL(const platform::URLRequest& request) {
    auto keep = self();
    MVCommandChannel::performCommandURL(request.url().absoluteString(), keep, lastCommandSerial_);
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
