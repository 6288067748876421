#include "platform/ui/ActivityViewController.h"

#include "platform/ui/Device.h"

namespace platform {

std::shared_ptr<ActivityViewController> ActivityViewController::create(
    std::vector<ActivityItem> items) {
    return std::shared_ptr<ActivityViewController>(new ActivityViewController(std::move(items)));
}

ActivityViewController::ActivityViewController(std::vector<ActivityItem> items)
    : items_(std::move(items)) {
    const bool pad = Device::current().userInterfaceIdiom() == UserInterfaceIdiom::Pad;
    style_ = pad ? ModalPresentationStyle::Popover : ModalPresentationStyle::FullScreen;
    if (pad) popover_ = std::make_shared<PopoverPresentationController>();
}

}  // namespace platform
