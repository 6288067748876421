#include "platform/ui/AlertView.h"

#include "platform/ui/Application.h"

namespace platform {

std::shared_ptr<AlertView> AlertView::create(std::optional<std::string> title,
                                             std::optional<std::string> message,
                                             std::weak_ptr<AlertViewDelegate> delegate,
                                             std::optional<std::string> cancelButtonTitle,
                                             std::vector<std::string> otherButtonTitles) {
    return std::shared_ptr<AlertView>(
        new AlertView(std::move(title), std::move(message), std::move(delegate),
                      std::move(cancelButtonTitle), std::move(otherButtonTitles)));
}

AlertView::AlertView(std::optional<std::string> title, std::optional<std::string> message,
                     std::weak_ptr<AlertViewDelegate> delegate,
                     std::optional<std::string> cancelButtonTitle,
                     std::vector<std::string> otherButtonTitles)
    : title_(std::move(title)), message_(std::move(message)), delegate_(std::move(delegate)) {
    if (cancelButtonTitle) setCancelButtonIndex(addButtonWithTitle(std::move(*cancelButtonTitle)));
    for (auto& t : otherButtonTitles) addButtonWithTitle(std::move(t));
}

std::vector<std::shared_ptr<AlertView>> AlertView::shownAlerts() {
    std::vector<std::shared_ptr<AlertView>> alerts;
    for (const auto& p : Application::shared().presentations())
        if (auto alert = std::dynamic_pointer_cast<AlertView>(p)) alerts.push_back(alert);
    return alerts;
}

void AlertView::clickedButtonAtIndex(int index) {
    if (auto d = delegate()) d->alertViewClickedButtonAtIndex(*this, index);
}

void AlertView::willDismissWithButtonIndex(int index) {
    if (auto d = delegate()) d->alertViewWillDismissWithButtonIndex(*this, index);
}

void AlertView::didDismissWithButtonIndex(int index) {
    if (auto d = delegate()) d->alertViewDidDismissWithButtonIndex(*this, index);
}

}  // namespace platform
