// Arbitrary bytes, parsed as JSON, given to the real alert and action sheet as the
// parameters of "showAlert" and "showActionSheet" (and run as a collection of their
// own), from a page and from the server. Buttons are then pressed by what the input
// picks, time-outs run on the clock, and whatever is still shown is dismissed: the
// commands that buttons and time-outs carry run through the dispatcher, and no alert or
// sheet outlives its input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebViewInterface.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/overlays/MVActionSheet.h"
#include "libmerovane/overlays/MVAlertView.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/ActionSheet.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace {

class FuzzWebView : public MVWebViewInterface {
  public:
    int serial() const override { return 1000; }
    std::string debugName() const override { return "<1000:Fuzz>"; }
    std::optional<std::string> currentUrl() const override { return "https://x/"; }
    std::optional<bool> delegateShouldPerformCommand(const MVCommand&) override { return true; }
    void performMVEvent(const MVEvent&) override {}
    std::shared_ptr<MVWebView> asMVWebView() override { return nullptr; }
};

void setUp() {
    platform::Clock::installManual();
    registerCommandHandlerClasses();
    MVAlertView::install();
    MVActionSheet::install();
    MVCommandHandler_1_0::commandTable().add(
        "any",
        {MVSpec{}, [](MVCommandHandler&, nlohmann::json*, const std::shared_ptr<MVWebView>&) {}});
    static auto* window = new std::shared_ptr<platform::Window>(
        platform::Window::create(platform::Rect(0, 0, 320, 480)));
    (*window)->setRootViewController(platform::ViewController::create());
    (*window)->makeKeyAndVisible();
}

std::vector<std::shared_ptr<platform::ButtonPresentation>> shown() {
    std::vector<std::shared_ptr<platform::ButtonPresentation>> all;
    for (auto& alert : platform::AlertView::shownAlerts()) all.push_back(alert);
    for (auto& sheet : platform::ActionSheet::shownActionSheets()) all.push_back(sheet);
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    auto parsed =
        platform::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed.ok()) return 0;
    const nlohmann::json& value = parsed.value;
    const nlohmann::json collection = {
        {"ver", "1.0"},
        {"cmds", {{{"c", "showAlert"}, {"p", value}}, {{"c", "showActionSheet"}, {"p", value}}}}};
    static auto page = std::make_shared<FuzzWebView>();
    for (const std::shared_ptr<MVWebViewInterface>& caller :
         {std::shared_ptr<MVWebViewInterface>(page), std::shared_ptr<MVWebViewInterface>()}) {
        MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(collection), caller);
        MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(value), caller);
    }
    platform::runUntilIdle();

    // Buttons whose commands show more alerts are pressed for a few rounds only.
    for (size_t round = 0; round < 4; ++round) {
        const uint8_t pick = size > round ? data[size - 1 - round] : 0;
        for (auto& presentation : shown()) {
            const int choices = presentation->numberOfButtons() + 1;  // the last: no press
            const int index = pick % choices;
            if (index < presentation->numberOfButtons()) presentation->pressButtonForTesting(index);
        }
        platform::runUntilIdle();
        platform::advanceBy(pick % 2 ? 0.5 : 60);
    }
    for (auto& presentation : shown())
        presentation->dismissWithClickedButtonIndex(presentation->cancelButtonIndex(), false);
    platform::runUntilIdle();
    // Time-outs of dismissed presentations must do nothing when they come due.
    platform::advanceBy(1e7);
    for (auto& presentation : shown())
        presentation->dismissWithClickedButtonIndex(presentation->cancelButtonIndex(), false);
    platform::runUntilIdle();
    MVErrorLogger::clearReports();
    return 0;
}
