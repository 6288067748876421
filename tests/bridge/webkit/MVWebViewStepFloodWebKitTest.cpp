// A page that calls history.back() in a loop of 300,000 leaves memory bounded and goes back
// once: a browser takes the first step to another document only.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/bridge/webkit/FormPageFixture.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestPageLibrary.h"

namespace {

using Response = HttpTestServer::Response;

// The process's peak resident memory, in kB.
long peakKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

using StepFloodTest = FormPageFixture;

TEST_F(StepFloodTest, ManyBacksInOneScriptGoBackOnce) {
    const std::string onload = kFormPageSendsOnload;
    server.respond(
        "/a", Response::text(
                  200, testpage::pageWithLibrary("<title>a</title><a id=l href=/b>b</a>", onload),
                  "text/html"));
    server.respond("/b", Response::text(200, testpage::pageWithLibrary("<title>b</title>", onload),
                                        "text/html"));
    webView->openUrl(server.url("/a"));
    ASSERT_TRUE(shows("a"));
    js("document.getElementById('l').click()");
    ASSERT_TRUE(shows("b"));
    const long before = peakKilobytes();

    js("for (var i = 0; i < 300000; i++) history.back(); 'sent'");
    EXPECT_TRUE(shows("a"));
    drain();

    // One step costs a few kB: all of them would be hundreds of MB.
    EXPECT_LT(peakKilobytes() - before, 64 * 1024);
    EXPECT_EQ(js("location.href"), server.url("/a"));
    // Loaded once more, and nothing after it.
    EXPECT_EQ(server.requestCount("/a"), 2u);
    EXPECT_EQ(server.requestCount(), 3u);
}

}  // namespace
