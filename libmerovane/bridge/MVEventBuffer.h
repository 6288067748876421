#pragma once
// The events a web view holds while its page loads, delivered later in one script:
//
//   MVEventBuffer buffer;
//   buffer.append(MVEventWebViews::updatePageProgress(0.5));   // amends older ones
//   buffer.prepend(pageContext);                               // the loading page's context first
//   auto delivery = buffer.delivery("<1000>");                 // one script and its log text
//
// An event that amends previous events replaces every buffered event of its name.
// "updatePageProgress" events are kept but never delivered from a buffer. A plain
// value; main thread only, as the web view that holds it.

#include <string>
#include <vector>

#include "libmerovane/bridge/MVEvent.h"

class MVEventBuffer {
  public:
    struct Delivery {
        // Each delivered event's call followed by ";", in order.
        std::string script;
        // "MVWebView<label> performing event buffer : {" with a line per delivered event.
        std::string logText;
    };

    bool empty() const { return events_.empty(); }
    size_t size() const { return events_.size(); }
    const std::vector<MVEvent>& events() const { return events_; }

    void append(MVEvent event);
    // Puts the event before every buffered one.
    void prepend(MVEvent event);
    void clear() { events_.clear(); }

    Delivery delivery(const std::string& label) const;

    // Buffered events of this name are never delivered.
    static constexpr const char* kUndeliveredEventName = "updatePageProgress";

  private:
    std::vector<MVEvent> events_;
};
