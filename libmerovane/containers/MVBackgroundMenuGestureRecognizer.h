#pragma once
// A gesture that drags a background menu open or closed, attached to the menu's
// controller by type name ("screenEdge"). The recognizer turns the finger's movement into
// a fraction (0 closed, 1 open) and, when the finger lifts, a velocity; the controller
// (MVBackgroundMenuGestureRecognizing) moves the menu.
//
//   auto recognizer = MVBackgroundMenuGestureRecognizer::recognizerWithType("screenEdge");
//   controller->setMenuGestureRecognizer(recognizer);   // null for a name not registered
//
// A recognizer is attached to at most one controller and holds it weakly. The registry of
// types is built once, on first use, from the registration list: a class that does not
// name its type itself, or two with one name, are programming errors that throw.
// Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/containers/MVBackgroundMenuAnimationClass.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentClass.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationHost.h"
#include "platform/foundation/Geometry.h"

class MVBackgroundMenuAnimation;

MV_BACKGROUND_MENU_ANIMATION_EXCEPTION(MVBackgroundMenuGestureRecognizerTypeNotFoundException);
MV_BACKGROUND_MENU_ANIMATION_EXCEPTION(MVBackgroundMenuGestureRecognizerTypeGivenTwiceException);

// What a recognizer needs of the controller it is attached to: the animation host's views
// and properties, how far the menu is open, and the gesture's feed.
class MVBackgroundMenuGestureRecognizing : public MVBackgroundMenuAnimationHost {
  public:
    virtual double currentFraction() const = 0;
    // The current menu's measured size.
    virtual platform::Size menuViewSize() = 0;
    // The edge of the animation in use, else of the default animation; none without.
    virtual MVBackgroundMenuPresentationEdge backgroundMenuPresentationEdge() const = 0;
    // Each gesture step: how far the finger has dragged the menu open.
    virtual void fraction(double fraction) = 0;
    // The finger lifted; points per second, positive in the opening direction.
    virtual void didEndGestureWithVelocity(double velocity) = 0;
};

class MVBackgroundMenuGestureRecognizer
    : public std::enable_shared_from_this<MVBackgroundMenuGestureRecognizer> {
  public:
    virtual ~MVBackgroundMenuGestureRecognizer() = default;
    MVBackgroundMenuGestureRecognizer(const MVBackgroundMenuGestureRecognizer&) = delete;
    MVBackgroundMenuGestureRecognizer& operator=(const MVBackgroundMenuGestureRecognizer&) = delete;

    // A new recognizer of the type registered under the name; null for another name.
    static std::shared_ptr<MVBackgroundMenuGestureRecognizer> recognizerWithType(
        std::string_view type);
    // The type name of the recognizer's class.
    virtual const char* recognizerType() const = 0;

    std::shared_ptr<MVBackgroundMenuGestureRecognizing> backgroundMenuController() const {
        return controller_.lock();
    }
    // Read from the controller: 0, a zero size, null and none without one.
    double currentFraction() const;
    platform::Size menuViewSize() const;
    std::shared_ptr<const nlohmann::json> currentViewProperties() const;
    MVBackgroundMenuPresentationEdge backgroundMenuPresentationEdge() const;

    // Called by the controller. Adding stores the controller first; removing clears it
    // first, so that what the removal sets off finds no controller.
    void wasAddedToBackgroundMenuController(
        const std::shared_ptr<MVBackgroundMenuGestureRecognizing>& controller,
        const std::shared_ptr<MVBackgroundMenuAnimation>& animation);
    void wasRemovedFromBackgroundMenuController(
        const std::shared_ptr<MVBackgroundMenuGestureRecognizing>& controller);
    void backgroundMenuControllerUsesAnimation(
        const MVBackgroundMenuGestureRecognizing& controller,
        const std::shared_ptr<MVBackgroundMenuAnimation>& animation);

  protected:
    MVBackgroundMenuGestureRecognizer() = default;

    // What types do when added and removed; nothing in the base.
    virtual void didAddToBackgroundMenuController(
        MVBackgroundMenuGestureRecognizing& controller,
        const std::shared_ptr<MVBackgroundMenuAnimation>& animation) {}
    virtual void willBeRemovedFromBackgroundController(
        MVBackgroundMenuGestureRecognizing& controller) {}
    // The controller uses another animation; nothing in the base and the screen edge.
    virtual void backgroundMenuControllerDidChangeBackgroundMenuAnimation() {}

  private:
    std::weak_ptr<MVBackgroundMenuGestureRecognizing> controller_;
};

// A recognizer type's class, as a value: its name, the type name it defines itself (none:
// inherited, which the registry refuses) and how to make one.
struct MVBackgroundMenuGestureRecognizerClass {
    std::string name;
    std::optional<std::string> ownRecognizerType;
    std::function<std::shared_ptr<MVBackgroundMenuGestureRecognizer>()> create;
};

class MVBackgroundMenuGestureRecognizerRegistry {
  public:
    using Types = std::map<std::string, const MVBackgroundMenuGestureRecognizerClass*, std::less<>>;

    // The recognizer types by name, built from registeredClasses() on first use.
    static const Types& backgroundMenuGestureRecognizers();
    static const MVBackgroundMenuGestureRecognizerClass* classForType(std::string_view type);

    // Every descendant of the base class, in registration order.
    static const std::vector<const MVBackgroundMenuGestureRecognizerClass*>& registeredClasses();
    // The registry of `classes`. Throws MVBackgroundMenuGestureRecognizerTypeNotFoundException
    // for a class without a type name of its own and
    // MVBackgroundMenuGestureRecognizerTypeGivenTwiceException for a name already entered.
    static Types typesOfClasses(
        const std::vector<const MVBackgroundMenuGestureRecognizerClass*>& classes);
};
