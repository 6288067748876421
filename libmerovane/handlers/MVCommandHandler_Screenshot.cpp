// The screenshot command: the application's window as a PNG, sent to the server.
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "libmerovane/application/MVServerCommands.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "platform/foundation/Base64.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewDrawing.h"
#include "platform/ui/Window.h"

namespace {

// The delegate's window drawn at the screen's scale, as Base64 of its PNG in lines of
// 64 characters; none without a window or an image (a window too large to draw gives none).
std::optional<std::string> screenshotText() {
    auto delegate = platform::Application::shared().delegate();
    auto window = delegate ? delegate->window() : nullptr;
    if (!window) return std::nullopt;
    std::string png;
    try {
        png = platform::imageOfViewHierarchy(*window, platform::Screen::main().scale()).pngData();
    } catch (const std::exception& error) {
        MVLogError("takeScreenshot could not draw the window: {}", error.what());
        return std::nullopt;
    }
    if (png.empty()) return std::nullopt;
    return platform::base64EncodeWithLineBreaks(png);
}

void takeScreenshot(MVCommandHandler&, nlohmann::json* parameters,
                    const std::shared_ptr<MVWebView>&) {
    const std::string id = MVCommandParameters::string(parameters, "id").value_or("");
    MVApiConnection::sharedConnection().sendCommands(
        {MVCommandScreenshot::setScreenshotWithData(screenshotText(), id)});
}

}  // namespace

void registerScreenshotCommands() {
    MVCommandHandler_1_0::commandTable().add(
        "takeScreenshot", {MVSpec{{"id", MVSpec::NSString}}, &takeScreenshot, true});
}
