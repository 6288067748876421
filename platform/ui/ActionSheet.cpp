#include "platform/ui/ActionSheet.h"

#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"

namespace platform {

std::shared_ptr<ActionSheet> ActionSheet::create(std::optional<std::string> title,
                                                 std::weak_ptr<ActionSheetDelegate> delegate,
                                                 std::optional<std::string> cancelButtonTitle,
                                                 std::optional<std::string> destructiveButtonTitle,
                                                 std::vector<std::string> otherButtonTitles) {
    return std::shared_ptr<ActionSheet>(
        new ActionSheet(std::move(title), std::move(delegate), std::move(cancelButtonTitle),
                        std::move(destructiveButtonTitle), std::move(otherButtonTitles)));
}

ActionSheet::ActionSheet(std::optional<std::string> title,
                         std::weak_ptr<ActionSheetDelegate> delegate,
                         std::optional<std::string> cancelButtonTitle,
                         std::optional<std::string> destructiveButtonTitle,
                         std::vector<std::string> otherButtonTitles)
    : title_(std::move(title)), delegate_(std::move(delegate)) {
    if (destructiveButtonTitle)
        destructiveButtonIndex_ = addButtonWithTitle(std::move(*destructiveButtonTitle));
    if (cancelButtonTitle) setCancelButtonIndex(addButtonWithTitle(std::move(*cancelButtonTitle)));
    for (auto& t : otherButtonTitles) addButtonWithTitle(std::move(t));
}

std::vector<std::shared_ptr<ActionSheet>> ActionSheet::shownActionSheets() {
    std::vector<std::shared_ptr<ActionSheet>> sheets;
    for (const auto& p : Application::shared().presentations())
        if (auto sheet = std::dynamic_pointer_cast<ActionSheet>(p)) sheets.push_back(sheet);
    return sheets;
}

void ActionSheet::showInView(const std::shared_ptr<View>& view) {
    if (!view) {
        PLATFORM_LOG_WARN("An action sheet shown in no view stays hidden");
        return;
    }
    shownInView_ = view;
    showPresentation();
}

void ActionSheet::clickedButtonAtIndex(int index) {
    if (auto d = delegate()) d->actionSheetClickedButtonAtIndex(*this, index);
}

void ActionSheet::willDismissWithButtonIndex(int index) {
    if (auto d = delegate()) d->actionSheetWillDismissWithButtonIndex(*this, index);
}

void ActionSheet::didDismissWithButtonIndex(int index) {
    if (auto d = delegate()) d->actionSheetDidDismissWithButtonIndex(*this, index);
}

}  // namespace platform
