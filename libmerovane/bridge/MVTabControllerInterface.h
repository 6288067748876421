#pragma once
// What the commands need of the tab controller, the container that shows one tab's
// navigation stack at a time and switches between them with named transitions. The
// containers install the one tab controller at start-up; until then there is none.
//
//   if (auto tabs = MVTabControllerInterface::sharedDefaultInstance())
//       tabs->presentNavigationControllerWithIdentifier("home", "fade", 2.0);
//
// Speed factors are handed on as given: implementations accept any finite number and
// none (the base duration).
//
// Main thread only, but for the accessor, which any thread may call.

#include <memory>
#include <optional>
#include <string>

class MVNavigationControllerInterface;
class MVWebView;

class MVTabControllerInterface {
  public:
    virtual ~MVTabControllerInterface() = default;

    // The stack registered under the identifier (none: the empty identifier), made
    // when there is none, and made the content when the tab controller has none yet.
    // Never null.
    virtual std::shared_ptr<MVNavigationControllerInterface> navigationControllerWithIdentifier(
        const std::optional<std::string>& identifier) = 0;
    // The stack whose pages or navigation bar hold the web view, or null.
    virtual std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView& webView) = 0;
    // Makes the identified stack the content: at once without a transition name, else
    // by the named transition with its duration scaled by the speed factor. An unknown
    // name is logged and reported by the tab controller.
    virtual void presentNavigationControllerWithIdentifier(
        const std::string& identifier, const std::optional<std::string>& transition,
        std::optional<double> speedFactor) = 0;

    // The installed tab controller, or null.
    static std::shared_ptr<MVTabControllerInterface> sharedDefaultInstance();
    // Null removes it.
    static void install(std::shared_ptr<MVTabControllerInterface> tabController);
};
