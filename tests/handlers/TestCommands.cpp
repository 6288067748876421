#include "tests/handlers/TestCommands.h"

#include <stdexcept>

#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/Thread.h"

namespace {

void record(const char* name, MVCommandHandler& handler, nlohmann::json* parameters,
            const std::shared_ptr<MVWebView>& webView) {
    performedCommands().push_back(
        {name, handler.commandHandlerVersion(),
         parameters ? std::optional<nlohmann::json>(*parameters) : std::nullopt, webView.get(),
         platform::isMainThread()});
}

template <const char* Name>
void recordAs(MVCommandHandler& handler, nlohmann::json* parameters,
              const std::shared_ptr<MVWebView>& webView) {
    record(Name, handler, parameters, webView);
}

constexpr char kEcho[] = "echo";
constexpr char kNeedsSrc[] = "needsSrc";
constexpr char kLoud[] = "loud";
constexpr char kShadowed10[] = "shadowed(1.0)";
constexpr char kShadowed11[] = "shadowed(1.1)";
constexpr char kOnlyIn2[] = "onlyIn2";
constexpr char kList[] = "list";

}  // namespace

std::vector<PerformedCommand>& performedCommands() {
    static std::vector<PerformedCommand> performed;
    return performed;
}

void registerTestCommands() {
    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("echo", {MVSpec{}, &recordAs<kEcho>, false});
    v10.add("needsSrc", {MVSpec{{"src", MVSpec::NSString}, {"+title", MVSpec::NSString}},
                         &recordAs<kNeedsSrc>});
    v10.add("list", {MVSpec{{"items", MVSpec::arrayOf(MVSpec::NSString)}}, &recordAs<kList>});
    v10.add("neverRun", {std::nullopt, &recordAs<kEcho>});
    v10.add("loud", {MVSpec{}, &recordAs<kLoud>, true});
    v10.add("throws", {MVSpec{}, [](MVCommandHandler&, nlohmann::json* p, const auto&) {
                           if (!p) throw std::runtime_error("no parameters");
                           (void)p->at("missing");
                       }});
    v10.add("shadowed", {MVSpec{}, &recordAs<kShadowed10>});
    MVCommandHandler_1_1::commandTable().add("shadowed", {MVSpec{}, &recordAs<kShadowed11>});
    MVCommandHandler_2_0::commandTable().add("onlyIn2", {MVSpec{}, &recordAs<kOnlyIn2>});
}
