#include "libmerovane/overlays/MVSharingController.h"

#include <nlohmann/json.hpp>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URLConnection.h"
#include "platform/foundation/URLErrors.h"
#include "platform/ui/ActivityViewController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/PopoverController.h"
#include "platform/ui/Window.h"

namespace {

constexpr const char* kActivityTypePrint = "com.apple.UIKit.activity.Print";
constexpr const char* kActivityTypeAirDrop = "com.apple.UIKit.activity.AirDrop";
constexpr const char* kActivityTypeAssignToContact = "com.apple.UIKit.activity.AssignToContact";
constexpr const char* kActivityTypeAddToReadingList = "com.apple.UIKit.activity.AddToReadingList";
constexpr const char* kActivityTypePostToWeibo = "com.apple.UIKit.activity.PostToWeibo";
constexpr const char* kActivityTypeSaveToCameraRoll = "com.apple.UIKit.activity.SaveToCameraRoll";
constexpr const char* kActivityTypePostToFlickr = "com.apple.UIKit.activity.PostToFlickr";
constexpr const char* kActivityTypePostToVimeo = "com.apple.UIKit.activity.PostToVimeo";
constexpr const char* kActivityTypePostToTencentWeibo =
    "com.apple.UIKit.activity.PostToTencentWeibo";

struct ImageLoad {
    std::string data;
    bool tooLarge = false;
};

void presentSheet(const std::string& title, const std::optional<platform::Image>& image,
                  const std::string& deepLink, const platform::Rect& sourceRect,
                  const std::weak_ptr<platform::View>& weakSourceView) {
    auto window = applicationWindow(platform::Application::shared());
    if (!window) {
        MVLogWarn("MVSharingController has no window to share from");
        return;
    }
    std::vector<platform::ActivityItem> items;
    if (!title.empty()) items.emplace_back(title);
    if (image) items.emplace_back(*image);
    if (!deepLink.empty()) items.emplace_back(deepLink);
    auto sheet = platform::ActivityViewController::create(std::move(items));
    sheet->setExcludedActivityTypes(MVSharingController::excludedActivityTypes());

    if (platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Pad) {
        auto sourceView = weakSourceView.lock();
        const auto& popover = sheet->popoverPresentationController();
        if (window->bounds().contains(sourceRect) && popover && sourceView &&
            sourceRect != platform::Rect()) {
            popover->setSourceView(sourceView);
            popover->setSourceRect(sourceRect);
        } else {
            // No anchor: a popover at the window's centre is the one presentation.
            sheet->setModalPresentationStyle(platform::ModalPresentationStyle::Custom);
            const platform::Rect frame = window->frame();
            auto centred = platform::PopoverController::create(sheet);
            centred->presentFromRect(
                platform::Rect(frame.size.width / 2, frame.size.height / 2, 0, 0), window, 0, true);
            return;
        }
    }
    if (auto root = window->rootViewController()) root->presentViewController(sheet, true);
}

}  // namespace

void MVSharingController::install() {
    setFactory([] { return create(); });
}

std::shared_ptr<MVSharingController> MVSharingController::create() {
    return std::make_shared<MVSharingController>();
}

std::vector<std::string> MVSharingController::excludedActivityTypes() {
    if (systemVersionEqualOrAbove(UISystemVersionMake(7, 0, 0)))
        return {kActivityTypePrint,
                kActivityTypeAirDrop,
                kActivityTypeAssignToContact,
                kActivityTypeAddToReadingList,
                kActivityTypePostToWeibo,
                kActivityTypeSaveToCameraRoll,
                kActivityTypePostToFlickr,
                kActivityTypePostToVimeo,
                kActivityTypePostToTencentWeibo};
    return {kActivityTypePrint, kActivityTypeAssignToContact, kActivityTypePostToWeibo};
}

void MVSharingController::shareItemWithTitle(const std::string& title, const std::string& imageURL,
                                             const std::string& deepLink,
                                             const platform::Rect& sourceRect,
                                             const std::shared_ptr<platform::View>& sourceView) {
    std::weak_ptr<platform::View> weakSourceView = sourceView;
    loadImageForURL(imageURL,
                    [title, deepLink, sourceRect, weakSourceView](
                        std::optional<platform::Image> image, std::optional<platform::Error>) {
                        presentSheet(title, image, deepLink, sourceRect, weakSourceView);
                    });
}

void MVSharingController::loadImageForURL(const std::string& url, WhenLoaded whenLoaded) {
    auto parsed = platform::URL::parse(url);
    if (!parsed) {
        platform::RunLoop::main().post([whenLoaded = std::move(whenLoaded), url] {
            whenLoaded(std::nullopt, platform::makeURLError(platform::kURLErrorBadURL, url));
        });
        return;
    }
    platform::URLRequest request(std::move(*parsed));
    request.setValue(MVLibraryApplication::sharedLibrary().userAgentString(), "User-Agent");
    auto load = std::make_shared<ImageLoad>();
    auto done = std::make_shared<WhenLoaded>(std::move(whenLoaded));
    platform::URLConnectionCallbacks callbacks;
    callbacks.didReceiveData = [load](const std::vector<uint8_t>& data) {
        if (load->tooLarge) return;
        if (load->data.size() + data.size() > kMaximumImageBytes) {
            load->tooLarge = true;
            load->data.clear();
            return;
        }
        load->data.append(data.begin(), data.end());
    };
    callbacks.didFinishLoading = [load, done] {
        (*done)(platform::Image::decode(load->data), std::nullopt);
    };
    callbacks.didFailWithError = [done](const platform::Error& error) {
        (*done)(std::nullopt, error);
    };
    platform::URLConnection::start(std::move(request), std::move(callbacks),
                                   platform::RunLoop::main());
}
