// Arbitrary bytes, parsed as JSON, handed to the command dispatcher as a collection
// from a page, as a native command list and as the parameters of a page event. The
// command "later" carries its "delay" into the run loop, as page-given times do.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVWebViewInterface.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/TestDriver.h"

namespace {

class NullLogger : public platform::log::Logger {
    void logMessage(const platform::log::Message&) override {}
};

class FuzzWebView : public MVWebViewInterface {
  public:
    int serial() const override { return 1000; }
    std::string debugName() const override { return "<1000:Fuzz>"; }
    std::optional<std::string> currentUrl() const override { return "https://x/"; }
    std::optional<bool> delegateShouldPerformCommand(const MVCommand& command) override {
        return command.name() != "veto";
    }
    void performMVEvent(const MVEvent& event) override { (void)event.stringForJavaFunctionCall(); }
    std::shared_ptr<MVWebView> asMVWebView() override { return nullptr; }
};

// Reads what it was given the way commands do, through the value helpers.
void touchParameters(MVCommandHandler&, nlohmann::json* parameters,
                     const std::shared_ptr<MVWebView>&) {
    if (!parameters) return;
    (void)platform::json::stringValue(*parameters, "src");
    (void)platform::json::doubleValue(*parameters, "speedFactor");
    MVEvent event("fuzz", nlohmann::json::array({*parameters}));
    (void)event.stringForJavaFunctionCall();
    (void)event.stringForJavaDescription();
}

// Whatever number the page gives reaches the run loop and the queues, once and
// repeating; each input's timers run for a while and are withdrawn after it.
std::vector<platform::TimerHandle>& laterTimers() {
    static std::vector<platform::TimerHandle> timers;
    return timers;
}

void scheduleLater(MVCommandHandler&, nlohmann::json* parameters,
                   const std::shared_ptr<MVWebView>&) {
    const double delay = parameters ? platform::json::doubleValue(*parameters, "delay") : 0;
    auto& loop = platform::RunLoop::main();
    laterTimers().push_back(loop.postAfter(delay, [] {}));
    laterTimers().push_back(platform::DispatchQueue::main().after(delay, [] {}));
    laterTimers().push_back(loop.postRepeating(delay, [] {}));
}

void setUp() {
    platform::Clock::installManual();
    platform::log::addLogger(std::make_shared<NullLogger>(), platform::log::kWarning |
                                                                 platform::log::kInfo |
                                                                 platform::log::kVerbose);
    registerCommandHandlerClasses();
    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("any", {MVSpec{}, &touchParameters});
    v10.add("openPage", {MVSpec{{"src", MVSpec::NSString}, {"+speedFactor", MVSpec::NSNumber}},
                         &touchParameters, true});
    v10.add("showAlert", {MVSpec{{"+title", MVSpec::NSString},
                                 {"+buttons", MVSpec::arrayOf({{"title", MVSpec::NSString},
                                                               {"+cmds", MVSpec::NSArray}})},
                                 {"+bar", {{"color", MVSpec::NSString}}}},
                          &touchParameters});
    v10.add("veto", {MVSpec{}, &touchParameters});
    v10.add("never", {std::nullopt, &touchParameters});
    v10.add("later", {MVSpec{{"delay", MVSpec::NSNumber}}, &scheduleLater});
    MVCommandHandler_2_0::commandTable().add(
        "nested",
        {MVSpec{{"cmds", MVSpec::NSArray}},
         [](MVCommandHandler& handler, nlohmann::json* p, const std::shared_ptr<MVWebView>&) {
             handler.performCommands(p->at("cmds"), nullptr);
         }});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    auto parsed =
        platform::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed.ok()) return 0;
    static auto webView = std::make_shared<FuzzWebView>();
    MVCommandHandler::performCommandsFromCommandCollection(parsed.value, webView);
    MVCommandHandler::performCommandsFromCommandCollection(parsed.value, nullptr);
    if (auto handler = MVCommandHandler::sharedHandler())
        handler->performCommands(parsed.value, webView);
    if (parsed.value.is_array()) (void)MVEvent("fuzz", parsed.value).stringForJavaFunctionCall();
    platform::runUntilIdle();
    if (!laterTimers().empty()) {
        platform::advanceBy(0.01);
        for (auto& timer : laterTimers()) timer.cancel();
        laterTimers().clear();
    }
    MVErrorLogger::clearReports();
    return 0;
}
