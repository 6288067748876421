#include "libmerovane/bridge/MVEventBuffer.h"

#include <fmt/format.h>

#include <algorithm>

#include "platform/foundation/Log.h"

void MVEventBuffer::append(MVEvent event) {
    if (event.amendPreviousEvent()) {
        std::erase_if(events_, [&](const MVEvent& buffered) {
            return buffered.eventName() == event.eventName();
        });
    }
    events_.push_back(std::move(event));
}

void MVEventBuffer::prepend(MVEvent event) {
    events_.insert(events_.begin(), std::move(event));
}

MVEventBuffer::Delivery MVEventBuffer::delivery(const std::string& label) const {
    Delivery delivery;
    delivery.logText = fmt::format("MVWebView{} performing event buffer : {{", label);
    for (const auto& event : events_) {
        if (event.eventName() == kUndeliveredEventName) continue;
        delivery.script += event.stringForJavaFunctionCall();
        delivery.script += ';';
        delivery.logText += '\n';
        delivery.logText += platform::log::escaped(event.stringForJavaDescription());
    }
    delivery.logText += "\n}";
    return delivery;
}
