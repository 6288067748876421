#include "platform/ui/Presentation.h"

#include <algorithm>

#include "platform/ui/Application.h"

namespace platform {

bool Presentation::isVisible() const {
    const auto& shown = Application::shared().presentations();
    return std::any_of(shown.begin(), shown.end(),
                       [this](const auto& p) { return p.get() == this; });
}

void Presentation::attachToApplication() {
    if (!isVisible()) Application::shared().addPresentation(shared_from_this());
}

void Presentation::detachFromApplication() {
    Application::shared().removePresentation(this);
}

}  // namespace platform
