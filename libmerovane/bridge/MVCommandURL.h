#pragma once
// Reading a command collection out of an "mvcmd" URL, as pages and redirects send it:
//
//   std::string text = decodedCommandURL(url.absoluteString());  // "mvcmd:{\"ver\":...}"
//   if (auto json = commandCollectionText(text)) ... parse *json ...
//
// No state; thread-safe.

#include <optional>
#include <string>
#include <string_view>

// The URL-decoded text; the empty string when the text cannot be decoded (a malformed
// escape, or bytes that are no UTF-8).
std::string decodedCommandURL(std::string_view absoluteString);
// The text from the first "{" on, or none when there is no "{".
std::optional<std::string> commandCollectionText(const std::string& decoded);
