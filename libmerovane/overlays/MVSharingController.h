#pragma once
// Shares an item: loads its image (with the library's user agent), then presents the
// platform's share sheet with the title, the image and the deep link, each only when
// there is one, and a fixed list of activity types left out. On a pad the sheet points
// at the rectangle in the source view when the rectangle is not empty and lies within
// the window's bounds; otherwise it is a popover at the window's centre.
//
//   MVSharingController::install();   // start-up: "shareItem" makes these from now on
//   MVSharingController::create()->shareItemWithTitle(title, imageURL, deepLink, webView);
//
// A controller holds nothing: each share is carried by its own callbacks, so the
// controller may go at once. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/core/MVSharingControllerInterface.h"
#include "platform/foundation/Error.h"
#include "platform/ui/Image.h"

class MVSharingController : public MVSharingControllerInterface {
  public:
    using WhenLoaded =
        std::function<void(std::optional<platform::Image> image, std::optional<platform::Error>)>;

    // A download larger than this is no image.
    static constexpr size_t kMaximumImageBytes = 16 * 1024 * 1024;

    // Installs the factory of sharing controllers the commands use.
    static void install();
    static std::shared_ptr<MVSharingController> create();

    using MVSharingControllerInterface::shareItemWithTitle;
    void shareItemWithTitle(const std::string& title, const std::string& imageURL,
                            const std::string& deepLink, const platform::Rect& sourceRect,
                            const std::shared_ptr<platform::View>& sourceView) override;

    // Loads the image; the callback runs on the main loop, never inside the call, with
    // the image (none when the load failed or gave no image) and the load's error.
    static void loadImageForURL(const std::string& url, WhenLoaded whenLoaded);

    // The activity types left out on this system version, in order.
    static std::vector<std::string> excludedActivityTypes();
};
