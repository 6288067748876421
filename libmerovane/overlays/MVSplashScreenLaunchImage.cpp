#include "libmerovane/overlays/MVSplashScreenLaunchImage.h"

#include <atomic>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/RegularFile.h"
#include "platform/ui/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"

namespace MVSplashScreenLaunchImage {

namespace {

// Launch images are screen-sized; this bounds what a planted file can make us read.
constexpr size_t kMaxImageBytes = 32u << 20;
constexpr double kPhone4Height = 480;
constexpr double kPhone6Height = 660;
constexpr double kPhone6PlusScale = 2.9;

std::atomic<size_t> imageLookups{0};

double screenHeight() {
    return platform::Screen::main().bounds().height();
}

platform::UserInterfaceIdiom idiom() {
    return platform::Device::current().userInterfaceIdiom();
}

// A device that reports an idiom other than the phone's.
bool reportsOtherIdiom() {
    const auto i = idiom();
    return i != platform::UserInterfaceIdiom::Phone &&
           i != platform::UserInterfaceIdiom::Unspecified;
}

// The tried name when its image has a width, else the alternative.
std::string tryName(size_t tried, size_t alternative) {
    auto image = imageNamed(kLaunchImageNames[tried]);
    return image && image->width() > 0 ? kLaunchImageNames[tried] : kLaunchImageNames[alternative];
}

}  // namespace

std::shared_ptr<const platform::Image> imageNamed(const std::string& name) {
    ++imageLookups;
    auto path = platform::Bundle::main().pathForResource(name, "");
    if (!path) return nullptr;
    std::string whyNot;
    auto bytes = platform::readRegularFile(*path, kMaxImageBytes, &whyNot);
    if (!bytes) {
        MVLogWarn("Image {} could not be read: {}", name, whyNot);
        return nullptr;
    }
    double scale = 1;
    if (name.find("@2x") != std::string::npos) scale = 2;
    if (name.find("@3x") != std::string::npos) scale = 3;
    auto image = platform::Image::decode(*bytes, scale);
    if (!image) return nullptr;
    return std::make_shared<const platform::Image>(std::move(*image));
}

size_t imageLookupCountForTesting() {
    return imageLookups.load();
}

bool isDeviceiPhone() {
    const auto i = idiom();
    return i == platform::UserInterfaceIdiom::Phone ||
           i == platform::UserInterfaceIdiom::Unspecified;
}

bool isDeviceiPhone4() {
    return screenHeight() == kPhone4Height;
}

// Every screen here drives display links; the scale alone decides.
bool isDeviceRetina() {
    return platform::Screen::main().scale() == 2.0;
}

bool isDeviceiPhone5() {
    return !reportsOtherIdiom() && screenHeight() > kPhone4Height;
}

bool isDeviceiPhone6() {
    return !reportsOtherIdiom() && screenHeight() > kPhone6Height;
}

bool isDeviceiPhone6Plus() {
    return !reportsOtherIdiom() && screenHeight() > kPhone6Height &&
           platform::Screen::main().scale() > kPhone6PlusScale;
}

std::string launchImageName() {
    if (isDeviceiPhone()) {
        if (isDeviceiPhone4() && isDeviceRetina()) return tryName(1, 2);
        if (!isDeviceiPhone5()) return kLaunchImageNames[0];
        return tryName(3, 4);
    }
    const auto orientation = platform::Device::current().orientation();
    const bool portrait = orientation == platform::DeviceOrientation::Portrait ||
                          orientation == platform::DeviceOrientation::PortraitUpsideDown;
    if (portrait) return isDeviceRetina() ? tryName(5, 6) : tryName(7, 8);
    return isDeviceRetina() ? tryName(9, 10) : tryName(11, 12);
}

std::shared_ptr<const platform::Image> launchImage() {
    return imageNamed(launchImageName());
}

double progressOffsetForCurrentDevice() {
    if (!isDeviceiPhone()) return 41;
    if (isDeviceiPhone6Plus()) return 43;
    if (isDeviceiPhone6()) return 39;
    if (isDeviceiPhone5()) return 33;
    return 28;
}

}  // namespace MVSplashScreenLaunchImage
