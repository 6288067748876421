#pragma once
// A view that shows an image, placed in its bounds by the content mode (stretched by
// default). Like the platform's image views it takes no touches unless told so.
// Main thread only.

#include <memory>

#include "platform/ui/View.h"

namespace platform {

class Image;

enum class ContentMode : int {
    ScaleToFill = 0,
    ScaleAspectFit = 1,
    ScaleAspectFill = 2,
    Redraw = 3,
    Center = 4,
    Top = 5,
    Bottom = 6,
    Left = 7,
    Right = 8,
    TopLeft = 9,
    TopRight = 10,
    BottomLeft = 11,
    BottomRight = 12,
};

class ImageView : public View {
  public:
    static std::shared_ptr<ImageView> create(const Rect& frame = Rect());
    // At (0, 0), as large as the image in points.
    static std::shared_ptr<ImageView> create(std::shared_ptr<const Image> image);

    const std::shared_ptr<const Image>& image() const { return image_; }
    void setImage(std::shared_ptr<const Image> image) { image_ = std::move(image); }
    ContentMode contentMode() const { return contentMode_; }
    void setContentMode(ContentMode mode) { contentMode_ = mode; }

    // Where the image lies in `bounds` by the content mode.
    static Rect imageRect(ContentMode mode, Size imageSize, const Rect& bounds);

    void drawContent(GraphicsContext& context, const Rect& bounds) const override;

  protected:
    explicit ImageView(const Rect& frame);

  private:
    std::shared_ptr<const Image> image_;
    ContentMode contentMode_ = ContentMode::ScaleToFill;
};

}  // namespace platform
