#include "libmerovane/overlays/MVActionSheet.h"

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVActionSheetInterface.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

namespace {

class InstalledActionSheet : public MVActionSheetInterface {
  public:
    void showActionSheet(const nlohmann::json& parameters,
                         const std::shared_ptr<MVWebView>& webView) override {
        MVActionSheet::showActionSheet(parameters, webView);
    }
};

// The "title" of the button dictionary under `key`, when there is one.
std::optional<std::string> buttonTitle(const nlohmann::json& params, const char* key) {
    const nlohmann::json* button = platform::json::find(params, key);
    return button ? platform::json::stringValue(*button, "title") : std::nullopt;
}

// The "cmd" of a button dictionary; null when there is none.
const nlohmann::json* buttonCommand(const nlohmann::json* button) {
    return button ? platform::json::find(*button, "cmd") : nullptr;
}

}  // namespace

void MVActionSheet::install() {
    MVActionSheetInterface::install(std::make_shared<InstalledActionSheet>());
}

MVActionSheet::MVActionSheet(std::optional<std::string> title,
                             std::optional<std::string> cancelButtonTitle,
                             std::optional<std::string> destructiveButtonTitle)
    : platform::ActionSheet(std::move(title), {}, std::move(cancelButtonTitle),
                            std::move(destructiveButtonTitle), {}) {}

void MVActionSheet::showActionSheet(const nlohmann::json& params,
                                    const std::shared_ptr<MVWebView>& fromWebView) {
    std::shared_ptr<MVActionSheet> sheet(new MVActionSheet(
        platform::json::stringValue(params, "title"), buttonTitle(params, "cancelButton"),
        buttonTitle(params, "destructiveButton")));
    // Every element gets its button, so that the numbering stays that of the list.
    if (const nlohmann::json* buttons = platform::json::find(params, "buttons");
        buttons && buttons->is_array()) {
        for (const auto& element : *buttons)
            sheet->addButtonWithTitle(platform::json::stringValue(element, "title").value_or(""));
    }
    sheet->params_ = params;
    const float timeout =
        MVCommandParameters::singlePrecision(platform::json::doubleValue(params, "timeout"));
    if (timeout > 0)
        platform::RunLoop::main().postAfterDetached(timeout, [sheet] { sheet->timeOut(); });
    sheet->fromWebView_ = fromWebView;
    const auto windows = platform::Application::shared().windows();
    sheet->showInView(windows.empty() ? nullptr : windows.front());
}

void MVActionSheet::clickedButtonAtIndex(int index) {
    actionSheetClickedButtonAtIndex(index);
    platform::ActionSheet::clickedButtonAtIndex(index);
}

void MVActionSheet::actionSheetClickedButtonAtIndex(int index) {
    userhasClicked_ = true;
    if (timeOutReached_) return;
    const nlohmann::json* cancel = platform::json::find(params_, "cancelButton");
    const nlohmann::json* destructive = platform::json::find(params_, "destructiveButton");
    const bool hasCancel = cancelButtonIndex() != -1;
    const bool hasDestructive = destructiveButtonIndex() != -1;
    if (hasCancel && index == cancelButtonIndex()) {
        performCommand(buttonCommand(cancel));
    } else if (hasDestructive && index == destructiveButtonIndex()) {
        performCommand(buttonCommand(destructive));
    } else if (const nlohmann::json* buttons = platform::json::find(params_, "buttons");
               buttons && buttons->is_array()) {
        const long position = long(index) - long(hasCancel) - long(hasDestructive);
        if (position >= 0 && position < long(buttons->size()))
            performCommand(buttonCommand(&(*buttons)[size_t(position)]));
    }
}

void MVActionSheet::timeOut() {
    if (userhasClicked_ || timeOutReached_) return;
    timeOutReached_ = true;
    dismissWithClickedButtonIndex(-1, true);
    performCommand(platform::json::find(params_, "timeoutCmd"));
}

void MVActionSheet::performCommand(const nlohmann::json* command) const {
    if (!command) return;
    auto parsed = MVCommand::commandWithDictionary(*command);
    if (!parsed) return;
    if (auto handler = MVCommandHandler::sharedHandler())
        handler->performCommand(std::move(*parsed),
                                std::shared_ptr<MVWebViewInterface>(fromWebView_));
}
