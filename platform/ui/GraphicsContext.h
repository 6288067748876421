#pragma once
// Software drawing into an Image, for snapshots of view trees: filled (optionally
// rounded) rectangles, borders and images, under an affine transform, clipping and a
// global alpha, with transparency groups for group opacity.
//
//   platform::Image image(640, 960, 2);
//   platform::GraphicsContext context(image);      // user space: points, origin top left
//   context.fillRect({0, 0, 320, 480}, platform::Color::white());
//
// A pixel belongs to a shape when its centre does (no antialiasing), so shapes on whole
// pixels draw exactly. Colours blend source-over in straight alpha. Not thread-safe.

#include <memory>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/ui/AffineTransform.h"
#include "platform/ui/Color.h"

namespace platform {

class Image;

class GraphicsContext {
  public:
    // `image` must outlive the context. User space starts scaled by the image's scale.
    explicit GraphicsContext(Image& image);
    ~GraphicsContext();
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    // Transform, clip and alpha.
    void saveState();
    void restoreState();

    // Maps user space to the image's pixels.
    const AffineTransform& currentTransform() const;
    // `transform` applies first, then the current transform.
    void concatTransform(const AffineTransform& transform);
    // Later drawing stays inside the (rounded) rectangle, in user space.
    void clipToRect(const Rect& rect, double cornerRadius = 0);
    double alpha() const;
    void setAlpha(double alpha);

    void fillRect(const Rect& rect, const Color& color, double cornerRadius = 0);
    // A border `width` points wide along the inside of the (rounded) rectangle.
    void strokeBorder(const Rect& rect, double width, const Color& color, double cornerRadius = 0);
    // The whole image stretched over `rect`.
    void drawImage(const Image& image, const Rect& rect);

    // Drawing up to the matching end goes onto a transparent layer, which is then put
    // down with the alpha current at the begin (alpha is 1 inside the layer).
    void beginTransparencyLayer();
    void endTransparencyLayer();

  private:
    struct State;
    struct Layer;
    struct Box {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // pixels [x0, x1) x [y0, y1)
        bool empty() const { return x0 >= x1 || y0 >= y1; }
    };

    Box deviceBox(const Rect& rect) const;
    bool insideClips(double px, double py) const;
    // Widens the current layer's drawn area.
    void markDirty(const Box& box);
    template <class Paint>
    void paintShape(const Rect& rect, double cornerRadius, double innerInset, Paint paint);

    Image& base_;
    std::vector<State> states_;
    std::vector<std::unique_ptr<Layer>> layers_;
};

}  // namespace platform
