#pragma once
// The platform's share sheet: the items to share (texts and images), the activity types
// left out, and, on a pad, the popover anchoring it to a view.
//
//   auto sheet = platform::ActivityViewController::create({title, image, link});
//   sheet->setExcludedActivityTypes({...});
//   if (auto popover = sheet->popoverPresentationController()) {   // pads only
//       popover->setSourceView(view);
//       popover->setSourceRect(rect);
//   }
//   root->presentViewController(sheet, true);
//
// Presented like any controller (headless: over the whole window, also on a pad); tests
// find it as the presenter's presentedViewController. Main thread only.

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/ui/Image.h"
#include "platform/ui/ViewController.h"

namespace platform {

class View;

// The platform's numbers.
enum class ModalPresentationStyle : int {
    None = -1,
    FullScreen = 0,
    PageSheet = 1,
    FormSheet = 2,
    CurrentContext = 3,
    Custom = 4,
    OverFullScreen = 5,
    OverCurrentContext = 6,
    Popover = 7,
};

using PopoverArrowDirection = unsigned;
inline constexpr PopoverArrowDirection kPopoverArrowDirectionUp = 1u << 0;
inline constexpr PopoverArrowDirection kPopoverArrowDirectionDown = 1u << 1;
inline constexpr PopoverArrowDirection kPopoverArrowDirectionLeft = 1u << 2;
inline constexpr PopoverArrowDirection kPopoverArrowDirectionRight = 1u << 3;
inline constexpr PopoverArrowDirection kPopoverArrowDirectionAny = 15;

// Where a controller presented as a popover points.
class PopoverPresentationController {
  public:
    std::shared_ptr<View> sourceView() const { return sourceView_.lock(); }
    void setSourceView(std::weak_ptr<View> view) { sourceView_ = std::move(view); }
    const Rect& sourceRect() const { return sourceRect_; }
    void setSourceRect(const Rect& rect) { sourceRect_ = rect; }
    PopoverArrowDirection permittedArrowDirections() const { return arrows_; }
    void setPermittedArrowDirections(PopoverArrowDirection arrows) { arrows_ = arrows; }

  private:
    std::weak_ptr<View> sourceView_;
    Rect sourceRect_;
    PopoverArrowDirection arrows_ = kPopoverArrowDirectionAny;
};

using ActivityItem = std::variant<std::string, Image>;

class ActivityViewController : public ViewController {
  public:
    static std::shared_ptr<ActivityViewController> create(std::vector<ActivityItem> items);

    const std::vector<ActivityItem>& activityItems() const { return items_; }
    // In the order given.
    const std::vector<std::string>& excludedActivityTypes() const { return excluded_; }
    void setExcludedActivityTypes(std::vector<std::string> types) { excluded_ = std::move(types); }
    // Popover on a pad, full screen on a phone, unless set.
    ModalPresentationStyle modalPresentationStyle() const { return style_; }
    void setModalPresentationStyle(ModalPresentationStyle style) { style_ = style; }

    // Made when the sheet is created on a pad; null on a phone.
    const std::shared_ptr<PopoverPresentationController>& popoverPresentationController() const {
        return popover_;
    }

  protected:
    explicit ActivityViewController(std::vector<ActivityItem> items);

  private:
    std::vector<ActivityItem> items_;
    std::vector<std::string> excluded_;
    ModalPresentationStyle style_;
    std::shared_ptr<PopoverPresentationController> popover_;
};

}  // namespace platform
