#pragma once
// Helpers for tests of MVWebView (most of them on the headless engine).
//
//   auto webView = MVWebView::create({0, 0, 320, 480});
//   auto& page = headlessEngineOf(*webView);        // the test acts as the page
//   LoadNotifications notes(*webView);
//   webView->openUrl(server.url("/page"));
//   ... notes.names == {"start", "finish"}

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/web/HeadlessWebEngine.h"

class MVWebView;

// The engine behind the web view's platform view; the web view must use the
// UIWebView-style adapter and the headless engine (the defaults).
platform::HeadlessWebEngine& headlessEngineOf(MVWebView& webView);

// The web view's history, oldest first: each entry's document URL, or "html:" and its
// base URL.
std::vector<std::string> historyUrls(const MVWebView& webView);

// The server answers the data request `requestSerial` of the web view `webViewSerial`
// (status 200, `body`) through the command handler, as its dataResponse command does.
void answerDataRequest(uint32_t webViewSerial, const std::string& requestSerial,
                       const std::string& body);

// Records the load notifications of one web view: "start", "finish", "fail", "cancel".
class LoadNotifications {
  public:
    explicit LoadNotifications(const MVWebView& webView);
    std::vector<std::string> names;
    // Every notification's object named the web view.
    bool objectsMatched = true;

  private:
    std::vector<platform::ObserverRegistration> registrations_;
};
