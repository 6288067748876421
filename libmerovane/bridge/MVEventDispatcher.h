#pragma once
// The process-wide registry of event names to the web views whose pages asked for
// them (registerEvents), and the broadcast of an event to those web views:
//
//   auto& dispatcher = MVEventDispatcher::sharedDispatcher();
//   dispatcher.registerWebView(webView, {"tabDidChange"});
//   dispatcher.dispatchEvent(MVEventViews::tabDidChange("home"));
//
// Registrations do not own their web views. A web view unregisters itself when it
// starts loading another page and, by identity, in its destructor. Main thread only:
// registering and dispatching throw NSInternalInconsistencyException on any other
// thread; unregistering there (a destructor) leaves the sweep to the main thread.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Exception.h"

class MVEvent;
class MVWebViewInterface;

class MVEventDispatcherInvalidArgumentsException : public platform::Exception {
  public:
    MVEventDispatcherInvalidArgumentsException(const std::string& selector, std::string reason);
};

class MVEventDispatcher {
  public:
    static MVEventDispatcher& sharedDispatcher();

    // Adds the web view under each name, after the web views already there, once per
    // name. Throws MVEventDispatcherInvalidArgumentsException for a null web view or
    // an empty list of names.
    void registerWebView(const std::shared_ptr<MVWebViewInterface>& webView,
                         const std::vector<std::string>& eventNames);
    // Removes the web view from the names, or from every name when the list is empty;
    // names left without web views go. Works from the web view's destructor. Throws for
    // a null web view.
    void unregisterWebView(const MVWebViewInterface* webView,
                           const std::vector<std::string>& eventNames = {});
    // Hands the event to every web view registered for its name, in registration order.
    void dispatchEvent(const MVEvent& event);

    // The web views registered under `eventName`, in order (the live ones).
    std::vector<std::shared_ptr<MVWebViewInterface>> webViewsForEvent(
        const std::string& eventName) const;
    // The names that have registrations.
    std::vector<std::string> eventNames() const;

    void resetForTesting();

  private:
    MVEventDispatcher() = default;
    void removeExpiredRegistrations();

    struct Registration {
        const MVWebViewInterface* identity;
        std::weak_ptr<MVWebViewInterface> webView;
    };
    std::map<std::string, std::vector<Registration>> events_;
};
