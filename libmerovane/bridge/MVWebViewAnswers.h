#pragma once
// What MVWebView makes of a page's answers to its measuring scripts. The page chooses
// these texts: any text gives a value, never a failure.

#include <string>

#include "platform/foundation/Geometry.h"
#include "platform/ui/Color.h"

namespace mvwebview_answers {

// The computed background colour: an "rgb(" or "rgba(" text; anything else is logged
// (with `label`, the web view's name) and taken as white, nothing as white.
platform::Color backgroundColorFromAnswer(const std::string& answer, const std::string& label);
// "width,height" as the page measures its html element; anything else is 0 by 0.
platform::Size sizeFromAnswer(const std::string& answer);

}  // namespace mvwebview_answers
