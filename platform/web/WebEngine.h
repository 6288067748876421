#pragma once
// The engine behind platform::WebView: loads pages, asks before navigating, runs
// scripts. HeadlessWebEngine serves tests; WebKitGtkWebEngine (library platform_webkit)
// shows real pages.
//
// Every engine keeps this contract:
// - Each load (HTML string, data, request) and each navigation the page starts asks the
//   client exactly once, first, whether it may happen. A refused navigation is never
//   loaded; an allowed one is followed by start and then finish or failure.
// - Decisions, start, finish, failure and asynchronous script results reach the client
//   on later turns of the main run loop, never inside the call that caused them and
//   never while a synchronous call (script, snapshot) is under way.
// - stringByEvaluatingJavaScript answers before it returns: the result as text, "" for
//   undefined, null and script errors. So does userAgent.
// - A navigation the page started before a later load (HTML string, data, request) is
//   refused without asking the client when its decision comes: that load replaced the
//   page, whose target must not take its place.
// Main thread only. The engine must not outlive nor change its client while reporting.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLRequest.h"
#include "platform/ui/Color.h"
#include "platform/ui/Image.h"
#include "platform/web/NavigationType.h"

namespace platform {

// Set by an engine that tells frames apart on a frame's navigation request (whose main
// document is the page's): an int64_t naming the document that made it, unique among the
// page's frames' documents.
inline constexpr const char* kFrameDocumentProperty = "WebEngineFrameDocument";
// Set by an engine that keeps a session history on a back or forward navigation of the
// top frame: an int64_t, how many of its entries the page goes (negative: back).
inline constexpr const char* kHistoryStepProperty = "WebEngineHistoryStep";

// Set by an engine that keeps a session history on its report of the page's own step in
// the document shown (no navigation: a fragment change, pushState, replaceState, back or
// forward between them), asked as a top-frame navigation to the address the page is at
// after it, whose answer is not used: a DocumentHistoryChange.
inline constexpr const char* kDocumentHistoryProperty = "WebEngineDocumentHistory";
struct DocumentHistoryChange {
    enum class Kind {
        Added,     // an entry the page made without asking (pushState)
        Replaced,  // the entry's address changed (replaceState)
        Moved,     // the page went `step` entries of its document (negative: back)
    };
    Kind kind = Kind::Added;
    int64_t step = 0;
};

// What the engine reports to; the web view implements it.
class WebEngineClient {
  public:
    virtual bool engineShouldStartLoad(const URLRequest& request, NavigationType type) = 0;
    virtual void engineDidStartLoad() = 0;
    virtual void engineDidFinishLoad() = 0;
    virtual void engineDidFailLoad(const Error& error) = 0;

  protected:
    ~WebEngineClient() = default;
};

// The result of an asynchronous evaluation: text, or an error with "" as text.
using ScriptCompletion =
    std::function<void(const std::string& result, const std::optional<Error>& error)>;

class WebEngine {
  public:
    // How long a synchronous call (script, snapshot) waits for an engine that answers
    // asynchronously, in real seconds.
    static constexpr double kSynchronousTimeout = 10.0;

    WebEngine();
    virtual ~WebEngine();
    WebEngine(const WebEngine&) = delete;
    WebEngine& operator=(const WebEngine&) = delete;

    // Null detaches: reports then go nowhere and every navigation is allowed.
    void setClient(WebEngineClient* client) { client_ = client; }
    WebEngineClient* client() const { return client_; }

    // No base URL: the page's address is "about:blank".
    virtual void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) = 0;
    virtual void loadData(const std::string& data, const std::string& mimeType,
                          const std::string& textEncodingName,
                          const std::optional<URL>& baseURL) = 0;
    virtual void loadRequest(const URLRequest& request) = 0;
    virtual void stopLoading() = 0;
    virtual bool isLoading() const = 0;
    // The request of the document shown (or being loaded), if any.
    virtual std::optional<URLRequest> request() const = 0;

    virtual std::string stringByEvaluatingJavaScript(const std::string& script) = 0;
    virtual void evaluateJavaScript(const std::string& script, ScriptCompletion completion) = 0;
    virtual std::string title() const = 0;
    // What pages read as navigator.userAgent. By default the page's script answers; an
    // engine that keeps it in its settings answers from there without waiting for a page.
    virtual std::string userAgent();
    // The Accept-Language the engine sends with the page's requests; empty when none.
    virtual std::string acceptLanguage() { return {}; }

    // In points.
    virtual void setSize(double width, double height) = 0;
    // Shown where the page draws nothing.
    virtual void setBackgroundColor(const Color& color) = 0;
    // The visible page, one pixel a point; empty when it cannot be taken.
    virtual Image snapshot() = 0;

  protected:
    // Runs `fn` at a later turn of the main run loop unless the engine is gone by then.
    void later(std::function<void()> fn);
    // The client's decision; without a client every request loads.
    bool askClient(const URLRequest& request, NavigationType type);
    // Counts the client's loads; engines tag the page's navigations with it as they start.
    uint64_t loadGeneration() const { return loadGeneration_; }
    void beginLoad() { ++loadGeneration_; }
    // The decision on a navigation the page started under `generation`: refused, and
    // logged, when a load came since; else the client's.
    bool askClientForPageNavigation(const URLRequest& request, NavigationType type,
                                    uint64_t generation);
    // Expires with the engine: work that calls out checks it before touching the engine again.
    std::weak_ptr<const void> lifetime() const { return token_; }

  private:
    struct Token;
    WebEngineClient* client_ = nullptr;
    std::shared_ptr<Token> token_;
    uint64_t loadGeneration_ = 0;
};

}  // namespace platform
