#pragma once
// The web engine of unit tests: no page is parsed or drawn. It keeps a transcript of
// what it was asked to do, answers scripts through a responder the test installs, and
// lets the test act as the page (navigate, set location.href, set the title, finish
// or fail the load under way).
//
//   auto engine = std::make_unique<platform::HeadlessWebEngine>();
//   auto* page = engine.get();
//   auto view = platform::WebView::create(std::move(engine));
//   page->setScriptResponder([](const std::string& s) { return s == "1+1" ? "2" : ""; });
//   view->loadHTMLString("<p>hi</p>", std::nullopt);
//   platform::runUntilIdle();          // decision, start, finish on later turns
//   page->navigate("mvcmd:%7B%7D");    // asks the delegate like a link click
//
// Loads of requests go through URL loading (and so through the URL-protocol registry),
// following redirects without asking again; HTML strings and data are the page at once. A load
// finishes by itself once its content is in, unless the test takes over with
// setFinishesLoadsAutomatically(false). An allowed navigation to the shown document that only adds
// a fragment moves within the page: no load, as real engines do. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/web/WebEngine.h"

namespace platform {

class HeadlessWebEngine final : public WebEngine {
  public:
    // A page's answer to a script: text, or an error (the text is then "").
    struct ScriptAnswer {
        ScriptAnswer() = default;
        ScriptAnswer(std::string text) : result(std::move(text)) {}
        ScriptAnswer(const char* text) : result(text) {}
        ScriptAnswer(Error e) : error(std::move(e)) {}
        std::string result;
        std::optional<Error> error;
    };
    using ScriptResponder = std::function<ScriptAnswer(const std::string& script)>;

    enum class LoadKind { HTMLString, Data, Request, Navigation };
    enum class LoadState { Deciding, Refused, Loading, Finished, Failed, Cancelled };

    // One load the engine was asked for, by the web view or by the page.
    struct Load {
        LoadKind kind = LoadKind::HTMLString;
        URLRequest
            request;  // what was decided on: the base URL or "about:blank" for strings and data
        NavigationType navigationType = NavigationType::Other;
        std::string content;  // the HTML, the data, or the fetched body
        std::string mimeType;
        std::string textEncodingName;
        LoadState state = LoadState::Deciding;
        uint64_t generation = 0;  // of a navigation: the engine's loads when it started
    };

    struct Decision {
        URLRequest request;
        NavigationType navigationType = NavigationType::Other;
        bool allowed = false;
    };

    HeadlessWebEngine();
    ~HeadlessWebEngine() override;

    // WebEngine
    void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) override;
    void loadData(const std::string& data, const std::string& mimeType,
                  const std::string& textEncodingName, const std::optional<URL>& baseURL) override;
    void loadRequest(const URLRequest& request) override;
    void stopLoading() override;
    bool isLoading() const override { return loadingIndex_.has_value(); }
    std::optional<URLRequest> request() const override;
    std::string stringByEvaluatingJavaScript(const std::string& script) override;
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion) override;
    std::string title() const override { return title_; }
    void setSize(double width, double height) override;
    void setBackgroundColor(const Color& color) override;
    // A picture of the page's size filled with the background colour.
    Image snapshot() override;

    // The test's side.
    void setScriptResponder(ScriptResponder responder) { responder_ = std::move(responder); }
    void setFinishesLoadsAutomatically(bool value) { finishesAutomatically_ = value; }

    // The page navigates its top frame; the delegate decides on a later turn.
    void navigate(const URLRequest& request, NavigationType type = NavigationType::LinkClicked);
    // Throws NSInternalInconsistencyException when `url` is no URL.
    void navigate(const std::string& url, NavigationType type = NavigationType::LinkClicked);
    // Script sets location.href: a navigation of type Other.
    void setLocationHref(const std::string& url);
    void setTitle(std::string title) { title_ = std::move(title); }
    // End the load under way on a later turn, with what has arrived so far.
    void finishLoad();
    void failLoad(const Error& error);

    // The transcript.
    const std::vector<Load>& loads() const { return loads_; }
    const std::vector<Decision>& decisions() const { return decisions_; }
    const std::vector<std::string>& scripts() const { return scripts_; }
    // Every request, decision, report and script as one line each, in order: "loadHTMLString
    // <url>", "loadData <mime> <encoding> <url>", "loadRequest <method> <url>", "navigate <url>
    // <type>", "decide <url> <type> allowed|refused", "start <url>", "fragment <url>", "finish
    // <url>", "fail <url> <code>", "stop", "evaluate <script>", "snapshot".
    const std::vector<std::string>& transcript() const { return transcript_; }
    // The newest load that started (the page shown or loading), or null.
    const Load* currentPage() const;

    double width() const { return width_; }
    double height() const { return height_; }
    const Color& backgroundColor() const { return background_; }

  private:
    struct Fetch;

    size_t addLoad(Load load, std::string line);
    void decide(size_t index);
    void begin(size_t index);
    void startFetch(size_t index);
    void cancelFetch();
    void finish(size_t index);
    void fail(size_t index, const Error& error);
    void reportFailure(size_t index, const Error& error);
    ScriptAnswer answer(const std::string& script);

    std::vector<Load> loads_;
    std::vector<Decision> decisions_;
    std::vector<std::string> scripts_;
    std::vector<std::string> transcript_;
    std::optional<size_t> pageIndex_;
    std::optional<size_t> loadingIndex_;
    std::shared_ptr<Fetch> fetch_;
    ScriptResponder responder_;
    bool finishesAutomatically_ = true;
    std::string title_;
    double width_ = 0;
    double height_ = 0;
    Color background_ = Color::white();
};

}  // namespace platform
