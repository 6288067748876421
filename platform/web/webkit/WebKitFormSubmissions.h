#pragma once
// A top frame's form submission with a body (a POST navigation) in WebKitGTK. WebKit's
// navigation decision carries the address and the method only, never the body, so it
// cannot be decided and fetched by the client as sent. Instead WebKit is let go on with it
// and builds the request as a browser does (fields, encoding, multipart boundary and files,
// Content-Type, Origin); the web-process extension sends that request to the capture scheme
// ("mv-form-" before the original address), whose handler here takes method, headers and
// body, ends WebKit's load unseen, and hands the whole request to the client's decision.
//
// WebKit cannot hand over a multipart body holding a file: the extension builds that body
// itself and sends it ahead of the capture ("mv-form-body"), which names it.
//
// A submission whose request cannot be had (no extension, a body past kMaximumBody, a body
// not handed over) is never sent without its body: it is refused with a line in the log
// saying why.
//
// WebKit's load events of a submission under way are the capture's, not the page's: the
// engine asks swallows() before reporting each. Main thread only.

#include <webkit2/webkit2.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/URLRequest.h"

namespace platform {

class WebKitFormSubmissions {
  public:
    // How much of a form's body the shell carries.
    static constexpr size_t kMaximumBody = size_t{64} << 20;

    // `currentLoad` counts the engine's own loads and stops: one since a capture began
    // ends it.
    WebKitFormSubmissions(WebKitWebView* view, std::function<uint64_t()> currentLoad);
    ~WebKitFormSubmissions();
    WebKitFormSubmissions(const WebKitFormSubmissions&) = delete;
    WebKitFormSubmissions& operator=(const WebKitFormSubmissions&) = delete;

    // Registers the capture schemes with the context, once.
    static void registerSchemes(WebKitWebContext* context);
    // A top-frame navigation whose request WebKit must build: a method with a body, to an
    // address WebKit loads over the network.
    static bool carriesBody(const URLRequest& navigation);

    // Lets WebKit build the request of `navigation`: `answer` gets WebKit's decision (true:
    // go on, to the capture); `then` gets the complete request on a later turn, or nothing
    // when the request could not be had.
    // `written` is its address as WebKit wrote it, which its request has.
    void capture(const URLRequest& navigation, const std::string& written,
                 std::function<void(bool)> answer, std::function<void(URLRequest)> then);

    // Takes the extension's "mv-form-body" message; false for any other message.
    bool takeMessage(WebKitUserMessage* message);

    // Whether WebKit's load event (or failure, as WEBKIT_LOAD_FINISHED + 1) is the capture's.
    // A commit is never the capture's.
    bool swallows(int loadEvent);
    // On WebKit's commit: a capture under way was not taken (WebKit sent the form itself)
    // and ends here; true when its start was swallowed.
    bool endsUncaptured();
    static constexpr int kLoadFailed = WEBKIT_LOAD_FINISHED + 1;

  private:
    struct Capture {
        std::string address;
        uint64_t load = 0;
        bool requested = false;
        std::function<void(URLRequest)> then;
    };
    // A body the extension built, or why it could not.
    struct HandedBody {
        uint64_t number = 0;
        std::string type;
        std::string error;
        std::vector<uint8_t> bytes;
    };
    static void serve(WebKitURISchemeRequest* request, gpointer);
    void take(WebKitURISchemeRequest* request);
    bool active() const;

    WebKitWebView* view_;
    std::function<uint64_t()> currentLoad_;
    std::optional<Capture> capture_;
    // The newest bodies handed over, oldest first.
    std::deque<HandedBody> bodies_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace platform
