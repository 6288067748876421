#pragma once
// The launch image the splash screen shows until its page has rendered, chosen as the
// platform chose the picture it showed while the application started (device kind,
// screen height, scale and, on tablets, orientation), and the per-device offset the
// splash page's progress indicator keeps from the bottom edge.
//
//   auto image = MVSplashScreenLaunchImage::launchImage();        // null without one
//   double y = height - MVSplashScreenLaunchImage::progressOffsetForCurrentDevice();
//
// Nothing is stored: the screen is read at each call. Main thread only.

#include <array>
#include <memory>
#include <string>

namespace platform {
class Image;
}

namespace MVSplashScreenLaunchImage {

// The candidate names; the choice refers to their indices.
inline constexpr std::array<const char*, 13> kLaunchImageNames = {
    "Default.png",
    "Default@2x.png",
    "Default-700@2x.png",
    "Default-568h@2x.png",
    "Default-700-568h@2x.png",
    "Default-700-Portrait@2x~ipad.png",
    "Default-Portrait@2x~ipad.png",
    "Default-700-Portrait~ipad.png",
    "Default-Portrait~ipad.png",
    "Default-Landscape@2x~ipad.png",
    "Default-700-Landscape@2x~ipad.png",
    "Default-Landscape~ipad.png",
    "Default-700-Landscape~ipad.png",
};

// The image of launchImageName() from the main bundle; null when there is none.
std::shared_ptr<const platform::Image> launchImage();
std::string launchImageName();
// In points.
double progressOffsetForCurrentDevice();

bool isDeviceiPhone();
bool isDeviceiPhone4();
bool isDeviceRetina();
bool isDeviceiPhone5();
bool isDeviceiPhone6();
bool isDeviceiPhone6Plus();

// The main bundle's image of that name, or null: a regular file of bounded size that
// decodes; "@2x" and "@3x" in the name give its scale.
std::shared_ptr<const platform::Image> imageNamed(const std::string& name);
// How many named images were looked up since the process started; for tests.
size_t imageLookupCountForTesting();

}  // namespace MVSplashScreenLaunchImage
