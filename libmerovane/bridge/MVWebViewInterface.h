#pragma once
// What the command dispatcher and the event dispatcher need of a web view. `MVWebView`
// implements it; tests use stand-ins. Everything here is called on the main thread,
// except serial() and debugName(), which the dispatcher reads on the calling thread.

#include <memory>
#include <optional>
#include <string>

class MVCommand;
class MVEvent;
class MVWebView;

class MVWebViewInterface {
  public:
    virtual ~MVWebViewInterface() = default;

    // The web view's serial number, counted from 1000.
    virtual int serial() const = 0;
    // Its label in log lines: the serial in angle brackets, with ":" and the debug
    // name when it has one ("<1003:Header>").
    virtual std::string debugName() const = 0;
    // The address of the newest page-history entry, none before the first page.
    virtual std::optional<std::string> currentUrl() const = 0;
    // The delegate's answer to whether the page may run `command`; none when there is
    // no delegate or it does not answer the question.
    virtual std::optional<bool> delegateShouldPerformCommand(const MVCommand& command) = 0;
    // Delivers a page event: into the page now, into the event buffer while a page
    // loads, or nowhere; the web view decides.
    virtual void performMVEvent(const MVEvent& event) = 0;
    // The web view as commands receive it; null for stand-ins that are no MVWebView.
    virtual std::shared_ptr<MVWebView> asMVWebView() = 0;
};
