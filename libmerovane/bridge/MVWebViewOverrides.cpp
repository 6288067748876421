// MVWebView: the injected JavaScript overrides and what their reports do to the page
// history. The script and the private schemes are MVJavascriptOverrides'.
#include "libmerovane/bridge/MVJavascriptOverrides.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URLRequest.h"

namespace texts = mvwebview_texts;

void MVWebView::injectJavascriptOverridesThenDo(std::function<void()> block) {
    webView_->evaluateJavaScript(
        MVJavascriptOverrides::injectedScript(),
        [block = std::move(block)](const std::string&, const std::optional<platform::Error>&) {
            if (block) block();
        });
}

bool MVWebView::willHandleJavascriptOverride(MVWebViewAdapter& adapter,
                                             std::optional<platform::URLRequest>& request,
                                             platform::NavigationType) {
    using Override = MVJavascriptOverrides::Override;
    if (!request) return false;
    const auto override = MVJavascriptOverrides::overrideForScheme(request->url().scheme());
    if (!override) return false;
    const char* name = MVJavascriptOverrides::displayName(*override);
    const auto address = MVJavascriptOverrides::reportedAddress(request->url());
    if (!address) {
        MVLogWarn(texts::kUnreadableOverride, debugName(), name, request->url().absoluteString());
        request.reset();
        return true;
    }
    MVLogInfo(texts::kWillHandleOverride, debugName(), name);

    switch (*override) {
        case Override::LocationReplace: {
            // The page may pass a relative address, as location.replace allows.
            std::optional<platform::URL> url = platform::URL::parse(*address);
            if (url && url->scheme().empty()) {
                url = loadedBaseURL_ ? platform::URL::resolve(*address, *loadedBaseURL_)
                                     : std::nullopt;
            }
            if (!url) {
                MVLogWarn(texts::kUnreadableOverride, debugName(), name,
                          platform::log::escaped(*address));
                request.reset();
                return true;
            }
            if (!pageHistory_.empty()) pageHistory_.pop_back();
            request->setURL(*url);
            request->setMainDocumentURL(*url);
            platform::RunLoop::main().post(
                [adapter = std::static_pointer_cast<MVWebViewAdapter>(adapter.shared_from_this()),
                 replacement = *request] { adapter->loadRequest(replacement); });
            return true;
        }
        case Override::HistoryReplaceState:
            if (auto newest = newestEntry()) {
                if (newest->isUrlEntry()) {
                    newest->setDocumentUrl(*address);
                } else {
                    newest->setBaseUrl(*address);
                }
            }
            request.reset();
            return false;
        case Override::HistoryPushState: {
            if (appendPushStateEntry(*address))
                platform::RunLoop::main().post([weak = weakSelf()] {
                    if (auto webView = weak.lock()) webView->tellHistoryModified();
                });
            request.reset();
            return false;
        }
    }
    return false;
}
