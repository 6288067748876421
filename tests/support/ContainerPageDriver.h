#pragma once
// A page of a container (bar, menu, header, notification, splash or scanner page) in a
// test: a real MVWebView on the headless engine whose page, a page with the page library,
// the test drives, and a record of every event (MVEvent.__call) the page received.
//
//   auto page = ContainerPage::create();
//   page->webView->setDelegate(container);
//   page->render({320, 49});                  // loads, renders at that content size
//   container->showSomething();
//   page->eventNames() == {"viewWillAppear", "viewDidAppear"}
//   page->changePageSize({320, 60});           // the container hears of the new size
//   page->chooseStatusBarStyle("light");
//
// The page's requests end where the page commands end: in the web view's own operations
// (pageSizeDidChange, setViewProperties) and in its delegate's (webViewDemandsCloseByCombat,
// webViewDidChangePreferredStatusBarStyle). Main thread only.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/URL.h"
#include "tests/support/HeadlessPageModel.h"

class MVWebView;
class PageModelsForAllWebViews;

class ContainerPage {
  public:
    // A new web view of that frame, its page answering through a new model.
    static std::shared_ptr<ContainerPage> create(const platform::Rect& frame = platform::Rect(0, 0,
                                                                                              320,
                                                                                              480));
    // A web view a container made itself, with the model `models` gave it; give the
    // pages of `models` the library before they are polled.
    static std::shared_ptr<ContainerPage> of(const std::shared_ptr<MVWebView>& webView,
                                             const PageModelsForAllWebViews& models);
    ContainerPage(std::shared_ptr<MVWebView> webView, std::shared_ptr<HeadlessPageModel> model)
        : webView(std::move(webView)), model(std::move(model)) {}

    // Loads an HTML page that measures `contentSize` and runs the clock until it has
    // rendered; false when it did not within the bound.
    bool render(platform::Size contentSize, const std::string& html = "<p>page</p>",
                const std::optional<platform::URL>& baseURL =
                    platform::URL::parse("https://shop.example/container-page"));
    // Runs the clock until a load already started has rendered at `contentSize`: the
    // library answers the ready poll, the page sends its onload.
    bool finishLoading(platform::Size contentSize);
    // The page now measures `contentSize` and says that its size changed.
    void changePageSize(platform::Size contentSize);
    // The page sets its view properties (a dictionary).
    void setViewProperties(const nlohmann::json& viewProperties);
    // The page asks to close its view.
    void askToClose();
    // The page chooses a status-bar style by name (any text; "none" hides the bar).
    void chooseStatusBarStyle(const std::string& identifier);

    // Every event the page received, in order.
    const std::vector<HeadlessPageModel::ReceivedEvent>& events() const { return model->events(); }
    std::vector<std::string> eventNames() const { return model->eventNames(); }
    // The parameters of each received event of that name, in order.
    std::vector<nlohmann::json> parametersOf(const std::string& name) const;

    std::shared_ptr<MVWebView> webView;
    std::shared_ptr<HeadlessPageModel> model;
};
