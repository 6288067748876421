#pragma once
// One page of a background menu: its web view, the speed factor its openings and
// cross-fade use, its measured size and the parameters its page receives once rendered.
//
//   auto menu = MVBackgroundMenu::backgroundMenuForController(*controllerView, delegate, 2.0);
//   menu->menuWebView->openUrl(url);
//
// Main thread only.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>

#include "platform/foundation/Geometry.h"

class MVWebView;
class MVWebViewDelegate;

namespace platform {
class View;
}

struct MVBackgroundMenu {
    static constexpr const char* kDebugName = "BackgroundMenu";

    // A menu whose web view has the bounds of the controller's view, resizes with it, is
    // transparent until the exchange shows it and reports to `delegate`.
    static std::shared_ptr<MVBackgroundMenu> backgroundMenuForController(
        const platform::View& controllerView, std::weak_ptr<MVWebViewDelegate> delegate,
        std::optional<double> speedFactor);

    std::shared_ptr<MVWebView> menuWebView;
    std::optional<double> speedFactor;
    // None until measured.
    std::optional<platform::Size> menuViewSize;
    // A dictionary, or null.
    std::shared_ptr<const nlohmann::json> menuParams;
};
