#pragma once
// The six presentation types of a background menu and the registry that finds them by
// name ("pushInFromLeft" ...), which the background menu controller answers as its
// backgroundMenuAnimations.
//
//   const MVBackgroundMenuAnimationClass* cls =
//       MVBackgroundMenuAnimationRegistry::classForType("foregroundLeft");
//
// The registry is built once, on first use, from the registration list: every
// descendant of the base class that names a type enters under that name. A descendant
// that inherits its type name, or two with one name, are programming errors that throw.
// Main thread only.

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/containers/MVBackgroundMenuAnimationClass.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentClass.h"

MV_BACKGROUND_MENU_ANIMATION_EXCEPTION(MVBackgroundMenuAnimationTypeNotFoundException);
MV_BACKGROUND_MENU_ANIMATION_EXCEPTION(MVBackgroundMenuAnimationTypeGivenTwiceException);

// "pushInFromLeft": the menu pushes the content to the right.
const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationPushingRight();
// "pushInFromRight": the menu pushes the content to the left.
const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationPushingLeft();
// "foregroundLeft", "foregroundRight": the menu slides in over the darkening content.
const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationForegroundLeft();
const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationForegroundRight();
// "backgroundLeft", "backgroundRight": the content slides away from the menu behind it.
const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationBackgroundLeft();
const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationBackgroundRight();

class MVBackgroundMenuAnimationRegistry {
  public:
    using Types = std::map<std::string, const MVBackgroundMenuAnimationClass*, std::less<>>;

    // The presentation types by name, built from registeredClasses() on first use.
    static const Types& backgroundMenuAnimations();
    // The class registered under the name, or null.
    static const MVBackgroundMenuAnimationClass* classForType(std::string_view type);

    // Every descendant of the base class, in registration order.
    static const std::vector<const MVBackgroundMenuAnimationClass*>& registeredClasses();
    // The registry of `classes` (descendants of the base class). Throws
    // MVBackgroundMenuAnimationTypeNotFoundException for a class that does not define its type name
    // itself, and MVBackgroundMenuAnimationTypeGivenTwiceException for a name already entered.
    static Types typesOfClasses(const std::vector<const MVBackgroundMenuAnimationClass*>& classes);
};
