#include "tests/support/MVWebViewTestSupport.h"

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter_UIWebView.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "platform/web/WebView.h"

platform::HeadlessWebEngine& headlessEngineOf(MVWebView& webView) {
    auto& adapter = dynamic_cast<MVWebViewAdapter_UIWebView&>(*webView.webView());
    return dynamic_cast<platform::HeadlessWebEngine&>(adapter.platformWebView().engine());
}

std::vector<std::string> historyUrls(const MVWebView& webView) {
    std::vector<std::string> urls;
    for (const auto& entry : webView.pageHistory())
        urls.push_back(entry->documentUrl().value_or("html:" + entry->baseUrl().value_or("")));
    return urls;
}

LoadNotifications::LoadNotifications(const MVWebView& webView) {
    const std::pair<const char*, const char*> kinds[] = {
        {MVWebViewDidStartLoadingNotification, "start"},
        {MVWebViewDidFinishLoadingNotification, "finish"},
        {MVWebViewDidFailLoadingNotification, "fail"},
        {MVWebViewDidCancelLoadingNotification, "cancel"},
    };
    auto& center = platform::NotificationCenter::defaultCenter();
    const void* sender = static_cast<const MVWebViewInterface*>(&webView);
    for (const auto& kind : kinds) {
        const auto shortName = kind.second;  // clang 14 captures no structured binding
        registrations_.emplace_back(
            center,
            center.addObserver(
                kind.first, sender, [this, shortName, &webView](const platform::Notification& n) {
                    names.push_back(shortName);
                    auto* object = std::any_cast<std::weak_ptr<MVWebView>>(&n.object);
                    if (!object || object->lock().get() != &webView) objectsMatched = false;
                }));
    }
}

void answerDataRequest(uint32_t webViewSerial, const std::string& requestSerial,
                       const std::string& body) {
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "1.0"},
         {"cmds",
          {{{"c", "dataResponse"},
            {"p",
             {{"serial", std::to_string(webViewSerial) + ":" + requestSerial},
              {"status", 200},
              {"body", body}}}}}}},
        nullptr);
}
