#include "libmerovane/bridge/MVNavigationControllerInterface.h"

#include "platform/ui/ViewController.h"

std::shared_ptr<MVNavigationControllerInterface>
MVNavigationControllerInterface::navigationControllerOf(
    const platform::ViewController& viewController) {
    for (auto parent = viewController.parentViewController(); parent;
         parent = parent->parentViewController()) {
        if (auto stack = std::dynamic_pointer_cast<MVNavigationControllerInterface>(parent)) {
            return stack;
        }
    }
    return nullptr;
}
