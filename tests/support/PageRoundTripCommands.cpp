#include "tests/support/PageRoundTripCommands.h"

#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/JsonValue.h"

namespace {

int running = 0;

void testAnswer(MVCommandHandler&, nlohmann::json* parameters,
                const std::shared_ptr<MVWebView>& webView) {
    if (!parameters) return;
    struct Running {
        Running() { ++running; }
        ~Running() { --running; }
    } guard;
    PageRoundTrip trip;
    trip.webView = webView.get();
    trip.event = platform::json::stringValue(*parameters, "event").value_or("");
    const nlohmann::json* params = platform::json::find(*parameters, "params");
    trip.params = params ? *params : nlohmann::json::array();
    trip.depth = running;
    pageRoundTrips().push_back(trip);
    if (webView && !trip.event.empty()) webView->performMVEvent(MVEvent(trip.event, trip.params));
}

// Plays the page state command "onload": the page's half of the web view's onload latch.
void testOnload(MVCommandHandler&, nlohmann::json*, const std::shared_ptr<MVWebView>& webView) {
    if (webView) webView->onload();
}

}  // namespace

std::vector<PageRoundTrip>& pageRoundTrips() {
    static std::vector<PageRoundTrip> trips;
    return trips;
}

void registerPageRoundTripCommands() {
    MVCommandHandler_2_0::commandTable().add(
        "testAnswer",
        {MVSpec{{"event", MVSpec::NSString}, {"+params", MVSpec::NSArray}}, &testAnswer});
    MVCommandHandler_2_0::commandTable().add("testOnload", {MVSpec{}, &testOnload});
}
