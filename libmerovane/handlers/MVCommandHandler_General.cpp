// General commands: the boot command, vibration, deep-link answers, a delayed list, the
// connection-loss monitor's switch and ending the application.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <utility>

#include "libmerovane/application/MVInterjectionHandler.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLocalizationInterface.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVResourceMonitor.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/handlers/MVBootAppLogic.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "libmerovane/handlers/MVNestedCommandList.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/device/SystemSound.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

namespace {

using WebViewPtr = std::shared_ptr<MVWebView>;
using Overlay = MVActivityIndicationOverlayInterface;

constexpr double kVibrationInterval = 0.4;
// A delayed list waits at most a day: the delay comes from outside.
constexpr double kMaximumCommandDelay = 86400.0;

const MVCommandErrorTexts kEmptyCommandList = {"{} empty or no command list to perform",
                                               "{} empty or no command list."};

// Boots are numbered in order of arrival. Each step of a boot first checks that no newer
// boot has arrived since: the interface then holds the newest boot's pages alone, and an
// older boot neither runs the rest of its list nor announces its end nor caches its script.
uint64_t& newestBoot() {
    static uint64_t boot = 0;
    return boot;
}

// The newest boot when a boot with an empty list last removed the cached script: that boot
// and those before it go on but cache nothing, so the empty boot's word stays the latest.
uint64_t& lastBootBeforeEmptyBoot() {
    static uint64_t boot = 0;
    return boot;
}

// The boot whose list (or a list it delayed) is running now; 0 outside every boot list.
uint64_t& runningBoot() {
    static uint64_t boot = 0;
    return boot;
}

// What runs while it lives is part of the boot's list.
class PartOfBoot {
  public:
    explicit PartOfBoot(uint64_t boot) : outer_(std::exchange(runningBoot(), boot)) {}
    ~PartOfBoot() { runningBoot() = outer_; }
    PartOfBoot(const PartOfBoot&) = delete;
    PartOfBoot& operator=(const PartOfBoot&) = delete;

  private:
    uint64_t outer_;
};

bool isSuperseded(MVCommandHandler& handler, uint64_t boot, const std::shared_ptr<Overlay>& overlay,
                  const char* step) {
    if (boot == newestBoot()) return false;
    MVLogInfo("{} boot {} superseded by boot {}: {}", handler.name(), boot, newestBoot(), step);
    if (overlay) overlay->fadeOutWithDuration(kBootAppOverlayFadeDuration, nullptr);
    return true;
}

// The script a boot with an identifier stores once its list's resources have loaded.
nlohmann::json bootScript(const MVCommandHandler& handler, const nlohmann::json& list,
                          const std::string& identifier) {
    return {{"cmds", list},
            {"identifier", identifier},
            {"commandHandlerVersion", handler.commandHandlerVersion()}};
}

// Until the newest boot stores its script, the stop stores it: a stop never leaves the
// shell with neither the old script nor the new one.
void holdBootScript(const MVCommandHandler& handler, const nlohmann::json& list,
                    const std::optional<std::string>& identifier) {
    MVLibraryApplication::sharedLibrary().setHeldBootScript(
        identifier && list.is_array() && !list.empty()
            ? std::optional<nlohmann::json>(bootScript(handler, list, *identifier))
            : std::nullopt);
}

void runBootLogic(MVCommandHandler& handler, nlohmann::json commands,
                  const std::optional<std::string>& identifier, std::shared_ptr<Overlay> overlay,
                  uint64_t boot) {
    if (isSuperseded(handler, boot, overlay, "not started")) return;
    platform::NotificationCenter::defaultCenter().post(MVLibraryApplicationReceivedBootAppCommand);
    auto self = handler.shared_from_this();
    auto list = std::make_shared<nlohmann::json>(std::move(commands));
    platform::RunLoop::main().postAfterDetached(
        kBootAppDelay, [self, list, identifier, overlay, boot] {
            if (isSuperseded(*self, boot, overlay, "list not run")) return;
            // The list runs once; the script keeps a copy of it.
            auto script = std::make_shared<nlohmann::json>(*list);
            MVResourceMonitor::sharedResourceMonitor().captureResources(
                [self, list, boot] {
                    // One command at a time: a boot command in the list itself ends the rest. The
                    // overlay goes when the resources of what ran have loaded.
                    for (auto& command : *list) {
                        if (isSuperseded(*self, boot, nullptr, "rest of the list not run")) return;
                        const PartOfBoot part(boot);
                        self->performCommands(nlohmann::json::array({std::move(command)}), nullptr);
                    }
                },
                0,
                [self, script, identifier, overlay, boot] {
                    if (isSuperseded(*self, boot, overlay, "end not announced")) return;
                    platform::NotificationCenter::defaultCenter().post(
                        MVLibraryApplicationPerformedBootAppCommand);
                    if (overlay) overlay->fadeOutWithDuration(kBootAppOverlayFadeDuration, nullptr);
                    MVLibraryApplication::sharedLibrary().setHeldBootScript(std::nullopt);
                    if (!identifier) return;
                    if (boot <= lastBootBeforeEmptyBoot()) {
                        MVLogInfo(
                            "{} boot {} caches no script: a boot with an empty list came "
                            "after it",
                            self->name(), boot);
                        return;
                    }
                    auto& defaults = platform::UserDefaults::standard();
                    defaults.setObject(MVStandardUserDefaultsCachedBootScript,
                                       bootScript(*self, *script, *identifier));
                    defaults.synchronize();
                    MVWebCache::sharedCache().scheduleShadowMode();
                });
        });
}

void bootApp(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr&) {
    if (!parameters) return;
    auto identifier = platform::json::stringValue(*parameters, "identifier");
    auto found = parameters->find("cmds");
    nlohmann::json commands =
        found != parameters->end() ? std::move(*found) : nlohmann::json::array();
    MVLibraryApplication::sharedLibrary().removeCachedBootApp();
    holdBootScript(handler, commands, identifier);
    if (!commands.is_array() || commands.empty()) {
        lastBootBeforeEmptyBoot() = newestBoot();
        return;
    }
    const uint64_t boot = ++newestBoot();
    if (MVSplashScreenInterface::isSplashScreenVisible()) {
        runBootLogic(handler, std::move(commands), identifier, nullptr, boot);
        return;
    }
    std::shared_ptr<platform::View> viewToBlur;
    if (auto window = platform::Application::shared().keyWindow();
        window && !window->subviews().empty())
        viewToBlur = window->subviews().back();
    std::shared_ptr<Overlay> overlay = Overlay::overlayWithFullScreenAndViewToBlur(
        viewToBlur, true, MVLocalizedString("#bootapp.databeingrefreshed"));
    auto self = handler.shared_from_this();
    auto list = std::make_shared<nlohmann::json>(std::move(commands));
    overlay->fadeInWithDuration(
        kBootAppOverlayFadeDuration, [self, list, identifier, overlay, boot](bool finished) {
            // An interrupted fade-in still boots: the cached script is gone already, and the
            // overlay would otherwise stay.
            if (!finished) MVLogVerbose("{} boots after an interrupted fade-in", self->name());
            runBootLogic(*self, std::move(*list), identifier, overlay, boot);
        });
}

void vibrate(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr&) {
    std::optional<std::string> style =
        parameters ? platform::json::stringValue(*parameters, "style") : std::nullopt;
    int times = 1;
    if (style == "twice")
        times = 2;
    else if (style == "thrice")
        times = 3;
    platform::SystemSound::play(platform::SystemSound::kVibrate);
    for (int i = 1; i < times; ++i)
        platform::RunLoop::main().postAfterDetached(i * kVibrationInterval, [] {
            platform::SystemSound::play(platform::SystemSound::kVibrate);
        });
    const bool supported = !style || *style == "once" || *style == "twice" || *style == "thrice";
    if (supported) return;
    const std::string prefix = MVCommandConventions::commandPrefix(handler, "vibrate");
    MVLogWarn("{} vibration style not supported: <{}>", prefix, platform::log::escaped(*style));
    MVErrorLogger::logError(fmt::format("{} vibration style not supported.", prefix),
                            nlohmann::json(*style));
}

void deepLinkResponse(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr&) {
    if (!parameters) return;
    auto commands = parameters->find("cmds");
    if (commands == parameters->end()) return;
    MVInterjectionHandler::sharedHandler()->performDeepLinkResponseWithLinkSerial(
        platform::json::integerValue(*parameters, "linkSerial"), std::move(*commands),
        handler.shared_from_this());
}

void deepLinkResponseFinished(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (!parameters) return;
    MVInterjectionHandler::sharedHandler()->deepLinkResponseFinishedForLinkSerial(
        platform::json::integerValue(*parameters, "linkSerial"));
}

void performCommandsAfterDelay(MVCommandHandler& handler, nlohmann::json* parameters,
                               const WebViewPtr& webView) {
    auto commands = parameters ? parameters->find("cmds") : nlohmann::json::iterator();
    if (!parameters || commands == parameters->end() || !commands->is_array() ||
        commands->empty()) {
        MVCommandConventions::reportCommandError(handler, "performCommandsAfterDelay",
                                                 kEmptyCommandList, parameters);
        return;
    }
    double delay = platform::json::doubleValue(*parameters, "delay");
    if (std::isnan(delay) || delay < 0) delay = 0;
    delay = static_cast<float>(std::min(delay, kMaximumCommandDelay));
    auto list = std::make_shared<MVNestedCommandList>(
        MVNestedCommandList::asCollection(handler, std::move(*commands), webView));
    // A list a boot list delays belongs to that boot: a newer boot drops it.
    const uint64_t boot = runningBoot();
    auto self = handler.shared_from_this();
    platform::RunLoop::main().postAfterDetached(delay, [list, boot, self] {
        if (boot != 0 && isSuperseded(*self, boot, nullptr, "delayed list not run")) return;
        const PartOfBoot part(boot);
        std::move(*list).perform();
    });
}

void setConnectionLossMonitoringEnabled(MVCommandHandler&, nlohmann::json* parameters,
                                        const WebViewPtr&) {
    if (!parameters) return;
    MVConnectionLossMonitor::setEnabled(platform::json::boolValue(*parameters, "enabled"));
}

void terminateApp(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (parameters && platform::json::integerValue(*parameters, "sendLog") == 1)
        MVLibraryApplication::terminateAppWithCrashLog();
    MVLibraryApplication::terminateApp();
}

}  // namespace

void bootAppLogicWithCommands(MVCommandHandler& handler, nlohmann::json commands,
                              const std::optional<std::string>& identifier,
                              std::shared_ptr<Overlay> overlay) {
    holdBootScript(handler, commands, identifier);
    runBootLogic(handler, std::move(commands), identifier, std::move(overlay), ++newestBoot());
}

void registerGeneralCommands() {
    auto& v11 = MVCommandHandler_1_1::commandTable();
    v11.add("performCommandsAfterDelay",
            {MVSpec{{"cmds", MVSpec::NSArray}, {"delay", MVSpec::NSNumber}},
             &performCommandsAfterDelay, true});
    v11.add("setConnectionLossMonitoringEnabled",
            {MVSpec{{"enabled", MVSpec::NSNumber}}, &setConnectionLossMonitoringEnabled, true});
    v11.add("terminateApp", {MVSpec{{"sendLog", MVSpec::NSNumber}}, &terminateApp, true});
    auto& v20 = MVCommandHandler_2_0::commandTable();
    v20.add("bootApp",
            {MVSpec{{"+identifier", MVSpec::NSString}, {"cmds", MVSpec::NSArray}}, &bootApp, true});
    v20.add("vibrate", {MVSpec{{"+style", MVSpec::NSString}}, &vibrate, false});
    v20.add("deepLinkResponse",
            {MVSpec{{"linkSerial", MVSpec::NSNumber}, {"cmds", MVSpec::NSArray}}, &deepLinkResponse,
             true});
    v20.add("deepLinkResponseFinished",
            {MVSpec{{"linkSerial", MVSpec::NSNumber}}, &deepLinkResponseFinished, true});
}
