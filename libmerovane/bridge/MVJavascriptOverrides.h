#pragma once
// The script a web view injects into every loaded page so that the page reports its
// address changes, and the private URL schemes the reports arrive on:
//
//   adapter.evaluateJavaScript(MVJavascriptOverrides::injectedScript(), ...);
//   // the page's location.replace("https://shop.example/b") then navigates to
//   // "mvwebview-override-location.replace://https%3A%2F%2Fshop.example%2Fb"
//   auto kind = MVJavascriptOverrides::overrideForScheme(request.url().scheme());
//   auto address = MVJavascriptOverrides::reportedAddress(request.url());
//
// location.replace and history.replaceState are replaced by functions that report the
// call (the page's own functions stay reachable under the name followed by "_");
// history.pushState has no injected replacement: the page library reports it itself.
// What a report does to the web view's history is the web view's part. Thread-safe.

#include <optional>
#include <string>
#include <string_view>

namespace platform {
class URL;
}

class MVJavascriptOverrides {
  public:
    enum class Override { LocationReplace, HistoryReplaceState, HistoryPushState };

    static constexpr const char* kLocationReplaceScheme = "mvwebview-override-location.replace";
    static constexpr const char* kHistoryReplaceStateScheme =
        "mvwebview-override-history.replaceState";
    static constexpr const char* kHistoryPushStateScheme = "mvwebview-override-history.pushState";

    // Built once per process.
    static const std::string& injectedScript();

    // The report a private scheme carries; none for every other scheme. Schemes compare
    // without case: the injected script writes them in mixed case, and engines differ in
    // whether they keep it.
    static std::optional<Override> overrideForScheme(std::string_view scheme);
    // The overridden function's name as log lines show it ("window.location.replace").
    static const char* displayName(Override override);

    // The address a report carries: the text after the scheme and the three characters
    // that follow it ("://"), URL-decoded. None when there is no such text or it does not
    // decode.
    static std::optional<std::string> reportedAddress(const platform::URL& url);
};
