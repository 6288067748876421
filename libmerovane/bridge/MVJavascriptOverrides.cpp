#include "libmerovane/bridge/MVJavascriptOverrides.h"

#include <fmt/format.h>

#include <map>

#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URL.h"

namespace {

struct InjectedOverride {
    const char* name;
    const char* scheme;
    const char* replacementFormat;  // receives the scheme
};

// Injected in this order.
constexpr InjectedOverride kInjectedOverrides[] = {
    {"window.location.replace", MVJavascriptOverrides::kLocationReplaceScheme,
     "function(url){{ window.location = '{}://' + encodeURIComponent(url);}}"},
    {"history.replaceState", MVJavascriptOverrides::kHistoryReplaceStateScheme,
     "function(state,title,url){{ history.replaceState_(state,title,url); window.location = "
     "'{}://' + encodeURIComponent(document.location.href); }}"},
};

// Keys lower case.
const std::map<std::string, MVJavascriptOverrides::Override, std::less<>>& handlerTable() {
    using Override = MVJavascriptOverrides::Override;
    static const auto* table = new std::map<std::string, Override, std::less<>>{
        {platform::asciiLowercase(MVJavascriptOverrides::kLocationReplaceScheme),
         Override::LocationReplace},
        {platform::asciiLowercase(MVJavascriptOverrides::kHistoryReplaceStateScheme),
         Override::HistoryReplaceState},
        {platform::asciiLowercase(MVJavascriptOverrides::kHistoryPushStateScheme),
         Override::HistoryPushState},
    };
    return *table;
}

}  // namespace

const std::string& MVJavascriptOverrides::injectedScript() {
    static const std::string script = [] {
        std::string text;
        for (const auto& o : kInjectedOverrides) {
            const std::string replacement =
                fmt::format(fmt::runtime(o.replacementFormat), o.scheme);
            text += fmt::format("{}_={};\n{}={};\n", o.name, o.name, o.name, replacement);
        }
        return text;
    }();
    return script;
}

std::optional<MVJavascriptOverrides::Override> MVJavascriptOverrides::overrideForScheme(
    std::string_view scheme) {
    const auto& table = handlerTable();
    auto it = table.find(platform::asciiLowercase(scheme));
    if (it == table.end()) return std::nullopt;
    return it->second;
}

const char* MVJavascriptOverrides::displayName(Override override) {
    switch (override) {
        case Override::LocationReplace:
            return "window.location.replace";
        case Override::HistoryReplaceState:
            return "history.replaceState";
        case Override::HistoryPushState:
            return "history.pushState";
    }
    return "";
}

std::optional<std::string> MVJavascriptOverrides::reportedAddress(const platform::URL& url) {
    const std::string& text = url.absoluteString();
    const size_t from = url.scheme().size() + 3;
    if (url.scheme().empty() || text.size() < from) return std::nullopt;
    return urlDecodedString(std::string_view(text).substr(from));
}
