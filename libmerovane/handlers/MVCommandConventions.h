#pragma once
// The rules every command method follows: how it reports misuse, how it checks who
// called it, how it reads the shared parameter words "targetTab", "animation" and
// "speedFactor".
//
//   if (!MVCommandConventions::checkCaller(handler, "cleanTab",
//                                          MVCommandConventions::CallerCheck::PageOrTarget,
//                                          parameters, webView))
//       return;
//   auto stack = MVCommandConventions::targetStack(parameters, webView);
//
// Main thread, like the commands.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "libmerovane/bridge/MVBarAnimation.h"
#include "platform/foundation/Log.h"

class MVCommandHandler;
class MVNavigationControllerInterface;
class MVWebView;

namespace platform {
class ViewController;
}

// The two texts of a command error report. Each is a format whose first argument is
// the command's prefix ("MVCommandHandler(v2.1).cleanTab()") and whose optional second
// one is the parameter dictionary as compact JSON. Warning level lines are queued;
// error level lines are written before the report is made.
struct MVCommandErrorTexts {
    const char* warning;
    const char* report;
    int level = platform::log::kWarning;
};

class MVCommandConventions {
  public:
    // Who may call a command, by family.
    enum class CallerCheck {
        PageOnly,         // a web view: "... can only be called from MVWebviews"
        PageOnlyTagged,   // a web view: "... can only be called from an MVWebview"
        PageOnlyScanner,  // a web view: "... has to be sent from a web view." (error level)
        ServerOnly,       // no web view; the report's data is the web view's current URL
        PageOrTarget,     // a web view or a "targetTab"
    };

    // "MVCommandHandler(v<running version>).<command>()".
    static std::string commandPrefix(const MVCommandHandler& handler, std::string_view command);

    // Logs the warning and reports to MVErrorLogger with `data` (null: no data). The
    // command then returns without any other effect.
    static void reportCommandError(const MVCommandHandler& handler, std::string_view command,
                                   const MVCommandErrorTexts& texts,
                                   const nlohmann::json* parameters, const nlohmann::json* data);
    // The same with the parameter dictionary as data.
    static void reportCommandError(const MVCommandHandler& handler, std::string_view command,
                                   const MVCommandErrorTexts& texts,
                                   const nlohmann::json* parameters);

    // The family's texts.
    static const MVCommandErrorTexts& callerCheckTexts(CallerCheck check);
    // True when the caller fits the family; otherwise the command error report is made
    // with the family's texts, or the command's own variant, and false comes back.
    static bool checkCaller(const MVCommandHandler& handler, std::string_view command,
                            CallerCheck check, const nlohmann::json* parameters,
                            const std::shared_ptr<MVWebView>& webView,
                            const MVCommandErrorTexts* variant = nullptr);

    // "targetTab", none when absent.
    static std::optional<std::string> targetTab(const nlohmann::json* parameters);
    // The command's target stack for "targetTab" and the calling web view; null when
    // there is none, after the lookup has logged and reported it.
    static std::shared_ptr<MVNavigationControllerInterface> targetStack(
        const nlohmann::json* parameters, const std::shared_ptr<MVWebView>& webView);
    // "speedFactor" as sent, none when absent; never checked nor defaulted.
    static std::optional<double> speedFactor(const nlohmann::json* parameters);

    // The bar animation for an "animation" word: none while the controller's view is in
    // no window (or there is no controller); else slide for "slide" or no word, fade for
    // "fade", none for any other word. Words compare exactly.
    static MVBarAnimation animationTypeForController(
        const std::shared_ptr<platform::ViewController>& controller,
        const std::optional<std::string>& word);
};
