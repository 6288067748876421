#include "libmerovane/containers/MVViewControllerHierarchy.h"

#include <algorithm>
#include <map>

#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/containers/MVBackgroundMenuController.h"
#include "libmerovane/containers/MVTabController.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/View.h"

namespace {

using Controller = MVViewControllerHierarchy::Controller;
using Factory = MVViewControllerHierarchy::Factory;
using StyleGetter = std::shared_ptr<MVStatusBarStyle> (*)();

constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;

// Stands in for a container class that is not installed: content, insets and status-bar
// questions pass through; without content it answers its fallback style.
class PassThroughContainer : public MVContainerViewController {
  public:
    static std::shared_ptr<PassThroughContainer> create(StyleGetter fallback) {
        return std::shared_ptr<PassThroughContainer>(new PassThroughContainer(fallback));
    }

  protected:
    std::shared_ptr<MVStatusBarStyle> fallbackStatusBarStyle() const override {
        return fallback_();
    }

  private:
    explicit PassThroughContainer(StyleGetter fallback) : fallback_(fallback) {}
    StyleGetter fallback_;
};

// The container classes of the chain by name, with the fallback style of each.
struct ContainerClass {
    const char* name;
    StyleGetter fallback;
};
constexpr ContainerClass kContainerClasses[] = {
    {"MVSplashScreenController", &MVStatusBarStyle::statusBarStyleDark},
    {"MVNotificationController", &MVStatusBarStyle::statusBarStyleAppDefault},
    {"MVScannerViewController", &MVStatusBarStyle::statusBarStyleAppDefault},
    {"MVBackgroundMenuController", &MVStatusBarStyle::statusBarStyleAppDefault},
    {"MVMenuBarController", &MVStatusBarStyle::statusBarStyleAppDefault},
    {"MVTabController", &MVStatusBarStyle::statusBarStyleAppDefault},
};

Factory placeholder(const ContainerClass& containerClass) {
    return [fallback = containerClass.fallback] { return PassThroughContainer::create(fallback); };
}

std::map<std::string, Factory>& factories() {
    static auto* table = [] {
        auto* created = new std::map<std::string, Factory>;
        auto fill = [created] {
            created->clear();
            for (const auto& containerClass : kContainerClasses)
                (*created)[containerClass.name] = placeholder(containerClass);
            (*created)["MVTabController"] = [] { return MVTabController::create(); };
            (*created)["MVBackgroundMenuController"] = [] {
                return MVBackgroundMenuController::create();
            };
        };
        fill();
        platform::registerSharedInstanceReset("MVViewControllerHierarchy", fill);
        return created;
    }();
    return *table;
}

}  // namespace

std::shared_ptr<MVViewControllerHierarchy> MVViewControllerHierarchy::hierarchyWithControllers(
    const std::vector<ControllerInfo>& infos) {
    std::vector<Controller> stack;
    stack.reserve(infos.size());
    Controller previous;
    for (const auto& info : infos) {
        Controller controller = info.factory();
        stack.push_back(controller);
        if (info.configuration) info.configuration(controller);
        if (previous) {
            if (auto* container = dynamic_cast<MVViewControllerHierarchization*>(previous.get()))
                container->setContentViewController(controller);
            else
                MVLogError("MVViewControllerHierarchy: container {} takes no content",
                           stack.size() - 2);
            const auto& view = controller->view();
            view->setAutoresizesSubviews(true);
            view->setAutoresizingMask(kFlexibleSize);
            view->setFrame(previous->view()->bounds());
            previous->addChildViewController(controller);
        }
        previous = std::move(controller);
    }
    return std::make_shared<MVViewControllerHierarchy>(std::move(stack));
}

std::shared_ptr<platform::View> MVViewControllerHierarchy::view() const {
    return viewControllers_.empty() ? nullptr : viewControllers_.front()->view();
}

Controller MVViewControllerHierarchy::lastViewController() const {
    return viewControllers_.empty() ? nullptr : viewControllers_.back();
}

void MVViewControllerHierarchy::install() {
    setBuilder([](const std::vector<MVViewControllerInfo>& controllers)
                   -> std::shared_ptr<MVViewControllerHierarchyInterface> {
        std::vector<ControllerInfo> infos;
        infos.reserve(controllers.size());
        for (const auto& controller : controllers) {
            auto factory = containerClass(controller.className);
            if (!factory) {
                MVLogError("MVViewControllerHierarchy: no container class \"{}\"",
                           controller.className);
                return nullptr;
            }
            infos.push_back({std::move(factory), controller.configuration});
        }
        return hierarchyWithControllers(infos);
    });
}

void MVViewControllerHierarchy::installContainerClass(const std::string& className,
                                                      Factory factory) {
    auto known = std::find_if(std::begin(kContainerClasses), std::end(kContainerClasses),
                              [&](const ContainerClass& c) { return className == c.name; });
    if (known == std::end(kContainerClasses)) {
        MVLogWarn("MVViewControllerHierarchy: \"{}\" is no container class of the chain",
                  className);
        return;
    }
    factories()[className] = factory ? std::move(factory) : placeholder(*known);
}

Factory MVViewControllerHierarchy::containerClass(const std::string& className) {
    auto& table = factories();
    auto found = table.find(className);
    return found == table.end() ? Factory() : found->second;
}

platform::EdgeInsets MVViewControllerHierarchy::statusBarInsets(
    const platform::Rect& statusBarFrame) {
    platform::EdgeInsets insets;
    insets.top = std::min(statusBarFrame.size.width, statusBarFrame.size.height);
    return insets;
}
