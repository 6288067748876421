#include "tests/support/TestPageResources.h"

#include <gtest/gtest.h>

#include "tests/support/ServingURLProtocol.h"

namespace testpage {

void servePageResources(ServingURLProtocol& site) {
    site.serve("mvtest://res/app.js", "text/javascript", "window.ranScript = 'yes';");
    site.serve("mvtest://res/pic.svg", "image/svg+xml",
               "<svg xmlns='http://www.w3.org/2000/svg' width='3' height='2'></svg>");
}

void expectPageResourcesLoaded(const ServingURLProtocol& site, const std::string& base,
                               const std::function<std::string(const std::string&)>& js) {
    EXPECT_EQ(js("window.ranScript"), "yes");
    EXPECT_EQ(js("String(document.getElementById('pic').naturalWidth)"), "3");
    EXPECT_EQ(site.requestCount("mvtest://res/app.js"), 1u);
    EXPECT_EQ(site.requestCount("mvtest://res/pic.svg"), 1u);
    for (const auto& request : site.requests()) {
        ASSERT_TRUE(request.mainDocumentURL());
        EXPECT_EQ(request.mainDocumentURL()->absoluteString(), base);
    }
}

}  // namespace testpage
