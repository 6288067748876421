#pragma once
// What the commands need of the share sheet: a sharing controller, made new for each
// share, that loads the item's image and then presents the platform's share sheet. The
// overlays install the factory; until then controllers share nothing.
//
//   auto sharing = MVSharingControllerInterface::sharingController();
//   sharing->shareItemWithTitle(title, imageURL, deepLink, webView);
//
// Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/Geometry.h"

namespace platform {
class View;
}

class MVSharingControllerInterface {
  public:
    using Factory = std::function<std::shared_ptr<MVSharingControllerInterface>()>;

    virtual ~MVSharingControllerInterface() = default;

    // Loads the image, then shares title, image and deep link. On a tablet the sheet's
    // popover points at the rectangle in the source view when the rectangle is not empty
    // and lies within the window's bounds and there is a view (rectangles arrive as
    // sent: negative, infinite and huge ones too); otherwise at the window's centre.
    virtual void shareItemWithTitle(const std::string& title, const std::string& imageURL,
                                    const std::string& deepLink, const platform::Rect& sourceRect,
                                    const std::shared_ptr<platform::View>& sourceView) = 0;
    // The same with the empty rectangle.
    void shareItemWithTitle(const std::string& title, const std::string& imageURL,
                            const std::string& deepLink,
                            const std::shared_ptr<platform::View>& sourceView) {
        shareItemWithTitle(title, imageURL, deepLink, platform::Rect(), sourceView);
    }

    // A new controller: the installed factory's, else one that shares nothing.
    static std::shared_ptr<MVSharingControllerInterface> sharingController();
    // An empty factory restores controllers that share nothing.
    static void setFactory(Factory factory);
};
