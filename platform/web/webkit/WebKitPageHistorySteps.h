#pragma once
// The top document's own steps through its session history, which the web-process
// extension hands over ("mv-history-step"). A step within the document goes to WebKit as
// the page's own call would (from a script world of ours, past the page's). A step to an
// entry of another document is taken here, at once, as the page's back or forward
// navigation there: left to the document's navigation scheduler it waits for a later task,
// and the page's next location change (a page command sent every task) takes its place.
// A step with nowhere to go does nothing, as in a browser. Each step is answered to the
// extension (it stays, the client refused leaving, the page leaves), which sends the
// document's next step only then.
#include <webkit2/webkit2.h>

#include <cstdint>
#include <functional>

#include "platform/web/webkit/WebKitDocumentHistory.h"

namespace platform {

class WebKitPageHistorySteps {
  public:
    // Called with the address of the entry of another document and the step to it;
    // `answered` gets whether the page leaves (the client allowed it), once.
    using Leave = std::function<void(const char* address, int64_t step,
                                     std::function<void(bool leaves)> answered)>;

    WebKitPageHistorySteps(WebKitWebView* view, const WebKitDocumentHistory& document, Leave leave)
        : view_(view), document_(document), leave_(std::move(leave)) {}
    WebKitPageHistorySteps(const WebKitPageHistorySteps&) = delete;
    WebKitPageHistorySteps& operator=(const WebKitPageHistorySteps&) = delete;

    // Takes a step message; false for any other message.
    bool take(WebKitUserMessage* message);

  private:
    WebKitWebView* view_;
    const WebKitDocumentHistory& document_;
    Leave leave_;
};

}  // namespace platform
