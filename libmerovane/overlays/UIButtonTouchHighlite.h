#pragma once
// A button that lightens its background while it is pressed: white at 30 % while
// highlighted, clear otherwise. Main thread only.

#include <memory>

#include "platform/ui/Button.h"

class UIButtonTouchHighlite : public platform::Button {
  public:
    static std::shared_ptr<UIButtonTouchHighlite> create(
        platform::ButtonType type = platform::ButtonType::Custom,
        const platform::Rect& frame = platform::Rect());

    void setHighlighted(bool highlighted) override;

  protected:
    UIButtonTouchHighlite(platform::ButtonType type, const platform::Rect& frame)
        : platform::Button(type, frame) {}
};
