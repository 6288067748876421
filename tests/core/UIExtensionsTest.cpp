#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libmerovane/core/CALayerExtensions.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "libmerovane/core/UIColorExtensions.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "libmerovane/core/UIScreenExtensions.h"
#include "libmerovane/core/UIViewExtensions.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

using platform::Color;
using platform::InterfaceOrientation;
using platform::Rect;

namespace {
class UIExtensionsTest : public PlatformTest {};

constexpr double c(int component) {
    return component / 255.0;
}
}  // namespace

TEST_F(UIExtensionsTest, HexColours) {
    struct Row {
        const char* text;
        Color expected;
    } rows[] = {
        {"#FF000080", Color::rgba(1, 0, 0, c(128))},
        {"FF000080", Color::rgba(1, 0, 0, c(128))},  // the "#" is optional
        {"#ff000080", Color::rgba(1, 0, 0, c(128))},
        {"#F", Color::rgba(0, 0, 0, 1)},  // a lone character is ignored
        {"#12345", Color::rgba(c(0x12), c(0x34), 0, 1)},
        {"#", Color::rgba(0, 0, 0, 1)},
        // A pair counts as far as its hexadecimal digits go...
        {"#1G2233", Color::rgba(c(1), c(0x22), c(0x33), 1)},
        // ...and one that starts with another character leaves its component alone.
        {"#G12233", Color::rgba(0, c(0x22), c(0x33), 1)},
        {"#112233ZZ", Color::rgba(c(0x11), c(0x22), c(0x33), 1)},
        // Only one "#" is dropped.
        {"##FF0000", Color::rgba(0, c(0xF0), 0, 1)},
    };
    for (auto& r : rows) EXPECT_EQ(colorWithHexString(r.text), r.expected) << r.text;
}

TEST_F(UIExtensionsTest, ColourFunctionStrings) {
    struct Row {
        const char* text;
        Color expected;
    } rows[] = {
        {"rgba(0, 0, 0, 0.5)", Color::rgba(0, 0, 0, 0.5)},
        {"rgb(10,20,30)", Color::rgba(c(10), c(20), c(30), 1)},
        // Alpha is used as given; numbers take exponents and signs.
        {"rgba( 1e2 ,\t2.5,+3, 1.5)", Color::rgba(c(100), 2.5 / 255, c(3), 1.5)},
        {"rgba(1,2,3,4,5)", Color::rgba(c(1), c(2), c(3), 4)},  // a fifth piece is ignored
        {"rgb(1,2)", Color::rgba(c(1), c(2), 0, 1)},
        {"rgba(1,2,3,)", Color::rgba(c(1), c(2), c(3), 0)},  // an empty piece reads 0
        {"rgb(abc, -5, .5)", Color::rgba(0, -5 / 255.0, 0.5 / 255, 1)},
        {"rgb(5., 7x, 1)", Color::rgba(c(5), c(7), c(1), 1)},
        {"rgb(1,2,3", Color::rgba(c(1), c(2), c(3), 1)},    // no ")": the rest counts
        {")rgb(1,2,3)", Color::rgba(c(1), c(2), c(3), 1)},  // a ")" before the "("
        {"color: rgb(4, 5, 6);", Color::rgba(c(4), c(5), c(6), 1)},
    };
    for (auto& r : rows) EXPECT_EQ(colorWithRGBAString(r.text), r.expected) << r.text;

    for (const char* bad : {"#FF0000", "hsl(0, 0%, 0%)", "RGB(1,2,3)", "", "rgb"}) {
        try {
            colorWithRGBAString(bad);
            ADD_FAILURE() << "no assertion for " << bad;
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.name(), platform::kInternalInconsistencyException) << bad;
        }
    }
}

TEST_F(UIExtensionsTest, SystemVersionNumbers) {
    struct Row {
        const char* text;
        SystemVersion expected;
    } rows[] = {
        {"8.0", {8, 0, 0}},   {"8.0.2", {8, 0, 2}}, {"10.3.1.7", {10, 3, 1}}, {"9", {9, 0, 0}},
        {"8.x.1", {8, 0, 1}}, {" 8.1b", {8, 1, 0}}, {"", {0, 0, 0}},
    };
    for (auto& r : rows) {
        platform::resetSharedInstancesForTesting();
        platform::Device::current().setSystemVersion(r.text);
        EXPECT_EQ(systemVersionAsInts(), r.expected) << r.text;
    }

    // Filled on the first call and never again.
    platform::resetSharedInstancesForTesting();
    platform::Device::current().setSystemVersion("8.0.2");
    const SystemVersion& first = systemVersionAsInts();
    platform::Device::current().setSystemVersion("9.1");
    EXPECT_EQ(&systemVersionAsInts(), &first);
    EXPECT_EQ(first, (SystemVersion{8, 0, 2}));

    struct Compare {
        SystemVersion asked;
        bool above;
    } compares[] = {
        {{8, 0, 0}, true}, {{8, 1, 0}, false}, {{7, 1, 5}, true},
        {{8, 0, 2}, true}, {{8, 0, 3}, false}, {{9, 0, 0}, false},
    };
    for (auto& r : compares)
        EXPECT_EQ(
            systemVersionEqualOrAbove(UISystemVersionMake(r.asked[0], r.asked[1], r.asked[2])),
            r.above)
            << r.asked[0] << "." << r.asked[1] << "." << r.asked[2];
}

TEST_F(UIExtensionsTest, HardwareModel) {
    auto& device = platform::Device::current();
    auto& screen = platform::Screen::main();
    EXPECT_EQ(getSysInfoByName("hw.machine"), device.machine());
    EXPECT_EQ(getSysInfoByName("kern.unknown"), "");
    EXPECT_EQ(getSysInfoByName(nullptr), "");

    struct Row {
        const char* machine;
        double width, height;
        InterfaceOrientation orientation;
        const char* model;
        bool simulator;
    } rows[] = {
        {"x86_64", 375, 667, InterfaceOrientation::Portrait, "iPhoneS,1", true},
        {"i386", 320, 480, InterfaceOrientation::Portrait, "iPhoneS,1", true},
        {"x86_64", 768, 1024, InterfaceOrientation::Portrait, "iPadS,1", true},
        // The width in the current orientation decides.
        {"x86_64", 375, 667, InterfaceOrientation::LandscapeLeft, "iPhoneS,1", true},
        {"x86_64", 414, 800, InterfaceOrientation::LandscapeRight, "iPadS,1", true},
        {"Phone7,2", 375, 667, InterfaceOrientation::Portrait, "Phone7,2", false},
        {"aarch64", 375, 667, InterfaceOrientation::Portrait, "aarch64", false},
    };
    for (auto& r : rows) {
        device.setMachine(r.machine);
        screen.setPortraitSize({r.width, r.height});
        platform::Application::shared().setStatusBarOrientation(r.orientation);
        EXPECT_EQ(devicePlatform(), r.model) << r.machine << " " << r.width;
        EXPECT_EQ(platformIsSimulator(), r.simulator) << r.machine;
    }
}

TEST_F(UIExtensionsTest, ScreenBoundsByOrientation) {
    auto& screen = platform::Screen::main();
    screen.setPortraitSize({375, 667});
    const Rect tall(0, 0, 375, 667), wide(0, 0, 667, 375);
    struct Row {
        InterfaceOrientation orientation;
        Rect expected;
    } rows[] = {
        {InterfaceOrientation::Portrait, tall},
        {InterfaceOrientation::PortraitUpsideDown, tall},
        {InterfaceOrientation::LandscapeLeft, wide},
        {InterfaceOrientation::LandscapeRight, wide},
        {InterfaceOrientation::Unknown, wide},  // 0 counts as "other"
        {static_cast<InterfaceOrientation>(7), wide},
    };
    // The screen answering portrait-shaped bounds...
    for (auto& r : rows)
        EXPECT_EQ(boundsDependingOnOrientation(screen, r.orientation), r.expected)
            << static_cast<int>(r.orientation);
    EXPECT_EQ(boundsDependingOnCurrentOrientation(screen), tall);
    // ...or landscape-shaped ones: the same answers.
    platform::Application::shared().setStatusBarOrientation(InterfaceOrientation::LandscapeLeft);
    ASSERT_EQ(screen.bounds(), wide);
    for (auto& r : rows) EXPECT_EQ(boundsDependingOnOrientation(screen, r.orientation), r.expected);
    EXPECT_EQ(boundsDependingOnCurrentOrientation(screen), wide);
    // A square screen never swaps.
    screen.setPortraitSize({500, 500});
    EXPECT_EQ(boundsDependingOnOrientation(screen, InterfaceOrientation::Portrait),
              Rect(0, 0, 500, 500));
}

namespace {
// A view whose next responder is the application itself: the chain breaks there.
class DetachedView : public platform::View {
  public:
    static std::shared_ptr<DetachedView> create() {
        return std::shared_ptr<DetachedView>(new DetachedView(Rect(0, 0, 10, 10)));
    }
    platform::Responder* nextResponder() const override { return &platform::Application::shared(); }

  private:
    using View::View;
};
}  // namespace

TEST_F(UIExtensionsTest, TheViewControllerOfAView) {
    auto vc = platform::ViewController::create();
    auto middle = platform::View::create(Rect(0, 0, 10, 10));
    auto leaf = platform::View::create(Rect(0, 0, 10, 10));
    vc->view()->addSubview(middle);
    middle->addSubview(leaf);
    EXPECT_EQ(firstAvailableUIViewController(*leaf), vc);
    EXPECT_EQ(firstAvailableUIViewController(*vc->view()), vc);

    // Up to a window and the application: no controller.
    auto window = platform::Window::create(Rect(0, 0, 10, 10));
    auto plain = platform::View::create(Rect(0, 0, 10, 10));
    window->addSubview(plain);
    EXPECT_EQ(firstAvailableUIViewController(*plain), nullptr);
    EXPECT_EQ(firstAvailableUIViewControllerRecursive(*plain), nullptr);
    EXPECT_EQ(firstAvailableUIViewController(*platform::View::create()), nullptr);

    // A chain that breaks is retried from the superview.
    auto detached = DetachedView::create();
    auto inner = platform::View::create(Rect(0, 0, 1, 1));
    middle->addSubview(detached);
    detached->addSubview(inner);
    EXPECT_EQ(firstAvailableUIViewController(*inner), nullptr);
    EXPECT_EQ(firstAvailableUIViewControllerRecursive(*inner), vc);
}

TEST_F(UIExtensionsTest, RemovingAnimationsRecursively) {
    auto top = platform::View::create(Rect(0, 0, 100, 100));
    auto mid = platform::View::create(Rect(0, 0, 50, 50));
    auto low = platform::View::create(Rect(0, 0, 10, 10));
    top->addSubview(mid);
    mid->addSubview(low);
    mid->layer()->addSublayer(platform::Layer::create());
    std::vector<bool> finished;
    platform::View::animate(
        0.3,
        [&] {
            top->setAlpha(0.5);
            mid->setAlpha(0.5);
            low->setAlpha(0.5);
        },
        [&](bool f) { finished.push_back(f); });
    removeAllAnimationsRecursive(*top->layer());
    for (auto* v : {top.get(), mid.get(), low.get()}) EXPECT_FALSE(v->layer()->hasAnimations());
    platform::runUntilIdle();
    EXPECT_EQ(finished, std::vector<bool>{false});
}

namespace {
class StyledController : public platform::ViewController {
  public:
    static std::shared_ptr<StyledController> create() {
        return std::shared_ptr<StyledController>(new StyledController());
    }
    platform::StatusBarStyle preferredStatusBarStyle() const override {
        ++questions;
        return platform::StatusBarStyle::LightContent;
    }
    mutable int questions = 0;
};
}  // namespace

TEST_F(UIExtensionsTest, StatusBarRefreshAsksTheFirstWindowsRoot) {
    auto& app = platform::Application::shared();
    setNeedsStatusBarAppearanceUpdate(app);  // no window: nothing happens
    auto window = platform::Window::create(platform::Screen::main().bounds());
    auto root = StyledController::create();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    app.setStatusBarStyle(platform::StatusBarStyle::Default);
    const int before = root->questions;
    setNeedsStatusBarAppearanceUpdate(app);
    EXPECT_EQ(root->questions, before + 1);
    EXPECT_EQ(app.statusBarStyle(), platform::StatusBarStyle::LightContent);
}
