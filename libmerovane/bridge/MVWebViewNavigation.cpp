// MVWebView: the decision on each navigation request of the platform view: loaded by
// the platform view itself, or dealt with here.
#include <utility>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/URLRequest.h"
#include "platform/ui/Application.h"

namespace texts = mvwebview_texts;

namespace {

constexpr const char* kLeavingCommandRefused =
    "MVWebView{} refused the commands of a page that is leaving for another document";

enum class Route {
    Platform,  // the platform view loads it
    Command,   // the page's command channel
    ApiPage,   // a link to a page of the API
    Mail,      // handed to the application that sends mail
    Native,    // a link to another document, fetched by the web view
};

Route routeForScheme(const std::string& scheme) {
    if (scheme == "mvcmd") return Route::Command;
    if (scheme == "mvapi") return Route::ApiPage;
    if (scheme == "tel") return Route::Platform;
    if (scheme == "mailto") return Route::Mail;
    return Route::Native;
}

// A navigation to the loaded document's own address that loads it again rather than
// moving within it.
bool reloadsDocument(const std::string& absolute, platform::NavigationType type) {
    if (type == platform::NavigationType::BackForward) return false;
    return type == platform::NavigationType::Reload || absolute.find('#') == std::string::npos;
}

}  // namespace

std::optional<bool> MVWebView::webViewShouldStartLoadWithRequest(
    MVWebViewAdapter& adapter, const platform::URLRequest& request,
    platform::NavigationType navigationType) {
    const std::string& absolute = request.url().absoluteString();
    if (isGarbage_) MVLogVerbose(texts::kGarbageRequest, debugName(), absolute);
    if (takeDocumentHistoryChange(request)) return false;
    if (webViewInitialRequest_) {
        webViewInitialRequest_ = false;
        return true;
    }
    // Reports of the injected overrides are dealt with and never loaded.
    std::optional<platform::URLRequest> reported = request;
    if (willHandleJavascriptOverride(adapter, reported, navigationType) || !reported) return false;
    const auto& mainDocument = request.mainDocumentURL();
    if (mainDocument && !(*mainDocument == request.url())) {
        // A frame of the page: it loads in its frame. Only the page itself commands.
        if (request.url().schemeLowercased() != "mvcmd") return true;
        refuseFrameCommandURL(request);
        return false;
    }

    std::string url = absolute;
    std::shared_ptr<MVWebViewHistoryEntry> fragmentEntry;
    if (const auto hash = absolute.find('#'); hash != std::string::npos) {
        auto newest = newestEntry();
        if (newest && newest->isUrlEntry() && *newest->documentUrl() != absolute)
            fragmentEntry = MVWebViewHistoryEntry::historyEntryWithUrl(absolute);
        url = absolute.substr(0, hash);
    }

    Route route = Route::Platform;
    if (loadedBaseURL_ &&
        !(url == loadedBaseURL_->absoluteString() && request.httpMethod() == "GET")) {
        route = routeForScheme(request.url().schemeLowercased());
    } else if (loadedBaseURL_ && reloadsDocument(absolute, navigationType)) {
        // A reload, or a link to the page's own address: a new document, fetched as
        // every document is, in place of the page's entry.
        route = Route::Native;
        fragmentEntry.reset();
    }

    // A newer load has not reached the platform view yet: a document the old page asks
    // for would take the newer one's place.
    if ((route == Route::Platform || route == Route::Native) &&
        shownLoadGeneration_ != loadGeneration_) {
        MVLogInfo(texts::kStaleNavigation, debugName(), absolute);
        return false;
    }

    // The page's own back or forward to another document steps its page history, also to
    // an older entry of the address shown.
    if (navigationType == platform::NavigationType::BackForward &&
        (route == Route::Native || route == Route::Platform)) {
        const auto steps = pageHistoryStep(request);
        if (steps && (route == Route::Native || (*steps < 0 && stepLeavesDocument(*steps)))) {
            leavingDocument_ = document_;
            leavingByStep_ = true;
            leavingLoad_ = loadGeneration_;
            leavingCommandRefused_ = false;
            performBlock(
                [weak = weakSelf(), steps = *steps] {
                    if (auto webView = weak.lock()) webView->followPageHistory(steps);
                },
                isLoading_);
            return false;
        }
    }

    // A link followed natively gets its entry then; only what stays in the page (or
    // never leaves the application) gets the fragment's entry here. A page command is
    // no place the page goes to: a "#" in its collection leaves no entry behind.
    if (fragmentEntry && route != Route::Native && route != Route::Command) {
        pageHistory_.push_back(std::move(fragmentEntry));
        platform::RunLoop::main().post([weak = weakSelf()] {
            if (auto webView = weak.lock()) webView->tellHistoryModified();
        });
    }

    switch (route) {
        case Route::Platform:
            return true;
        case Route::Command:
            // The page asked to leave: by its own step from then on, by a link once the
            // document it goes to is on its way; a load that ends without one keeps it.
            if (leavingDocument_ == document_ &&
                (shownLoadGeneration_ != loadGeneration_ ||
                 (leavingByStep_ && leavingLoad_ == loadGeneration_))) {
                if (!std::exchange(leavingCommandRefused_, true))
                    MVLogInfo(kLeavingCommandRefused, debugName());
                return false;
            }
            performCommandURL(request);
            return false;
        case Route::ApiPage:
            openApiLink(request);
            return false;
        case Route::Mail: {
            auto& application = platform::Application::shared();
            if (application.canOpenURL(request.url())) application.openURL(request.url());
            return false;
        }
        case Route::Native:
            if (leavingDocument_ != document_) {
                leavingDocument_ = document_;
                leavingByStep_ = false;
                leavingCommandRefused_ = false;
            }
            performBlock(
                [weak = weakSelf(), request, navigationType] {
                    if (auto webView = weak.lock())
                        webView->followLinkNatively(request, navigationType);
                },
                isLoading_);
            return false;
    }
    return false;
}
