#include "platform/ui/ImageView.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"

namespace platform {

std::shared_ptr<ImageView> ImageView::create(const Rect& frame) {
    return std::shared_ptr<ImageView>(new ImageView(frame));
}

std::shared_ptr<ImageView> ImageView::create(std::shared_ptr<const Image> image) {
    const Size size = image ? image->size() : Size{};
    auto view = create(Rect({0, 0}, size));
    view->setImage(std::move(image));
    return view;
}

ImageView::ImageView(const Rect& frame) : View(frame) {
    setUserInteractionEnabled(false);
}

Rect ImageView::imageRect(ContentMode mode, Size imageSize, const Rect& bounds) {
    const double bw = bounds.size.width, bh = bounds.size.height;
    double w = imageSize.width, h = imageSize.height;
    if (mode == ContentMode::ScaleToFill || mode == ContentMode::Redraw || w <= 0 || h <= 0)
        return bounds;
    if (mode == ContentMode::ScaleAspectFit || mode == ContentMode::ScaleAspectFill) {
        const double fit = std::min(bw / w, bh / h), fill = std::max(bw / w, bh / h);
        const double factor = mode == ContentMode::ScaleAspectFit ? fit : fill;
        w *= factor;
        h *= factor;
    }
    // Horizontal and vertical placement: -1 leading edge, 0 centre, 1 trailing edge.
    int hx = 0, vy = 0;
    switch (mode) {
        case ContentMode::Top:
            vy = -1;
            break;
        case ContentMode::Bottom:
            vy = 1;
            break;
        case ContentMode::Left:
            hx = -1;
            break;
        case ContentMode::Right:
            hx = 1;
            break;
        case ContentMode::TopLeft:
            hx = -1, vy = -1;
            break;
        case ContentMode::TopRight:
            hx = 1, vy = -1;
            break;
        case ContentMode::BottomLeft:
            hx = -1, vy = 1;
            break;
        case ContentMode::BottomRight:
            hx = 1, vy = 1;
            break;
        default:
            break;
    }
    const double x = bounds.origin.x + (bw - w) * (hx + 1) / 2;
    const double y = bounds.origin.y + (bh - h) * (vy + 1) / 2;
    return Rect(x, y, w, h);
}

void ImageView::drawContent(GraphicsContext& context, const Rect& bounds) const {
    if (!image_) return;
    context.drawImage(*image_, imageRect(contentMode_, image_->size(), bounds));
}

}  // namespace platform
