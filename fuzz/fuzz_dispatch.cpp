// Arbitrary bytes, parsed as JSON, handed to the command dispatcher as a collection
// from a page, as a native command list and as the parameters of a page event; the
// navigation and splash-screen commands reach recording neighbours. Each of those
// commands, run alone, makes at most one warning and one report. The command "later"
// carries its "delay" into the run loop, as page-given times do.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/bridge/MVWebViewInterface.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
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

// Counts warnings, and drops every line.
class CountingLogger : public platform::log::Logger {
  public:
    void logMessage(const platform::log::Message& message) override {
        if (message.flag == platform::log::kWarning) ++warnings;
    }
    std::atomic<int> warnings{0};
};

// Neighbours that take every call and keep only what the fuzzer needs.
class Stack : public MVNavigationControllerInterface {
  public:
    std::optional<std::string> identifier() const override { return std::nullopt; }
    void pushViewController(const std::shared_ptr<platform::ViewController>&, bool) override {}
    void popViewControllerAnimated(bool) override { ++calls; }
    void popToRootViewControllerAnimated(bool) override { ++calls; }
    void flush() override { ++calls; }
    void clean() override { ++calls; }
    void popToTag(const std::string&, bool) override { ++calls; }
    void popPagesWithTags(const std::vector<std::string>&, bool) override { ++calls; }
    void showNavigationBarWithAnimation(MVBarAnimation, std::optional<double>) override { ++calls; }
    void hideNavigationBarWithAnimation(MVBarAnimation, std::optional<double>) override { ++calls; }
    void setNavigationBarWithURL(const std::string&) override { ++calls; }
    void setPopGestureEnabled(bool) override { ++calls; }
    void performEvent(const MVEvent&) override { ++calls; }
    size_t calls = 0;
};

class Tabs : public MVTabControllerInterface {
  public:
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerWithIdentifier(
        const std::optional<std::string>& identifier) override {
        // a bounded number of stacks, whatever names arrive
        if (stacks.size() < 16) stacks.emplace(identifier.value_or(""), std::make_shared<Stack>());
        auto found = stacks.find(identifier.value_or(""));
        return found != stacks.end() ? found->second : stacks.begin()->second;
    }
    std::shared_ptr<MVNavigationControllerInterface> navigationControllerForWebView(
        MVWebView&) override {
        return nullptr;
    }
    void presentNavigationControllerWithIdentifier(const std::string&,
                                                   const std::optional<std::string>&,
                                                   std::optional<double>) override {}
    std::map<std::string, std::shared_ptr<Stack>> stacks;
};

class Splash : public MVSplashScreenInterface {
  public:
    bool isVisible() const override { return visible; }
    void showSplashScreen() override { visible = true; }
    void hideSplashScreen() override { visible = false; }
    void setSplashScreenWithUrlString(const std::string&) override {}
    bool visible = true;
};

const std::set<std::string, std::less<>> kNeighbourCommands = {
    "showTab",           "flushTab",          "popTabToRoot",     "popTab",
    "showNavigationBar", "hideNavigationBar", "setNavigationBar", "cleanTab",
    "enablePopGesture",  "showSplashScreen",  "hideSplashScreen", "setSplashScreen"};

CountingLogger* logger = nullptr;

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
    auto counting = std::make_shared<CountingLogger>();
    logger = counting.get();
    platform::log::addLogger(
        counting, platform::log::kWarning | platform::log::kInfo | platform::log::kVerbose);
    registerCommandHandlerClasses();
    MVTabControllerInterface::install(std::make_shared<Tabs>());
    MVSplashScreenInterface::install(std::make_shared<Splash>());
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
             handler.performCommands(std::move(p->at("cmds")), nullptr);
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
    MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(parsed.value), webView);
    MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json(parsed.value), nullptr);
    if (auto handler = MVCommandHandler::sharedHandler())
        handler->performCommands(nlohmann::json(parsed.value), webView);
    if (parsed.value.is_array()) (void)MVEvent("fuzz", parsed.value).stringForJavaFunctionCall();
    platform::runUntilIdle();
    if (!laterTimers().empty()) {
        platform::advanceBy(0.01);
        for (auto& timer : laterTimers()) timer.cancel();
        laterTimers().clear();
    }
    MVErrorLogger::clearReports();

    // One neighbour command at a time, from the server, in the collection's version.
    const nlohmann::json* commands = platform::json::find(parsed.value, "cmds");
    auto version = MVCommandHandler::versionNumberForString(
        platform::json::stringValue(parsed.value, "ver").value_or("2.1"));
    auto handler = MVCommandHandler::sharedHandlerForVersion(version);
    if (commands && commands->is_array() && handler) {
        for (const auto& element : *commands) {
            auto name = platform::json::stringValue(element, "c");
            if (!name || !kNeighbourCommands.count(*name)) continue;
            platform::log::flush();
            const int warningsBefore = logger->warnings;
            handler->performCommands(nlohmann::json::array({element}), nullptr);
            platform::log::flush();
            if (MVErrorLogger::reports().size() > 1 || logger->warnings - warningsBefore > 1)
                std::abort();
            MVErrorLogger::clearReports();
        }
    }
    return 0;
}
