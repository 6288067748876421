#pragma once
// The builder of the chain of containers, outermost first, each the content and a child
// of the one before; the first container's view is left as it was made (the window
// sizes it), every later one fills its predecessor's bounds and resizes with it.
//
//   MVViewControllerHierarchy::install();   // start-up: the host's chain is built here
//   MVViewControllerHierarchy::installContainerClass("MVSplashScreenController",
//       [] { return MVSplashScreenController::create(); });   // a higher folder's class
//
// The chain knows its container classes by name from one table; until a class is
// installed under its name, a pass-through container stands in for it.
// Main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "libmerovane/containers/MVContainerViewController.h"
#include "libmerovane/core/MVViewControllerHierarchyInterface.h"
#include "platform/foundation/Geometry.h"

class MVViewControllerHierarchy : public MVViewControllerHierarchyInterface {
  public:
    using Controller = std::shared_ptr<platform::ViewController>;
    using Factory = std::function<Controller()>;
    struct ControllerInfo {
        Factory factory;
        std::function<void(const Controller& controller)> configuration;  // may be empty
    };

    // Builds the chain at once.
    static std::shared_ptr<MVViewControllerHierarchy> hierarchyWithControllers(
        const std::vector<ControllerInfo>& infos);
    explicit MVViewControllerHierarchy(std::vector<Controller> viewControllers)
        : viewControllers_(std::move(viewControllers)) {}

    std::vector<Controller> viewControllers() const override { return viewControllers_; }
    // The first container's view; null for an empty hierarchy.
    std::shared_ptr<platform::View> view() const;
    // The innermost container; null for an empty hierarchy.
    Controller lastViewController() const;

    // Installs the builder of chains from class names.
    static void install();
    // Makes the factory the class of that name from now on; an empty factory brings the
    // pass-through container back. A name the chain does not know is logged and ignored.
    static void installContainerClass(const std::string& className, Factory factory);
    // The class installed under the name; empty for a name the chain does not know.
    static Factory containerClass(const std::string& className);

    // The menu bar's first insets: the status bar's thickness on top in either
    // orientation (the smaller side of its frame), nothing elsewhere.
    static platform::EdgeInsets statusBarInsets(const platform::Rect& statusBarFrame);

  private:
    std::vector<Controller> viewControllers_;
};
