#pragma once
// A shop page on the headless engine: answers the scripts MVWebView evaluates in its
// pages (the document-ready poll, document.readyState, the override injection, measuring,
// the background colour, the title) as the page described by its settings would, records
// the events the page receives, and sends what a page sends (commands, override reports).
//
//   auto model = HeadlessPageModel::attach(headlessEngineOf(*webView));
//   model->settings.library = true;          // with the page library ...
//   model->settings.readyAfterPolls = 3;     // ... ready on the third poll of each page
//   webView->loadHTMLString("<p>shop</p>", base);
//   platform::advanceBy(0.1);
//   model->sendCommands({{"ver", "2.0"}, {"cmds", {{{"c", "echo"}, {"s", 0}}}}});
//   model->events();                         // [{name, parameters}, ...]
//
// The settings apply to every page the engine shows. The engine keeps the model's state
// alive; main thread only.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/web/HeadlessWebEngine.h"

class HeadlessPageModel {
  public:
    struct Settings {
        // Carries the page library: a script element with id "libmerovane".
        bool library = false;
        std::string librarySource = "data:text/javascript,libmerovane";
        // The library answers "true" from this ready poll of each page on; 0: never.
        int readyAfterPolls = 1;
        std::string readyState = "complete";
        // The html element's attributes; "null" when absent.
        std::string discardedFromHistory = "null";
        std::string disallowPullToRefresh = "null";
        std::string title;
        // The html element's offsetWidth and offsetHeight.
        double width = 320;
        double height = 480;
        // The computed background colour of the html element.
        std::string backgroundColor = "rgba(0, 0, 0, 0)";
    };

    struct ReceivedEvent {
        std::string name;
        nlohmann::json parameters;
        bool operator==(const ReceivedEvent&) const = default;
    };

    // Installs the model as the engine's script responder.
    static std::shared_ptr<HeadlessPageModel> attach(platform::HeadlessWebEngine& engine);

    Settings settings;
    // Answers scripts the model does not know; none answers "".
    std::function<platform::HeadlessWebEngine::ScriptAnswer(const std::string&)> otherScripts;

    // Every event the pages received, in order, read back from the scripts that carried them.
    const std::vector<ReceivedEvent>& events() const { return events_; }
    std::vector<std::string> eventNames() const;
    // The scripts that carried events: one per delivery (a buffer is one script).
    const std::vector<std::string>& eventScripts() const { return eventScripts_; }
    // Document-ready scripts answered for the page shown now.
    int readyPolls() const { return readyPolls_; }
    int overrideInjections() const { return overrideInjections_; }

    // The page navigates to "mvcmd:" + the URL-encoded collection.
    void sendCommands(const nlohmann::json& collection);
    // The page's overridden functions report, and its library reports pushState.
    void locationReplace(const std::string& url);
    void replaceState(const std::string& documentUrl);
    void pushState(const std::string& url);

    // Splits a script into the events it delivers; false when some call does not read.
    static bool parseEventScript(const std::string& script, std::vector<ReceivedEvent>& out);

  private:
    explicit HeadlessPageModel(platform::HeadlessWebEngine& engine) : engine_(engine) {}
    platform::HeadlessWebEngine::ScriptAnswer answer(const std::string& script);
    std::string readyAnswer();

    platform::HeadlessWebEngine& engine_;
    std::vector<ReceivedEvent> events_;
    std::vector<std::string> eventScripts_;
    int readyPolls_ = 0;
    int overrideInjections_ = 0;
    const void* polledPage_ = nullptr;
    size_t polledPageIndex_ = 0;
};
