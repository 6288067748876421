#include "platform/ui/Button.h"

namespace platform {

std::shared_ptr<Button> Button::create(ButtonType type, const Rect& frame) {
    return std::shared_ptr<Button>(new Button(type, frame));
}

}  // namespace platform
