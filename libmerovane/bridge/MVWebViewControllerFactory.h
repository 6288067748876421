#pragma once
// Where the bridge gets a new web page view controller when a page follows an "mvapi"
// link: the web page view controller's code installs the factory at start-up, so that
// the web view, which sits below it, can make one.
//
//   MVWebViewControllerFactory::setFactory([](const std::string& pageId) {
//       auto controller = MVWebViewController::create();
//       controller->openUrlApi(pageId);
//       return controller;
//   });
//   auto page = MVWebViewControllerFactory::webViewControllerOpeningApiPage("home");
//
// Thread-safe.

#include <functional>
#include <memory>
#include <string>

namespace platform {
class ViewController;
}

class MVWebViewControllerFactory {
  public:
    // Makes a web page view controller with its plain initializer that has begun to open
    // the API page with that id.
    using Factory =
        std::function<std::shared_ptr<platform::ViewController>(const std::string& pageId)>;

    // Null removes the factory.
    static void setFactory(Factory factory);
    // Null while no factory is installed.
    static std::shared_ptr<platform::ViewController> webViewControllerOpeningApiPage(
        const std::string& pageId);
};
