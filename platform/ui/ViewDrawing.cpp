#include "platform/ui/ViewDrawing.h"

#include <cmath>

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

int pixels(double points, double scale) {
    // A hair of tolerance so that 320 points at scale 2.0000000001 stay 640 pixels.
    return std::max(0, int(std::ceil(points * scale - 1e-6)));
}

}  // namespace

void drawViewHierarchy(const View& view, GraphicsContext& context) {
    drawTree(view, context, false);
}

Image imageOfViewHierarchy(const View& view, double scale) {
    const Rect bounds = view.presentationBounds().standardized();
    Image image(pixels(bounds.width(), scale), pixels(bounds.height(), scale), scale);
    GraphicsContext context(image);
    context.concatTransform(AffineTransform::translation(-bounds.origin.x, -bounds.origin.y));
    drawViewHierarchy(view, context);
    return image;
}

}  // namespace platform
