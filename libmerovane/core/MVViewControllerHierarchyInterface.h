#pragma once
// The chain of container view controllers that the host builds at launch, outermost
// first, each the content of the one before: splash screen, notifications, scanner,
// background menus, menu bar, tab controller. The containers install the builder that
// knows the container classes by name; until then no hierarchy can be built.
//
//   auto hierarchy = MVViewControllerHierarchyInterface::hierarchyWithControllers({
//       {"MVBackgroundMenuController", [](const auto& controller) { ... }},
//       {"MVTabController", nullptr},
//   });
//   window->setRootViewController(hierarchy->viewControllers().front());
//
// Main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class ViewController;
}

// One container of the chain: its class name ("MVTabController") and an optional
// configuration run on the new instance.
struct MVViewControllerInfo {
    std::string className;
    std::function<void(const std::shared_ptr<platform::ViewController>& controller)> configuration;
};

class MVViewControllerHierarchyInterface {
  public:
    using Builder = std::function<std::shared_ptr<MVViewControllerHierarchyInterface>(
        const std::vector<MVViewControllerInfo>& controllers)>;

    virtual ~MVViewControllerHierarchyInterface() = default;

    // The containers, outermost first; the first becomes the window's root.
    virtual std::vector<std::shared_ptr<platform::ViewController>> viewControllers() const = 0;

    // A new hierarchy of chained containers, by the installed builder; null without one.
    static std::shared_ptr<MVViewControllerHierarchyInterface> hierarchyWithControllers(
        const std::vector<MVViewControllerInfo>& controllers);
    // An empty builder removes it.
    static void setBuilder(Builder builder);
};
