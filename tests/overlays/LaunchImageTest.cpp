// The launch image by device: names tried in the main bundle and their alternatives,
// the device tests and the progress offsets.
#include <gtest/gtest.h>

#include <set>

#include "libmerovane/overlays/MVSplashScreenLaunchImage.h"
#include "platform/foundation/Bundle.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

namespace {

using platform::DeviceOrientation;
using platform::UserInterfaceIdiom;
namespace launch = MVSplashScreenLaunchImage;

class LaunchImageTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        platform::Bundle::setMainBundlePathForTesting(home_.file("Bundle"));
        home_.write("Bundle/Info.json", "{}");
    }
    void TearDown() override {
        platform::Bundle::setMainBundlePathForTesting({});
        platform::Screen::main().resetForTesting();
        platform::Device::current().resetForTesting();
        PlatformTest::TearDown();
    }
    // A device with a portrait screen of `height` points at `scale`.
    static void device(UserInterfaceIdiom idiom, double width, double height, double scale,
                       DeviceOrientation orientation = DeviceOrientation::Portrait) {
        platform::Device::current().setUserInterfaceIdiom(idiom);
        platform::Device::current().setOrientation(orientation);
        platform::Screen::main().setPortraitSize({width, height});
        platform::Screen::main().setScale(scale);
    }
    // Puts images of these names (4 by 6 pixels) into the main bundle.
    void bundleHas(const std::set<std::string>& names) {
        for (const auto& name : names)
            home_.write("Bundle/" + name, platform::Image(4, 6, 1, {9, 8, 7, 255}).pngData());
    }

    TempDir home_;
};

TEST_F(LaunchImageTest, NamesFollowDeviceAndBundle) {
    struct Row {
        const char* what;
        UserInterfaceIdiom idiom;
        double width, height, scale;
        DeviceOrientation orientation;
        std::set<std::string> bundle;
        const char* expected;
    };
    const Row rows[] = {
        // 480-point phone at scale 2: the plain name first, else the "-700" one.
        {"480@2 with",
         UserInterfaceIdiom::Phone,
         320,
         480,
         2,
         DeviceOrientation::Portrait,
         {"Default@2x.png"},
         "Default@2x.png"},
        {"480@2 without",
         UserInterfaceIdiom::Phone,
         320,
         480,
         2,
         DeviceOrientation::Portrait,
         {},
         "Default-700@2x.png"},
        {"480@1",
         UserInterfaceIdiom::Phone,
         320,
         480,
         1,
         DeviceOrientation::Portrait,
         {"Default@2x.png"},
         "Default.png"},
        {"568 with",
         UserInterfaceIdiom::Phone,
         320,
         568,
         2,
         DeviceOrientation::Portrait,
         {"Default-568h@2x.png"},
         "Default-568h@2x.png"},
        {"568 without",
         UserInterfaceIdiom::Phone,
         320,
         568,
         2,
         DeviceOrientation::Portrait,
         {},
         "Default-700-568h@2x.png"},
        // The scale matters only for the 480-point screen.
        {"736@3",
         UserInterfaceIdiom::Phone,
         414,
         736,
         3,
         DeviceOrientation::Portrait,
         {"Default-568h@2x.png"},
         "Default-568h@2x.png"},
        // A device without an idiom counts as a phone.
        {"unspecified",
         UserInterfaceIdiom::Unspecified,
         320,
         568,
         2,
         DeviceOrientation::Portrait,
         {},
         "Default-700-568h@2x.png"},
        {"pad portrait@2 with",
         UserInterfaceIdiom::Pad,
         768,
         1024,
         2,
         DeviceOrientation::Portrait,
         {"Default-700-Portrait@2x~ipad.png"},
         "Default-700-Portrait@2x~ipad.png"},
        {"pad upside down@2 without",
         UserInterfaceIdiom::Pad,
         768,
         1024,
         2,
         DeviceOrientation::PortraitUpsideDown,
         {},
         "Default-Portrait@2x~ipad.png"},
        {"pad portrait@1 with",
         UserInterfaceIdiom::Pad,
         768,
         1024,
         1,
         DeviceOrientation::Portrait,
         {"Default-700-Portrait~ipad.png"},
         "Default-700-Portrait~ipad.png"},
        {"pad portrait@1 without",
         UserInterfaceIdiom::Pad,
         768,
         1024,
         1,
         DeviceOrientation::Portrait,
         {},
         "Default-Portrait~ipad.png"},
        // Face up, face down and unknown count as landscape.
        {"pad face up@2 with",
         UserInterfaceIdiom::Pad,
         768,
         1024,
         2,
         DeviceOrientation::FaceUp,
         {"Default-Landscape@2x~ipad.png"},
         "Default-Landscape@2x~ipad.png"},
        {"pad face up@2 without",
         UserInterfaceIdiom::Pad,
         768,
         1024,
         2,
         DeviceOrientation::FaceUp,
         {},
         "Default-700-Landscape@2x~ipad.png"},
        {"pad face down@1 with",
         UserInterfaceIdiom::Pad,
         768,
         1024,
         1,
         DeviceOrientation::FaceDown,
         {"Default-Landscape~ipad.png"},
         "Default-Landscape~ipad.png"},
        {"pad unknown@1 without",
         UserInterfaceIdiom::Pad,
         768,
         1024,
         1,
         DeviceOrientation::Unknown,
         {},
         "Default-700-Landscape~ipad.png"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir bundle;
        platform::Bundle::setMainBundlePathForTesting(bundle.path());
        for (const auto& name : row.bundle)
            bundle.write(name, platform::Image(4, 6, 1, {9, 8, 7, 255}).pngData());
        device(row.idiom, row.width, row.height, row.scale, row.orientation);
        EXPECT_EQ(launch::launchImageName(), row.expected);
    }
}

TEST_F(LaunchImageTest, SmallPhoneAtScaleOneLooksNothingUp) {
    device(UserInterfaceIdiom::Phone, 320, 480, 1);
    const size_t before = launch::imageLookupCountForTesting();
    EXPECT_EQ(launch::launchImageName(), "Default.png");
    EXPECT_EQ(launch::imageLookupCountForTesting(), before);
}

TEST_F(LaunchImageTest, LaunchImageLoadsFromTheMainBundleWithItsScale) {
    device(UserInterfaceIdiom::Phone, 375, 667, 2);
    bundleHas({"Default-568h@2x.png"});
    auto image = launch::launchImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 4);
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(image->pixel(0, 0), (platform::Image::Pixel{9, 8, 7, 255}));
}

TEST_F(LaunchImageTest, MissingOrDamagedImageGivesNone) {
    device(UserInterfaceIdiom::Phone, 375, 667, 2);
    EXPECT_FALSE(launch::launchImage());  // neither name is there
    home_.write("Bundle/Default-700-568h@2x.png", "not a picture");
    EXPECT_FALSE(launch::launchImage());
}

TEST_F(LaunchImageTest, DeviceTestsAndOffsets) {
    struct Row {
        UserInterfaceIdiom idiom;
        double width, height, scale;
        bool phone, phone4, retina, phone5, phone6, phone6Plus;
        double offset;
    };
    const Row rows[] = {
        {UserInterfaceIdiom::Phone, 375, 667, 2, true, false, true, true, true, false, 39},
        {UserInterfaceIdiom::Phone, 414, 736, 3, true, false, false, true, true, true, 43},
        {UserInterfaceIdiom::Phone, 320, 568, 2, true, false, true, true, false, false, 33},
        {UserInterfaceIdiom::Phone, 320, 480, 2, true, true, true, false, false, false, 28},
        {UserInterfaceIdiom::Phone, 320, 480, 1, true, true, false, false, false, false, 28},
        {UserInterfaceIdiom::Pad, 768, 1024, 2, false, false, true, false, false, false, 41},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.height << "@" << row.scale);
        device(row.idiom, row.width, row.height, row.scale);
        EXPECT_EQ(launch::isDeviceiPhone(), row.phone);
        EXPECT_EQ(launch::isDeviceiPhone4(), row.phone4);
        EXPECT_EQ(launch::isDeviceRetina(), row.retina);
        EXPECT_EQ(launch::isDeviceiPhone5(), row.phone5);
        EXPECT_EQ(launch::isDeviceiPhone6(), row.phone6);
        EXPECT_EQ(launch::isDeviceiPhone6Plus(), row.phone6Plus);
        EXPECT_EQ(launch::progressOffsetForCurrentDevice(), row.offset);
    }
}

TEST_F(LaunchImageTest, HeightIsReadAtEachCall) {
    device(UserInterfaceIdiom::Phone, 375, 667, 2);
    EXPECT_EQ(launch::progressOffsetForCurrentDevice(), 39);
    // In landscape the screen reports 375 points of height: a small phone's rows.
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(launch::progressOffsetForCurrentDevice(), 28);
}

}  // namespace
