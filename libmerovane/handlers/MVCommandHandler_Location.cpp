// Location command: one location request, answered to the calling page as a page event
// or, without a page, to the server as a command.
#include <memory>
#include <nlohmann/json.hpp>

#include "libmerovane/application/MVServerCommands.h"
#include "libmerovane/bridge/MVEventLocation.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVLocationManagerInterface.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"

namespace {

namespace Parameters = MVCommandParameters;
using WebViewPtr = std::shared_ptr<MVWebView>;

// The platform's three-kilometre accuracy.
constexpr double kDefaultMinimumAccuracy = 3000;

void answerLocation(const WebViewPtr& webView, const std::optional<MVLocationFix>& location) {
    if (!webView) {
        MVApiConnection::sharedConnection().sendCommands(
            {MVCommandLocation::setLocation(location)});
        return;
    }
    webView->performMVEvent(location ? MVEventLocation::setLocation(
                                           location->latitude, location->longitude,
                                           location->horizontalAccuracy, location->verticalAccuracy)
                                     : MVEventLocation::setLocation());
}

void getLocation(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    const float minimumAccuracy = Parameters::singlePrecision(
        Parameters::number(parameters, "minAccuracy").value_or(kDefaultMinimumAccuracy));
    const float timeout =
        Parameters::singlePrecision(Parameters::number(parameters, "timeout").value_or(0));
    // The request does not keep the page: a page its owner released (popped, closed) is
    // let go with its engine at once, and its answer is dropped. A server's request has
    // no page and is always answered.
    const bool toServer = webView == nullptr;
    std::weak_ptr<MVWebView> page = webView;
    MVLocationManagerInterface::sharedManager()->getLocationWithMinimumAccuracy(
        minimumAccuracy, timeout,
        [toServer, page](std::optional<MVLocationFix> location,
                         std::optional<platform::Error> error) {
            WebViewPtr webView = page.lock();
            if (!toServer && !webView) return;
            answerLocation(webView, error ? std::nullopt : location);
        });
}

}  // namespace

void registerLocationCommands() {
    MVCommandHandler_1_0::commandTable().add(
        "getLocation", {MVSpec{{"+minAccuracy", MVSpec::NSNumber}, {"+timeout", MVSpec::NSNumber}},
                        &getLocation, false});
}
