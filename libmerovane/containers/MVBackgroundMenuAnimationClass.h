#pragma once
// A background menu presentation type's class, as a value: what its class methods answer.
// A class answers what it defines itself, else what its superclass answers; the base
// class answers edge none, no type, no fragments and "menu behind the content". The six
// presentation types and the registry that finds them by name are in
// MVBackgroundMenuAnimationTypes.h; MVBackgroundMenuAnimation is an instance of one.
//
//   const MVBackgroundMenuAnimationClass kSlideOver{
//       .name = "MySlideOver",
//       .superclass = &MVBackgroundMenuAnimationForegroundLeft(),
//       .ownAnimationType = "slideOver"};  // the rest as "foregroundLeft"
//
// Classes are immutable and outlive every animation of theirs (the built-in ones live
// as long as the process). Thread-safe (no state).

#include <optional>
#include <string>
#include <vector>

// The screen edge a menu comes in from.
enum class MVBackgroundMenuPresentationEdge { None = 0, Left = 2, Right = 3 };

struct MVBackgroundMenuAnimationClass {
    // MVBackgroundMenuAnimation itself.
    static const MVBackgroundMenuAnimationClass& base();

    std::string name;
    // Null for the base class only.
    const MVBackgroundMenuAnimationClass* superclass = nullptr;
    // What the class defines itself; none: as its superclass.
    std::optional<std::string> ownAnimationType = std::nullopt;
    std::optional<MVBackgroundMenuPresentationEdge> ownPresentationEdge = std::nullopt;
    std::optional<std::vector<std::string>> ownAnimationFragments = std::nullopt;
    std::optional<bool> ownIsMenuBehindContent = std::nullopt;

    bool definesAnimationType() const { return ownAnimationType.has_value(); }
    // The presentation type's name; none for the base class, which never registers.
    const std::optional<std::string>& animationType() const;
    MVBackgroundMenuPresentationEdge presentationEdge() const;
    // Fragment class names, in application order.
    const std::vector<std::string>& animationFragments() const;
    // True: the content container lies in front of the menu view; false: behind it.
    bool isMenuBehindContent() const;
    // The base duration in seconds, which no type replaces: 0.45 (single precision) from
    // system 7.0 on, else 0.3.
    static float duration();
};
