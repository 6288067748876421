#pragma once
// A button: a control whose look lives on its layer (border, corner radius) and its
// background; subclasses change the look when highlighted (setHighlighted). Its tap is
// the touch-up-inside event.
//
//   auto retry = platform::Button::create(platform::ButtonType::Custom, {20, 500, 280, 50});
//   retry->layer()->setBorderWidth(1);
//   retry->addAction(platform::kControlEventTouchUpInside, [](platform::Control&) { ... });
//
// Main thread only.

#include <memory>

#include "platform/ui/Control.h"

namespace platform {

enum class ButtonType : int { Custom = 0, System = 1 };

class Button : public Control {
  public:
    static std::shared_ptr<Button> create(ButtonType type = ButtonType::Custom,
                                          const Rect& frame = Rect());

    ButtonType buttonType() const { return type_; }

  protected:
    Button(ButtonType type, const Rect& frame) : Control(frame), type_(type) {}

  private:
    ButtonType type_;
};

}  // namespace platform
