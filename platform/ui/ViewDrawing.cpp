#include "platform/ui/ViewDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/foundation/Log.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"

namespace platform {

namespace {

void drawTree(const View& view, GraphicsContext& context, bool placeInSuperview) {
    const double alpha = view.presentationAlpha();
    if (view.isHidden() || !(alpha > 0)) return;
    const Rect bounds = view.presentationBounds();
    context.saveState();
    if (placeInSuperview) {
        // Bounds coordinates to the superview's: around the centre, through the transform.
        const Point center = view.presentationCenter();
        context.concatTransform(
            AffineTransform::translation(-(bounds.origin.x + bounds.size.width / 2),
                                         -(bounds.origin.y + bounds.size.height / 2))
                .concat(view.presentationTransform())
                .concat(AffineTransform::translation(center.x, center.y)));
    }
    const bool group = alpha < 1;
    if (group) {
        context.setAlpha(context.alpha() * alpha);
        context.beginTransparencyLayer();
    }
    const Layer& layer = *view.layer();
    const double radius = layer.cornerRadius();
    if (auto background = view.presentationBackgroundColor())
        context.fillRect(bounds, *background, radius);
    const bool clips = view.clipsToBounds();
    if (clips) {
        context.saveState();
        context.clipToRect(bounds, radius);
    }
    view.drawContent(context, bounds);
    for (const auto& sub : view.subviews()) drawTree(*sub, context, true);
    if (clips) context.restoreState();
    if (layer.borderWidth() > 0 && layer.borderColor())
        context.strokeBorder(bounds, layer.borderWidth(), *layer.borderColor(), radius);
    if (group) context.endTransparencyLayer();
    context.restoreState();
}

// Pixels for a length in points: at most just over any image's size, 0 for NaN.
int64_t pixels(double points, double scale) {
    // A hair of tolerance so that 320 points at scale 2.0000000001 stay 640 pixels.
    const double count = std::ceil(points * scale - 1e-6);
    if (!(count > 0)) return 0;
    return int64_t(std::min(count, double(Image::kMaxPixels) + 1));
}

}  // namespace

void drawViewHierarchy(const View& view, GraphicsContext& context) {
    drawTree(view, context, false);
}

Image imageOfViewHierarchy(const View& view, double scale) {
    const Rect bounds = view.presentationBounds().standardized();
    const int64_t width = pixels(bounds.width(), scale);
    const int64_t height = pixels(bounds.height(), scale);
    if (!(scale > 0) || width > Image::kMaxPixels || height > Image::kMaxPixels ||
        width * height > Image::kMaxPixels) {
        PLATFORM_LOG_WARN(
            "ViewDrawing cannot draw {} x {} points at scale {}: images hold {} pixels",
            bounds.width(), bounds.height(), scale, Image::kMaxPixels);
        return Image();
    }
    Image image(int(width), int(height), scale);
    GraphicsContext context(image);
    context.concatTransform(AffineTransform::translation(-bounds.origin.x, -bounds.origin.y));
    drawViewHierarchy(view, context);
    return image;
}

}  // namespace platform
