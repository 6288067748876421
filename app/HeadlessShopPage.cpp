#include "app/HeadlessShopPage.h"

#include <fmt/format.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/web/HeadlessWebEngine.h"

namespace {

constexpr std::string_view kLibraryMarker = "id=\"libmerovane\"";
constexpr std::string_view kLoadCommandsMarker = "id=\"mv-load-commands\"";
constexpr std::string_view kScriptEnd = "</script>";
// What a page without rules of its own reports.
constexpr const char* kWhite = "rgb(255, 255, 255)";

// The collection in the page's "mv-load-commands" element; none when there is none or
// it does not read as a collection.
std::optional<nlohmann::json> loadCommands(const std::string& html) {
    const size_t marker = html.find(kLoadCommandsMarker);
    if (marker == std::string::npos) return std::nullopt;
    const size_t start = html.find('>', marker);
    const size_t end = start == std::string::npos ? start : html.find(kScriptEnd, start);
    if (end == std::string::npos) return std::nullopt;
    auto parsed = platform::json::parse(std::string_view(html).substr(start + 1, end - start - 1));
    if (!parsed.ok() || !parsed.value.is_object()) {
        MVLogWarn("HeadlessShopPage: the page's load commands do not read: {}", parsed.error);
        return std::nullopt;
    }
    return std::move(parsed.value);
}

struct Page : std::enable_shared_from_this<Page> {
    explicit Page(platform::HeadlessWebEngine& e) : engine(e) {}

    platform::HeadlessWebEngine& engine;
    std::optional<size_t> sentFor;  // the load whose commands went out
    int64_t nextSerial = 0;

    std::string readyAnswer() {
        const auto* shown = engine.currentPage();
        const bool library = shown && shown->content.find(kLibraryMarker) != std::string::npos;
        if (library) sendLoadCommandsOnce(*shown);
        const std::string separator = MVDocumentReadyPoll::kFieldSeparator;
        return (library ? "libmerovane.js" : "") + separator + "complete" + separator +
               (library ? "true" : "") + separator + "null" + separator + "null";
    }

    // Once for each page the engine shows, on a later turn, as the page library does.
    void sendLoadCommandsOnce(const platform::HeadlessWebEngine::Load& shown) {
        const size_t index = static_cast<size_t>(&shown - engine.loads().data());
        if (sentFor == index) return;
        sentFor = index;
        auto collection = loadCommands(shown.content);
        if (!collection) return;
        auto commands = collection->find("cmds");
        if (commands != collection->end() && commands->is_array())
            for (auto& command : *commands)
                if (command.is_object() && !command.contains("s")) command["s"] = nextSerial++;
        platform::RunLoop::main().post(
            [weak = weak_from_this(),
             url = "mvcmd:" + urlEncodedString(platform::json::print(*collection))] {
                if (auto self = weak.lock()) self->engine.navigate(url);
            });
    }

    platform::HeadlessWebEngine::ScriptAnswer answer(const std::string& script) {
        namespace texts = mvwebview_texts;
        if (script == MVDocumentReadyPoll::documentReadyScript()) return readyAnswer();
        if (script == MVDocumentReadyPoll::kReadyStateScript) return "complete";
        if (script == texts::kMeasureScript)
            return fmt::format("{},{}", engine.width(), engine.height());
        if (script == texts::kBackgroundColorScript) return kWhite;
        if (script == "document.title") return engine.title();
        return "";
    }
};

}  // namespace

void HeadlessShopPage::attach(platform::HeadlessWebEngine& engine) {
    auto page = std::make_shared<Page>(engine);
    engine.setScriptResponder([page](const std::string& script) { return page->answer(script); });
}
