#include "platform/ui/Label.h"

namespace platform {

std::shared_ptr<Label> Label::create(const Rect& frame) {
    return std::shared_ptr<Label>(new Label(frame));
}

Label::Label(const Rect& frame) : View(frame) {
    setUserInteractionEnabled(false);
}

}  // namespace platform
