#pragma once
// The smallest piece of a background menu's presentation: for a fraction (0 closed, 1
// open, beyond while a gesture stretches the menu) it sets the frame or the shading of
// one view of the controller, the menu view or the content container. Presentation types
// list their fragments by class name; the animation makes one of each for its controller
// (MVBackgroundMenuAnimationFragments.h) and applies them in list order.
//
// Fragments hold their controller weakly: once it has gone its views read as null and
// applying a fraction does nothing. Main thread only.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string_view>

#include "libmerovane/containers/MVBackgroundMenuAnimationHost.h"
#include "platform/foundation/Exception.h"

class MVBackgroundMenuAnimation;
class MVWebViewInterface;

// The programming errors of background menu animations, each a named exception of its own.
#define MV_BACKGROUND_MENU_ANIMATION_EXCEPTION(Name) \
    class Name : public platform::Exception {        \
      public:                                        \
        using platform::Exception::Exception;        \
    }
MV_BACKGROUND_MENU_ANIMATION_EXCEPTION(MVBackgroundMenuAnimationFragmentInitException);
MV_BACKGROUND_MENU_ANIMATION_EXCEPTION(MVBackgroundMenuAnimationBaseClassAnimationException);

class MVBackgroundMenuAnimationFragmentClass {
  public:
    static constexpr const char* kClassName = "MVBackgroundMenuAnimationFragmentClass";

    // A fragment for the controller (the only way to make one); applying the base
    // class's throws.
    explicit MVBackgroundMenuAnimationFragmentClass(
        std::weak_ptr<MVBackgroundMenuAnimationHost> controller)
        : controller_(std::move(controller)) {}
    // Plain creation of a fragment of the class named is refused: fragments exist only for
    // a controller. Throws MVBackgroundMenuAnimationFragmentInitException naming the class.
    [[noreturn]] static void init(std::string_view className);

    virtual ~MVBackgroundMenuAnimationFragmentClass() = default;
    MVBackgroundMenuAnimationFragmentClass(const MVBackgroundMenuAnimationFragmentClass&) = delete;
    MVBackgroundMenuAnimationFragmentClass& operator=(
        const MVBackgroundMenuAnimationFragmentClass&) = delete;

    virtual const char* className() const { return kClassName; }

    // Sets the fragment's view for the fraction; `final` marks the end of a run. The base
    // class throws MVBackgroundMenuAnimationBaseClassAnimationException.
    virtual void fractionState(double fraction, bool final);
    // The menu page's view properties changed while the menu was closed.
    virtual void menuWebViewDidChangeViewProperties(MVWebViewInterface& webView,
                                                    const nlohmann::json& viewProperties,
                                                    double currentFraction,
                                                    MVBackgroundMenuAnimation& animation) {}
    // Before a run that starts from the closed menu.
    virtual void willBeginAnimation() {}
    void didEndAnimation() {}

    // Read from the controller: null, false or null once it has gone.
    std::shared_ptr<MVBackgroundMenuAnimationHost> backgroundMenuController() const {
        return controller_.lock();
    }
    std::shared_ptr<platform::View> menuView() const;
    std::shared_ptr<platform::View> contentContainerView() const;
    bool isMenuVisible() const;
    std::shared_ptr<const nlohmann::json> currentViewProperties() const;

  private:
    std::weak_ptr<MVBackgroundMenuAnimationHost> controller_;
};
