#pragma once
// A rectangle of the interface: geometry, look, an ordered list of subviews, and the
// layer that carries its animations. Headless: nothing is drawn, but every frame,
// alpha, order and callback is real.
//
//   auto v = platform::View::create({0, 0, 320, 44});
//   v->setAutoresizingMask(platform::kAutoresizingFlexibleWidth);
//   parent->addSubview(v);
//
// Views are made by create() and held by std::shared_ptr: a superview holds its subviews;
// the links up (superview, window, owning view controller) are weak. Geometry is the
// layer's: center and bounds, with the frame derived through the transform. A change of
// the bounds size resizes the subviews by their autoresizing masks, the delta of each
// axis shared among its flexible parts in proportion to their sizes (equally when those
// sizes add up to zero). Appearance callbacks of view controllers follow their views
// into and out of visible windows (see ViewController). Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/ui/AffineTransform.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Color.h"
#include "platform/ui/InterfaceTypes.h"
#include "platform/ui/Responder.h"

namespace platform {

class GestureRecognizer;
class GraphicsContext;
class Layer;
class ViewController;
class Window;

class View : public Responder, public std::enable_shared_from_this<View> {
  public:
    static std::shared_ptr<View> create(const Rect& frame = Rect());
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // Geometry, in the superview's coordinates (frame, center) or the view's own (bounds).
    Rect frame() const;
    virtual void setFrame(const Rect& frame);
    const Rect& bounds() const { return bounds_; }
    void setBounds(const Rect& bounds);
    Point center() const { return center_; }
    void setCenter(Point center);
    const AffineTransform& transform() const { return transform_; }
    void setTransform(const AffineTransform& transform);

    // Look and behaviour.
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);
    bool isHidden() const { return hidden_; }
    virtual void setHidden(bool hidden);
    const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<Color> color);
    bool clipsToBounds() const;
    void setClipsToBounds(bool clips);
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool a) { autoresizesSubviews_ = a; }
    const std::shared_ptr<Layer>& layer() const { return layer_; }

    // Hierarchy. Adding a view that has a superview moves it; adding a view to itself or
    // to one of its descendants throws NSInvalidArgumentException.
    std::shared_ptr<View> superview() const { return superview_.lock(); }
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    std::shared_ptr<Window> window() const;
    // Adds at the front (on top); a subview already here moves to the front.
    void addSubview(const std::shared_ptr<View>& view);
    // Index past the end means the front.
    void insertSubview(const std::shared_ptr<View>& view, size_t index);
    // A sibling that is not a subview of this view makes these add at the front.
    void insertSubviewAbove(const std::shared_ptr<View>& view,
                            const std::shared_ptr<View>& sibling);
    void insertSubviewBelow(const std::shared_ptr<View>& view,
                            const std::shared_ptr<View>& sibling);
    void bringSubviewToFront(const std::shared_ptr<View>& view);
    void sendSubviewToBack(const std::shared_ptr<View>& view);
    void removeFromSuperview();
    // True for the view itself and every view below it.
    bool isDescendantOfView(const View* view) const;
    // The controller whose root view this is, if any.
    std::shared_ptr<ViewController> viewController() const { return viewController_.lock(); }

    // Gesture recognizers, held by the view. Adding one that belongs to another view moves
    // it (a gesture in flight there is cancelled); adding it twice or adding null is logged
    // and ignored. Removing cancels a gesture in flight.
    void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
    void removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
    const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const {
        return gestureRecognizers_;
    }

    // Hooks around moves between superviews and windows.
    virtual void willMoveToSuperview(View* newSuperview) {}
    virtual void didMoveToSuperview() {}
    virtual void willMoveToWindow(Window* newWindow) {}
    virtual void didMoveToWindow() {}

    // Coordinate conversion. A null view means the coordinates of this view's window
    // (of its topmost superview when it is in no window).
    Point convertPointToView(Point point, const View* view) const;
    Point convertPointFromView(Point point, const View* view) const;
    Rect convertRectToView(const Rect& rect, const View* view) const;
    Rect convertRectFromView(const Rect& rect, const View* view) const;

    // The deepest descendant (or this view) that contains the point, in this view's
    // coordinates, front to back; hidden views, views with alpha below 0.01 and views that
    // take no touches answer null, and so do their subviews.
    virtual std::shared_ptr<View> hitTest(Point point);
    virtual bool pointInside(Point point) const;

    // Draws what the view shows besides its background, border and subviews (an image
    // view's image, a web view's page) into its bounds, in its own coordinates; drawing a
    // view tree (ViewDrawing.h) calls it. Nothing by default.
    virtual void drawContent(GraphicsContext& context, const Rect& bounds) const {}

    // Where the view is on screen while animations run.
    Point presentationCenter() const;
    Rect presentationBounds() const;
    Rect presentationFrame() const;
    double presentationAlpha() const;
    AffineTransform presentationTransform() const;
    std::optional<Color> presentationBackgroundColor() const;

    // Animation (see Animation.h).
    static void animate(double duration, double delay, AnimationOptions options,
                        const std::function<void()>& changes,
                        std::function<void(bool finished)> completion = {});
    static void animate(double duration, const std::function<void()>& changes,
                        std::function<void(bool finished)> completion = {});
    static void animateWithSpring(double duration, double delay, double dampingRatio,
                                  double initialVelocity, AnimationOptions options,
                                  const std::function<void()>& changes,
                                  std::function<void(bool finished)> completion = {});
    static void setAnimationsEnabled(bool enabled);
    static bool areAnimationsEnabled();
    static void performWithoutAnimation(const std::function<void()>& changes);

    Responder* nextResponder() const override;

  protected:
    explicit View(const Rect& frame);

  private:
    friend class NavigationController;
    friend class ViewController;
    friend class Window;

    // `appearance` false: the caller runs the controllers' appearance transitions itself.
    void insertSubviewInternal(const std::shared_ptr<View>& view, size_t index, bool appearance,
                               bool animated);
    void removeFromSuperviewInternal(bool appearance, bool animated);
    void detachSubview(View* view);
    void notifyWillMoveToWindow(Window* newWindow);
    void notifyDidMoveToWindow();
    void setBoundsInternal(const Rect& bounds);
    void resizeSubviews(Size oldSize);
    void resizeWithOldSuperviewSize(Size oldSize, Size newSize);
    // Maps a point of this view's bounds into its superview's coordinates and back.
    Point toSuperview(Point p) const;
    Point fromSuperview(Point p) const;
    const View* topmost() const;
    // What a null view means in conversions.
    const View* windowOrTopmost() const;

    Point center_;
    Rect bounds_;
    AffineTransform transform_;
    double alpha_ = 1;
    bool hidden_ = false;
    std::optional<Color> backgroundColor_;
    bool userInteractionEnabled_ = true;
    unsigned autoresizingMask_ = kAutoresizingNone;
    bool autoresizesSubviews_ = true;
    std::shared_ptr<Layer> layer_;
    std::weak_ptr<View> superview_;
    std::vector<std::shared_ptr<View>> subviews_;
    std::weak_ptr<ViewController> viewController_;
    std::vector<std::shared_ptr<GestureRecognizer>> gestureRecognizers_;

  protected:
    bool isWindow_ = false;
};

}  // namespace platform
