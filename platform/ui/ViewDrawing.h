#pragma once
// Drawing a view tree into an image, for screenshots and still pictures of the screen.
//
//   platform::Image shot = platform::imageOfViewHierarchy(*window,
//   platform::Screen::main().scale()); std::string png = shot.pngData();
//
// Each view draws as it is on screen now (presentation values of running animations):
// its background colour (rounded by its layer's corner radius), its content
// (View::drawContent: an image view's image, a web view's page), its subviews in order,
// then its layer's border. Hidden views and views at alpha 0 draw nothing; a view below
// alpha 1 draws as one group at that alpha; a view that clips to its bounds clips its
// content and subviews (with the rounded corners). Text is not drawn. Main thread only.

#include "platform/ui/Image.h"

namespace platform {

class GraphicsContext;
class View;

// The context's current transform maps the view's bounds coordinates; the view's own
// position and transform are not applied.
void drawViewHierarchy(const View& view, GraphicsContext& context);

// A transparent image of the view's bounds size at `scale` (pixel sizes rounded up), the
// bounds' origin at its top left, with the view tree drawn into it. The empty image and a
// warning when that size is over Image::kMaxPixels or the scale is not positive.
Image imageOfViewHierarchy(const View& view, double scale);

}  // namespace platform
