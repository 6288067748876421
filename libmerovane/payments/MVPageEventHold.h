#pragma once
// Wallet events for a page whose load is under way. While a web view loads, its page
// listens to nothing (the load may bring another document); what concerns the page's
// payment waits here: it reaches the page when the load ends with the page kept (a
// failed or cancelled load, a redirect to a command), and nobody when another document
// replaced the page's or the web view is gone.
//
//   if (page->isLoading()) MVPageEventHold::hold(page, event);
//
// Main thread only.

#include <memory>

class MVEvent;
class MVWebView;

class MVPageEventHold {
  public:
    // Keeps `event` for `page` until its load ends; at most kMaximumEvents a page, the
    // oldest dropped first.
    static void hold(const std::shared_ptr<MVWebView>& page, const MVEvent& event);
    static constexpr size_t kMaximumEvents = 16;
};
