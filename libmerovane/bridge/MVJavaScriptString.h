#pragma once
// Text that goes into a script the web view evaluates, as the inside of a JavaScript
// string literal, so that a quote, a backslash or a line break in it (a page chooses its
// addresses) cannot end the literal:
//
//   fmt::format("window.location.href = \"{}\"", javaScriptStringContent(url));
//
// Ordinary text, addresses included, comes out unchanged. Thread-safe (no state).

#include <string>
#include <string_view>

// Escapes backslash, both quotes, control characters and the two line separators that
// end a literal in older engines (U+2028, U+2029).
std::string javaScriptStringContent(std::string_view text);
