#pragma once
// A script and an image that a page loads from the "mvtest" scheme of a test URL
// protocol, and the check that both came through that protocol for the page at `base`:
//
//   ServingURLProtocol site("mvtest");
//   testpage::servePageResources(site);
//   ... load a page holding kResourceScriptTag and kResourceImageTag at `base` ...
//   testpage::expectPageResourcesLoaded(site, base, [&](const std::string& s) { return js(s); });

#include <functional>
#include <string>

class ServingURLProtocol;

namespace testpage {

// The script sets window.ranScript to 'yes'; the image, with id "pic", is 3 by 2.
inline constexpr const char* kResourceScriptTag = R"(<script src="mvtest://res/app.js"></script>)";
inline constexpr const char* kResourceImageTag = R"(<img id="pic" src="mvtest://res/pic.svg">)";

void servePageResources(ServingURLProtocol& site);
// GoogleTest expectations: the script ran and the image decoded in the page (`js`
// evaluates in it), each was asked of `site` once, for the page at `base`.
void expectPageResourcesLoaded(const ServingURLProtocol& site, const std::string& base,
                               const std::function<std::string(const std::string&)>& js);

}  // namespace testpage
