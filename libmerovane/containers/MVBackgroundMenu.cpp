#include "libmerovane/containers/MVBackgroundMenu.h"

#include "libmerovane/bridge/MVWebView.h"

std::shared_ptr<MVBackgroundMenu> MVBackgroundMenu::backgroundMenuForController(
    const platform::View& controllerView, std::weak_ptr<MVWebViewDelegate> delegate,
    std::optional<double> speedFactor) {
    auto menu = std::make_shared<MVBackgroundMenu>();
    menu->menuWebView = MVWebView::create(controllerView.bounds());
    menu->menuWebView->setDelegate(std::move(delegate));
    menu->menuWebView->setAutoresizingMask(platform::kAutoresizingFlexibleWidth |
                                           platform::kAutoresizingFlexibleHeight);
    menu->menuWebView->setAlpha(0);
    menu->menuWebView->setDebugName(kDebugName);
    menu->speedFactor = speedFactor;
    return menu;
}
