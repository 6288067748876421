#include "platform/ui/ButtonPresentation.h"

#include <fmt/format.h>

#include "platform/foundation/Exception.h"

namespace platform {

int ButtonPresentation::addButtonWithTitle(std::string title) {
    titles_.push_back(std::move(title));
    return int(titles_.size()) - 1;
}

std::optional<std::string> ButtonPresentation::buttonTitleAtIndex(int index) const {
    if (index < 0 || index >= numberOfButtons()) return std::nullopt;
    return titles_[size_t(index)];
}

void ButtonPresentation::dismissWithClickedButtonIndex(int index, bool /*animated*/) {
    if (!isVisible()) return;
    auto keep = shared_from_this();
    willDismissWithButtonIndex(index);
    detachFromApplication();
    didDismissWithButtonIndex(index);
}

void ButtonPresentation::pressButtonForTesting(int index) {
    if (!isVisible())
        throw Exception(kInternalInconsistencyException, "a button of a hidden presentation");
    if (index < 0 || index >= numberOfButtons())
        throw Exception("NSRangeException",
                        fmt::format("no button at index {} of {}", index, numberOfButtons()));
    auto keep = shared_from_this();
    clickedButtonAtIndex(index);
    // The click handler may have dismissed it already.
    dismissWithClickedButtonIndex(index, true);
}

}  // namespace platform
