#pragma once
// The real web engine: WebKitGTK showing pages in a hidden offscreen window.
//
//   platform::WebView::setEngineFactory([] { return
//   std::make_unique<platform::WebKitGtkWebEngine>(); });
//
// Keeps WebEngine's contract with WebKit's asynchronous signals: "decide-policy" becomes
// the client's decision (the decision object is kept until the client has answered on
// a later turn), "load-changed" and "load-failed" become start, finish and failure
// (failures caused by our own refusals are dropped). Synchronous calls (script,
// snapshot) iterate GLib until WebKit answers, bounded by a time-out and never while
// the engine's processes are stopped (setProcessesStopped); signals arriving meanwhile
// wait until the call has returned.
//
// HTML (strings, and data that reads as UTF-8 HTML) is handed to WebKit as the content of
// its base address, so that the page has a session-history item and its pushState keeps
// state and entries to step back to. WebKit asks no decision for such a load: the engine
// asks the client itself on a later turn and starts the load once allowed; a later load
// or stopLoading supersedes a load still waiting.
//
// WebKit keeps http and https to itself: a web-process extension (extension/) hands
// the GET requests a page makes without CORS (images, classic scripts, style sheets,
// media) to URL loading, and so to the registered URL protocols, under a routing scheme
// that keeps the original address. Documents, frames, XHR and fetch stay WebKit's, so
// the page's same-origin requests reach its server as they are. WebKit tells the
// request's mode to https and loopback pages only: a plain http page of another host
// gets only its images and style sheets routed.
//
// Creating the first engine starts GTK and makes GLib's default main context the main
// run loop's waiter for the rest of the process. All engines share one ephemeral web
// context: nothing is written to disc.
//
// WebKit does not say which frame a navigation targets. A frame's request carries the
// page's address as its main document, and so loads in its frame; any other is the top
// frame's, its own main document. The frame is told, in this order: by the fetch
// destination WebKit gives a redirect's request (trustworthy origins: https, the
// loopback); by what the web-process extension noted, ahead of the decision, of a link
// clicked or a form sent in any frame (the frame it goes to, and the document it comes
// from, which a frame's "mvcmd:" request carries as kFrameDocumentProperty; what cannot
// load, such as a page command, is the sending document's wherever it goes); else, for a
// document WebKit can load, by asking the web-process extension, which knows every frame's
// document of any origin, whether a frame element of one of them has that address as its
// source and more of them have it than frames show it yet (without the extension, the
// page is asked about the frames it can reach).
// WebKit tells nothing of a script's navigation (location, a form's submit()) or of a
// redirect on a plain http origin of another host before its decision: inside a frame
// these are still taken as the top frame's. A top frame's navigation by a link or a form
// is decided once the page has answered a script after the task that started it (at most
// 2 s), so that a page command the same task sends after it reaches the client first.
// A page command is the top frame's document's as WebKit shows it when the request comes
// (its commit, or a load of ours that ended without one): one of a document that a newer
// load of ours replaces is refused, also when the load began before the request reached us.
//
// Page commands also come by the extension's channel (window.__mvCommandChannel in the top
// frame only, which no page policy governs): each is decided as the link to its "mvcmd:"
// address would be, the top document's, in the order the page sent them, within the same
// bounds. Only the top document commands: every document gets, beside its own, a policy
// whose frame-src leaves out "mvcmd:", so WebKit refuses a frame's own navigation to a page
// command before any decision (the extension tells each document's refusal once, which is
// logged); a frame's link to the top frame is marked as the frame's.
//
// Memory: WebKit keeps its record of a refused navigation ("mvcmd:" commands among them)
// that a newer navigation of the page overtook before the refusal reached the page, about
// 5 KB each, and never gives it back while the view lives; a bare WebKit view does the same.
// Refused navigations that the page makes one after the other, and the channel's commands,
// leave nothing: the decision path here keeps nothing past its answer.
//
// WebKit follows one navigation of the top frame per JavaScript task: a page that sets
// location.href many times in one task (2,000 "mvcmd:" sends in a loop) gets only one
// of them decided, the others are dropped before they reach the engine. Pages must send
// one navigation per task, the next once the one before was taken up.
//
// A page that assigns location.href while its document still loads (an inline script,
// DOMContentLoaded) has that load stopped by WebKit as the navigation is scheduled, before
// any decision: the rest of the document is not parsed and its load event never comes,
// whatever the client answers. A link the page clicks is decided at once, also while the
// load goes on and beside other links of the same task, but it drops a navigation the
// page scheduled before in its frame: the page library sends its commands by links.
// Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/web/WebEngine.h"

namespace platform {

class URL;

// An address as WebKit writes it (raw "[", "]", "|", "{" in its path and query), read as
// the platform's URL with those escaped; none when it cannot be read.
std::optional<URL> readWebKitURI(const char* uri);

class WebKitGtkWebEngine final : public WebEngine {
  public:
    // GTK can start (a display is there). Main thread.
    static bool isAvailable();
    // The folder WebKit loads the web-process extension from (the build tree's by
    // default): a host installed elsewhere names its own. Before the first engine only.
    static void setExtensionsDirectory(std::string folder);

    // Throws NSInternalInconsistencyException when GTK cannot start.
    WebKitGtkWebEngine();
    ~WebKitGtkWebEngine() override;

    void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) override;
    void loadData(const std::string& data, const std::string& mimeType,
                  const std::string& textEncodingName, const std::optional<URL>& baseURL) override;
    void loadRequest(const URLRequest& request) override;
    void stopLoading() override;
    bool isLoading() const override;
    std::optional<URLRequest> request() const override;
    std::string stringByEvaluatingJavaScript(const std::string& script) override;
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion) override;
    std::string title() const override;
    // From the view's settings: no web process needs to have started.
    std::string userAgent() override;
    std::string acceptLanguage() override;
    void setSize(double width, double height) override;
    void setBackgroundColor(const Color& color) override;
    Image snapshot() override;

    // The host tells when the engine's processes are stopped (a terminal's Ctrl-Z stops
    // its whole process group) and when they run again. Meanwhile a synchronous call
    // waits for nothing: a script is started and runs once they continue, its result
    // is empty, and a snapshot is empty. Any thread.
    static void setProcessesStopped(bool stopped);
    static bool processesStopped();
    // The host tells when the application stops: from then on, for the rest of the
    // process, a synchronous call waits for nothing, as while the processes are stopped
    // (a page that hangs cannot hold the stop). Any thread.
    static void setApplicationStopping();

    // Navigations WebKit cannot load (page commands) wait for the client on later turns;
    // past either bound, a new one is dropped with a log line.
    static constexpr size_t kMaximumWaitingRefusals = 4096;
    static constexpr size_t kMaximumWaitingRefusalBytes = size_t{256} << 20;

    // How long a synchronous call waits for WebKit, in real seconds (kSynchronousTimeout
    // by default).
    void setSynchronousTimeout(double seconds);
    // Signals that arrived during synchronous calls and were delivered after them.
    size_t deferredSignalCount() const;
    // WebKit views of engines made and not yet finalized, in the whole process.
    static size_t liveViewCount();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
