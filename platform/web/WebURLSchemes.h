#pragma once
// The schemes, beyond the web's own, whose addresses pages may load (documents,
// scripts, images): engines fetch them through URL loading, and so through the URL
// protocols registered for them. A real engine knows no other scheme of ours; a page's
// navigation to one is still decided by the web view's delegate first.
//
//   platform::WebURLSchemes::registerScheme("mv-test");   // with its URL protocol
//
// Schemes are kept in lower case; the web's own ("http", "https", "file", "data",
// "about", "blob", "javascript") cannot be registered. Thread-safe.

#include <string>
#include <vector>

namespace platform {

class WebURLSchemes {
  public:
    // False (and a log line) for a scheme that cannot be registered.
    static bool registerScheme(const std::string& scheme);
    static std::vector<std::string> schemes();
    static bool contains(const std::string& scheme);
};

}  // namespace platform
