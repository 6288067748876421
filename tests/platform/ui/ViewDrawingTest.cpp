#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>

#include "platform/foundation/TestDriver.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewDrawing.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

using namespace platform;
using Pixel = Image::Pixel;

namespace {

class ViewDrawingTest : public PlatformTest {};

constexpr Pixel kWhite{255, 255, 255, 255};
constexpr Pixel kRed{255, 0, 0, 255};
constexpr Pixel kGreen{0, 255, 0, 255};
constexpr Pixel kBlue{0, 0, 255, 255};
constexpr Pixel kClear{0, 0, 0, 0};

std::shared_ptr<View> colored(const Rect& frame, Color color) {
    auto v = View::create(frame);
    v->setBackgroundColor(color);
    return v;
}

// The pixel at a point of the image (its pixel's top left corner), at the image's scale.
Pixel at(const Image& image, double x, double y) {
    return image.pixel(int(x * image.scale()), int(y * image.scale()));
}

// Stands in for a view whose engine supplies its picture, as a web view's does.
class EngineView : public View {
  public:
    static std::shared_ptr<EngineView> create(const Rect& frame, std::shared_ptr<Image> page) {
        auto v = std::shared_ptr<EngineView>(new EngineView(frame));
        v->page_ = std::move(page);
        return v;
    }
    void drawContent(GraphicsContext& context, const Rect& bounds) const override {
        if (page_) context.drawImage(*page_, bounds);
    }

  private:
    using View::View;
    std::shared_ptr<Image> page_;
};

}  // namespace

TEST_F(ViewDrawingTest, ColouredPartlyTransparentTreeDrawsIntoAPng) {
    auto window = Window::create(Rect(0, 0, 320, 480));
    window->setBackgroundColor(Color::white());
    window->addSubview(colored(Rect(10, 10, 100, 100), Color::rgba(1, 0, 0, 1)));
    // Half-transparent by alpha, over the red one and over white.
    auto blue = colored(Rect(60, 60, 100, 100), Color::rgba(0, 0, 1, 1));
    blue->setAlpha(0.5);
    window->addSubview(blue);
    // Transparent by its colour.
    window->addSubview(colored(Rect(10, 300, 50, 50), Color::rgba(0, 1, 0, 0.25)));
    // Hidden, and at alpha 0: nothing.
    auto hidden = colored(Rect(200, 300, 50, 50), Color::black());
    hidden->setHidden(true);
    window->addSubview(hidden);
    auto invisible = colored(Rect(260, 300, 50, 50), Color::black());
    invisible->setAlpha(0);
    window->addSubview(invisible);
    window->makeKeyAndVisible();

    auto decoded = Image::decode(imageOfViewHierarchy(*window, 2).pngData());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 640);
    EXPECT_EQ(decoded->height(), 960);
    decoded->setScale(2);
    const Image& image = *decoded;

    EXPECT_EQ(at(image, 0, 0), kWhite);
    EXPECT_EQ(at(image, 20, 20), kRed);
    EXPECT_EQ(at(image, 80, 80), (Pixel{128, 0, 128, 255}));      // blue at 0.5 over red
    EXPECT_EQ(at(image, 150, 150), (Pixel{128, 128, 255, 255}));  // blue at 0.5 over white
    EXPECT_EQ(at(image, 20, 320), (Pixel{191, 255, 191, 255}));   // green at 0.25 over white
    EXPECT_EQ(at(image, 220, 320), kWhite);
    EXPECT_EQ(at(image, 280, 320), kWhite);
    // Edges land on whole pixels: the red square covers pixels 20 ..< 220.
    EXPECT_EQ(image.pixel(19, 40), kWhite);
    EXPECT_EQ(image.pixel(20, 40), kRed);
    EXPECT_EQ(image.pixel(20, 19), kWhite);
}

TEST_F(ViewDrawingTest, ATransparentViewDrawsItsSubviewsAsOneGroup) {
    auto root = colored(Rect(0, 0, 100, 100), Color::white());
    auto group = View::create(Rect(0, 0, 100, 100));
    group->setAlpha(0.5);
    group->addSubview(colored(Rect(0, 0, 60, 60), Color::rgba(1, 0, 0, 1)));
    group->addSubview(colored(Rect(30, 30, 60, 60), Color::rgba(0, 0, 1, 1)));
    root->addSubview(group);
    Image image = imageOfViewHierarchy(*root, 1);
    EXPECT_EQ(at(image, 10, 10), (Pixel{255, 128, 128, 255}));
    // Where the two overlap only the upper one shows, at half strength.
    EXPECT_EQ(at(image, 45, 45), (Pixel{128, 128, 255, 255}));
    EXPECT_EQ(at(image, 95, 95), kWhite);
}

TEST_F(ViewDrawingTest, ClippingCutsSubviewsAndRoundsCorners) {
    auto root = colored(Rect(0, 0, 200, 200), Color::white());
    auto clip = View::create(Rect(10, 10, 50, 50));
    clip->setClipsToBounds(true);
    clip->addSubview(colored(Rect(-20, -20, 200, 200), Color::rgba(0, 1, 0, 1)));
    root->addSubview(clip);
    auto open = View::create(Rect(100, 10, 20, 20));  // does not clip
    open->addSubview(colored(Rect(0, 0, 60, 10), Color::rgba(0, 1, 0, 1)));
    root->addSubview(open);
    auto round = colored(Rect(100, 100, 80, 80), Color::rgba(1, 0, 0, 1));
    round->layer()->setCornerRadius(20);
    round->setClipsToBounds(true);
    round->addSubview(colored(Rect(0, 0, 80, 80), Color::rgba(0, 0, 1, 1)));
    root->addSubview(round);

    Image image = imageOfViewHierarchy(*root, 1);
    EXPECT_EQ(at(image, 59, 59), kGreen);
    EXPECT_EQ(at(image, 60, 30), kWhite);
    EXPECT_EQ(at(image, 5, 30), kWhite);
    EXPECT_EQ(at(image, 150, 15), kGreen);  // sticks out of its unclipped parent
    EXPECT_EQ(at(image, 140, 140), kBlue);
    EXPECT_EQ(at(image, 101, 101), kWhite);  // cut corner
    EXPECT_EQ(at(image, 101, 140), kBlue);
}

TEST_F(ViewDrawingTest, PositionFollowsBoundsOriginAndTransform) {
    auto root = colored(Rect(0, 0, 200, 200), Color::white());
    // Scrolled content: bounds origin (0, 50) moves subviews up by 50.
    auto scrolled = View::create(Rect(0, 0, 100, 200));
    scrolled->setBounds(Rect(0, 50, 100, 200));
    scrolled->addSubview(colored(Rect(0, 60, 10, 10), Color::rgba(1, 0, 0, 1)));
    root->addSubview(scrolled);
    // A 100 x 20 bar turned a quarter around its centre (150, 100): 20 wide, 100 high.
    auto bar = colored(Rect(100, 90, 100, 20), Color::rgba(0, 0, 1, 1));
    bar->setTransform(AffineTransform::rotation(std::numbers::pi / 2));
    root->addSubview(bar);

    Image image = imageOfViewHierarchy(*root, 1);
    EXPECT_EQ(at(image, 5, 15), kRed);
    EXPECT_EQ(at(image, 5, 65), kWhite);
    EXPECT_EQ(at(image, 150, 55), kBlue);
    EXPECT_EQ(at(image, 150, 145), kBlue);
    EXPECT_EQ(at(image, 165, 100), kWhite);
}

TEST_F(ViewDrawingTest, ImageViewsPlaceTheirImageByContentMode) {
    // 2 x 2 pixels: red, green / blue, white.
    auto picture = std::make_shared<Image>(2, 2);
    picture->setPixel(0, 0, kRed);
    picture->setPixel(1, 0, kGreen);
    picture->setPixel(0, 1, kBlue);
    picture->setPixel(1, 1, kWhite);

    auto root = View::create(Rect(0, 0, 100, 40));
    auto stretched = ImageView::create(Rect(0, 0, 20, 20));
    stretched->setImage(picture);
    root->addSubview(stretched);
    // Fitted: 20 x 20 in the middle of 40 x 20, clear on either side.
    auto fitted = ImageView::create(Rect(40, 0, 40, 20));
    fitted->setImage(picture);
    fitted->setContentMode(ContentMode::ScaleAspectFit);
    root->addSubview(fitted);

    Image image = imageOfViewHierarchy(*root, 2);
    EXPECT_EQ(at(image, 15, 2), kGreen);
    EXPECT_EQ(at(image, 2, 15), kBlue);
    EXPECT_EQ(at(image, 45, 5), kClear);  // left of the fitted image
    EXPECT_EQ(at(image, 52, 2), kRed);
    EXPECT_EQ(at(image, 68, 18), kWhite);

    // A view made from an image takes its size in points.
    auto sized = std::make_shared<Image>(40, 20, 2);
    EXPECT_EQ(ImageView::create(sized)->frame(), Rect(0, 0, 20, 10));
}

TEST_F(ViewDrawingTest, ContentModeRectangles) {
    const Rect bounds(0, 0, 100, 50);
    const Size image{20, 10};
    const Size tall{10, 20};
    struct Case {
        ContentMode mode;
        Size size;
        Rect expected;
    };
    const Case cases[] = {
        {ContentMode::ScaleToFill, image, bounds},
        {ContentMode::ScaleAspectFit, tall, Rect(37.5, 0, 25, 50)},
        {ContentMode::ScaleAspectFill, tall, Rect(0, -75, 100, 200)},
        {ContentMode::Center, image, Rect(40, 20, 20, 10)},
        {ContentMode::Top, image, Rect(40, 0, 20, 10)},
        {ContentMode::Bottom, image, Rect(40, 40, 20, 10)},
        {ContentMode::Left, image, Rect(0, 20, 20, 10)},
        {ContentMode::Right, image, Rect(80, 20, 20, 10)},
        {ContentMode::TopLeft, image, Rect(0, 0, 20, 10)},
        {ContentMode::BottomRight, image, Rect(80, 40, 20, 10)},
        {ContentMode::Center, Size{0, 0}, bounds},  // an empty image just fills
    };
    for (const auto& c : cases)
        EXPECT_EQ(ImageView::imageRect(c.mode, c.size, bounds), c.expected) << int(c.mode);
}

TEST_F(ViewDrawingTest, EngineContentDrawsBelowSubviewsAndBordersOnTop) {
    auto page = std::make_shared<Image>(10, 10, 1, kGreen);
    auto web = EngineView::create(Rect(0, 0, 100, 100), page);
    web->addSubview(colored(Rect(50, 50, 50, 50), Color::rgba(1, 0, 0, 1)));
    web->layer()->setBorderWidth(2);
    web->layer()->setBorderColor(Color::rgba(0, 0, 1, 1));
    Image image = imageOfViewHierarchy(*web, 1);
    EXPECT_EQ(at(image, 20, 20), kGreen);
    EXPECT_EQ(at(image, 0, 50), kBlue);
    EXPECT_EQ(at(image, 99, 99), kBlue);  // the border covers the subview
    EXPECT_EQ(at(image, 97, 60), kRed);

    // Without a page (the headless engine) only the rest shows.
    Image blank = imageOfViewHierarchy(*EngineView::create(Rect(0, 0, 10, 10), nullptr), 1);
    EXPECT_EQ(at(blank, 5, 5), kClear);
}

TEST_F(ViewDrawingTest, DrawsWhatIsOnScreenWhileAnimating) {
    auto root = colored(Rect(0, 0, 10, 10), Color::white());
    auto red = colored(Rect(0, 0, 10, 10), Color::rgba(1, 0, 0, 1));
    root->addSubview(red);
    View::animate(1.0, 0, kAnimationOptionCurveLinear, [&] { red->setAlpha(0); });
    EXPECT_EQ(at(imageOfViewHierarchy(*root, 1), 5, 5), kRed);
    advanceBy(0.5);
    EXPECT_EQ(at(imageOfViewHierarchy(*root, 1), 5, 5), (Pixel{255, 128, 128, 255}));
    advanceBy(0.6);
    EXPECT_EQ(at(imageOfViewHierarchy(*root, 1), 5, 5), kWhite);
}

TEST_F(ViewDrawingTest, ImageSizeRoundsUpAtTheScale) {
    struct Case {
        Rect bounds;
        double scale;
        int width, height;
    };
    for (const Case& c :
         {Case{Rect(0, 0, 320, 480), 2, 640, 960}, Case{Rect(0, 0, 100.5, 10), 3, 302, 30},
          Case{Rect(0, 0, 0, 10), 2, 0, 20},
          // Over the largest image: the empty image.
          Case{Rect(0, 0, 8000, 8000), 2, 0, 0}, Case{Rect(0, 0, 1e300, 1), 1, 0, 0}}) {
        Image image = imageOfViewHierarchy(*View::create(c.bounds), c.scale);
        EXPECT_EQ(image.width(), c.width);
        EXPECT_EQ(image.height(), c.height);
        if (c.width > 0 || c.height > 0) {
            EXPECT_EQ(image.scale(), c.scale);
        }
    }
    EXPECT_EQ(loggedCount("ViewDrawing cannot draw"), 2u);
}

TEST_F(ViewDrawingTest, ContextStateAndLayersBalance) {
    Image image(4, 4);
    GraphicsContext context(image);
    context.setAlpha(0.5);
    context.saveState();
    context.clipToRect(Rect(0, 0, 2, 4));
    context.setAlpha(1);
    context.beginTransparencyLayer();
    context.restoreState();  // cannot leave the layer's state
    context.fillRect(Rect(0, 0, 4, 4), Color::rgba(1, 0, 0, 1));
    context.endTransparencyLayer();
    context.restoreState();
    EXPECT_EQ(context.alpha(), 0.5);
    context.endTransparencyLayer();  // unmatched: ignored
    context.restoreState();
    EXPECT_EQ(image.pixel(0, 0), kRed);
    EXPECT_EQ(image.pixel(3, 0), kClear);

    // Colour components out of range are clamped.
    context.fillRect(Rect(2, 0, 2, 1), Color{2, -1, 0.5, 3});
    EXPECT_EQ(image.pixel(3, 0), (Pixel{255, 0, 128, 128}));  // straight alpha
    // A border of a 4 x 4 square one point wide leaves the middle free.
    Image frame(4, 4);
    GraphicsContext frameContext(frame);
    frameContext.strokeBorder(Rect(0, 0, 4, 4), 1, Color::white());
    EXPECT_EQ(frame.pixel(0, 2), kWhite);
    EXPECT_EQ(frame.pixel(1, 1), kClear);
    EXPECT_EQ(frame.pixel(3, 3), kWhite);
}
