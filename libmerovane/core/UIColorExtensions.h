#pragma once
// Colours from the colour texts that pages use.
//
//   colorWithHexString("#FF000080");         // red, alpha 128/255
//   colorWithRGBAString("rgba(0, 0, 0, 0.5)");

#include <string_view>

#include "platform/ui/Color.h"

// "#RRGGBBAA", each pair optional from the right, the "#" optional: red, green, blue and
// alpha (255 when absent) over 255. A pair counts as far as its hexadecimal digits go; one
// that does not begin with a hexadecimal digit leaves its component as it was; an odd last
// character is ignored.
platform::Color colorWithHexString(std::string_view text);

// "rgb(r, g, b)" or "rgba(r, g, b, a)": red, green and blue over 255, alpha (1 when absent)
// as given. Text without "rgba(" or "rgb(" is a programming error
// (NSInternalInconsistencyException). Without a closing ")" the rest of the text counts.
platform::Color colorWithRGBAString(std::string_view text);
