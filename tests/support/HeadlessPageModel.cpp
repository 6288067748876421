#include "tests/support/HeadlessPageModel.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "libmerovane/bridge/MVJavascriptOverrides.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr std::string_view kCall = "MVEvent.__call(";

// The end of the JSON string or array starting at `from`, or npos.
size_t endOfValue(const std::string& text, size_t from) {
    int depth = 0;
    bool inString = false;
    for (size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
                if (depth == 0) return i + 1;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            if (--depth == 0) return i + 1;
        }
    }
    return std::string::npos;
}

}  // namespace

std::shared_ptr<HeadlessPageModel> HeadlessPageModel::attach(platform::HeadlessWebEngine& engine) {
    auto model = std::shared_ptr<HeadlessPageModel>(new HeadlessPageModel(engine));
    engine.setScriptResponder([model](const std::string& script) { return model->answer(script); });
    return model;
}

std::vector<std::string> HeadlessPageModel::eventNames() const {
    std::vector<std::string> names;
    for (const auto& e : events_) names.push_back(e.name);
    return names;
}

bool HeadlessPageModel::parseEventScript(const std::string& script,
                                         std::vector<ReceivedEvent>& out) {
    size_t at = 0;
    while ((at = script.find(kCall, at)) != std::string::npos) {
        const size_t nameStart = at + kCall.size();
        const size_t nameEnd = endOfValue(script, nameStart);
        if (nameEnd == std::string::npos || nameEnd >= script.size() || script[nameEnd] != ',')
            return false;
        const size_t paramsEnd = endOfValue(script, nameEnd + 1);
        if (paramsEnd == std::string::npos || paramsEnd >= script.size() ||
            script[paramsEnd] != ')')
            return false;
        auto name = platform::json::parse(script.substr(nameStart, nameEnd - nameStart));
        auto params = platform::json::parse(script.substr(nameEnd + 1, paramsEnd - nameEnd - 1));
        if (!name.ok() || !name.value.is_string() || !params.ok()) return false;
        out.push_back({name.value.get<std::string>(), params.value});
        at = paramsEnd + 1;
    }
    return true;
}

std::string HeadlessPageModel::readyAnswer() {
    // The count starts again for each page the engine shows.
    const auto* shown = engine_.currentPage();
    const size_t index = shown ? static_cast<size_t>(shown - engine_.loads().data()) : 0;
    if (shown != polledPage_ || index != polledPageIndex_) {
        polledPage_ = shown;
        polledPageIndex_ = index;
        readyPolls_ = 0;
    }
    ++readyPolls_;
    const bool ready =
        settings.library && settings.readyAfterPolls > 0 && readyPolls_ >= settings.readyAfterPolls;
    const std::string separator = MVDocumentReadyPoll::kFieldSeparator;
    return (settings.library ? settings.librarySource : "") + separator + settings.readyState +
           separator + (settings.library ? (ready ? "true" : "false") : "") + separator +
           settings.discardedFromHistory + separator + settings.disallowPullToRefresh;
}

platform::HeadlessWebEngine::ScriptAnswer HeadlessPageModel::answer(const std::string& script) {
    namespace texts = mvwebview_texts;
    if (script == MVDocumentReadyPoll::documentReadyScript()) return readyAnswer();
    if (script == MVDocumentReadyPoll::kReadyStateScript) return settings.readyState;
    if (script == MVJavascriptOverrides::injectedScript()) {
        ++overrideInjections_;
        return "";
    }
    if (script == texts::kMeasureScript) {
        return fmt::format("{},{}", settings.width, settings.height);
    }
    if (script == texts::kBackgroundColorScript) return settings.backgroundColor;
    if (script == "document.title") return settings.title;
    if (script.find(kCall) != std::string::npos || script.empty()) {
        // Only a page with the library can take events.
        eventScripts_.push_back(script);
        EXPECT_TRUE(parseEventScript(script, events_)) << script;
        return "";
    }
    return otherScripts ? otherScripts(script) : platform::HeadlessWebEngine::ScriptAnswer();
}

void HeadlessPageModel::sendCommands(const nlohmann::json& collection) {
    engine_.navigate("mvcmd:" + urlEncodedString(platform::json::print(collection)));
}

void HeadlessPageModel::locationReplace(const std::string& url) {
    engine_.navigate(
        std::string(MVJavascriptOverrides::kLocationReplaceScheme) + "://" + urlEncodedString(url),
        platform::NavigationType::Other);
}

void HeadlessPageModel::replaceState(const std::string& documentUrl) {
    engine_.navigate(std::string(MVJavascriptOverrides::kHistoryReplaceStateScheme) + "://" +
                         urlEncodedString(documentUrl),
                     platform::NavigationType::Other);
}

void HeadlessPageModel::pushState(const std::string& url) {
    engine_.navigate(
        std::string(MVJavascriptOverrides::kHistoryPushStateScheme) + "://" + urlEncodedString(url),
        platform::NavigationType::Other);
}
