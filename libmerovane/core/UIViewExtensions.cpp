#include "libmerovane/core/UIViewExtensions.h"

#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

std::shared_ptr<platform::ViewController> firstAvailableUIViewController(
    const platform::View& view) {
    for (platform::Responder* r = view.nextResponder(); r; r = r->nextResponder()) {
        if (auto* controller = dynamic_cast<platform::ViewController*>(r))
            return controller->weak_from_this().lock();
        if (!dynamic_cast<platform::View*>(r)) return nullptr;
    }
    return nullptr;
}

std::shared_ptr<platform::ViewController> firstAvailableUIViewControllerRecursive(
    const platform::View& view) {
    if (auto found = firstAvailableUIViewController(view)) return found;
    auto superview = view.superview();
    return superview ? firstAvailableUIViewControllerRecursive(*superview) : nullptr;
}
