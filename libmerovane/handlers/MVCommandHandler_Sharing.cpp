// Share command: the platform share sheet for a title, an image and a deep link. From
// 3.0 on a tablet the sheet can point at the page's share button.
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVSharingControllerInterface.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_3_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Window.h"

namespace {

namespace Parameters = MVCommandParameters;
using WebViewPtr = std::shared_ptr<MVWebView>;

struct SharedItem {
    std::string title;
    std::string imageURL;
    std::string deepLink;
};

SharedItem sharedItem(const nlohmann::json* parameters) {
    return {Parameters::string(parameters, "title").value_or(""),
            Parameters::string(parameters, "imageURL").value_or(""),
            Parameters::string(parameters, "deepLink").value_or("")};
}

float frameValue(const nlohmann::json* frame, const char* key) {
    return Parameters::singlePrecision(Parameters::number(frame, key).value_or(0));
}

void shareItem_1_0(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    const SharedItem item = sharedItem(parameters);
    MVSharingControllerInterface::sharingController()->shareItemWithTitle(item.title, item.imageURL,
                                                                          item.deepLink, webView);
}

void shareItem_3_0(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    const SharedItem item = sharedItem(parameters);
    auto sharing = MVSharingControllerInterface::sharingController();
    if (platform::Device::current().userInterfaceIdiom() != platform::UserInterfaceIdiom::Pad) {
        sharing->shareItemWithTitle(item.title, item.imageURL, item.deepLink, nullptr);
        return;
    }
    const nlohmann::json* frame = Parameters::dictionary(parameters, "shareButtonFrame");
    if (!frame) {
        sharing->shareItemWithTitle(item.title, item.imageURL, item.deepLink, webView);
        return;
    }
    platform::Rect rect(frameValue(frame, "x"), frameValue(frame, "y"), frameValue(frame, "width"),
                        frameValue(frame, "height"));
    std::shared_ptr<platform::View> sourceView;
    if (webView) {
        // The rectangle in the window's coordinates goes with the window, so that the
        // popover points at the button wherever the page sits.
        auto window = webView->window();
        rect = webView->convertRectToView(rect, window.get());
        sourceView = window;
    }
    if (!sourceView) sourceView = applicationWindow(platform::Application::shared());
    sharing->shareItemWithTitle(item.title, item.imageURL, item.deepLink, rect, sourceView);
}

}  // namespace

void registerSharingCommands() {
    const MVSpec::Member title{"title", MVSpec::NSString};
    const MVSpec::Member imageURL{"imageURL", MVSpec::NSString};
    const MVSpec::Member deepLink{"deepLink", MVSpec::NSString};
    MVCommandHandler_1_0::commandTable().add(
        "shareItem", {MVSpec{title, imageURL, deepLink}, &shareItem_1_0, false});
    const MVSpec frame{{"x", MVSpec::NSNumber},
                       {"y", MVSpec::NSNumber},
                       {"width", MVSpec::NSNumber},
                       {"height", MVSpec::NSNumber}};
    MVCommandHandler_3_0::commandTable().add(
        "shareItem",
        {MVSpec{title, imageURL, deepLink, {"+shareButtonFrame", frame}}, &shareItem_3_0, false});
}
