#pragma once
// The fragment classes by name, as presentation types list them: the base class and the
// eight fragments (MVBackgroundMenuAnimationFragmentSlides.h,
// MVBackgroundMenuAnimationFragmentShadings.h).
//
//   auto fragment = MVBackgroundMenuAnimationFragmentWithClassName(
//       "MVBackgroundMenuAnimationFragmentMenuStaticLeftClass", host);

#include <memory>
#include <string_view>

#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentClass.h"

// A new fragment of the class named, for the controller; null when no fragment class has
// that name.
std::shared_ptr<MVBackgroundMenuAnimationFragmentClass>
MVBackgroundMenuAnimationFragmentWithClassName(
    std::string_view className, std::weak_ptr<MVBackgroundMenuAnimationHost> controller);
