// MVWebView over the real engine with the sample shop's page library: a page that sends
// commands while it still loads (an inline script, DOMContentLoaded) has them performed
// and still finishes loading: the rest of its document, its load commands, its events.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/ServingURLProtocol.h"

using platform::URL;

namespace {

constexpr const char* kPageAddress = "mvtest://shop/page";
constexpr const char* kSend =
    "mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'early'}}]});";

std::string sampleLibrary() {
    std::ifstream file(std::string(MV_SAMPLE_SHOP) + "/libmerovane.js");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct EarlyCommandRow {
    const char* name;
    const char* head;  // after the library
    const char* body;  // before the paragraph the test looks for
    int sends;         // testAnswer commands the page sends
    int others;        // other commands it sends
};

const EarlyCommandRow kRows[] = {
    {"InlineInTheHead", "<script>SEND</script>", "", 1, 0},
    {"InlineInTheBody", "", "<p>first</p><script>SEND</script>", 1, 0},
    {"TwoCollectionsInline", "", "<script>SEND SEND</script>", 2, 0},
    {"SizeChangeAndAnswerInline", "",
     "<script>mvSendCommands({ver: '2.0', cmds: [{c: 'pageSizeDidChange'}]}); SEND</script>", 1, 1},
    {"OnDOMContentLoaded",
     "<script>addEventListener('DOMContentLoaded', function () { SEND });</script>", "", 1, 0},
    // Already sound before: the page's load event has begun.
    {"OnTheLoadEvent", "<script>addEventListener('load', function () { SEND });</script>", "", 1,
     0},
};

std::string withSend(std::string text) {
    for (size_t at; (at = text.find("SEND")) != std::string::npos;) text.replace(at, 4, kSend);
    return text;
}

class MVWebViewEarlyCommandWebKitTest
    : public MVWebViewWebKitFixture,
      public testing::WithParamInterface<std::tuple<EarlyCommandRow, bool>> {
  protected:
    std::string page(const EarlyCommandRow& row) {
        return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
               "<script id=\"libmerovane\" src=\"mvtest://shop/libmerovane.js\"></script>"
               "<script>window.got = []; MVEvent.on('early', function () { got.push('early'); });"
               "</script>" +
               withSend(row.head) +
               "<script type=\"application/json\" id=\"mv-load-commands\">"
               "{\"ver\": \"2.0\", \"cmds\": [{\"c\": \"testOnload\"}]}</script>"
               "</head><body>" +
               withSend(row.body) + "<p id=\"after\">after</p></body></html>";
    }
};

TEST_P(MVWebViewEarlyCommandWebKitTest, TheCommandsArePerformedAndThePageStillFinishesLoading) {
    const auto& [row, fetched] = GetParam();
    ServingURLProtocol site("mvtest");
    site.serve("mvtest://shop/libmerovane.js", "text/javascript", sampleLibrary());
    site.serve(kPageAddress, "text/html", page(row));
    if (fetched) {
        webView->openUrl(kPageAddress);
    } else {
        webView->loadHTMLString(page(row), URL::parse(kPageAddress));
    }
    ASSERT_TRUE(settle([&] {
        return webView->isUsingLibrary() && !webView->isLoading() &&
               owner->count("didFinishRendering") > 0;
    })) << "finished loading: "
        << owner->count("didFinishLoad") << ", document: " << js("document.readyState")
        << ", calls: " << testing::PrintToString(owner->calls);
    drain();
    // The whole document, its load event and its load commands (the onload command).
    EXPECT_EQ(js("String(document.getElementById('after') !== null)"), "true");
    EXPECT_EQ(js("location.href"), kPageAddress);
    // Its commands and its onload command, each once.
    EXPECT_EQ(webView->lastCommandSerial(), row.sends + row.others + 1);
    if (row.others > 0) {
        EXPECT_GE(owner->count("didChangePageSize"), 1u);
    }
    ASSERT_EQ(pageRoundTrips().size(), static_cast<size_t>(row.sends));
    for (const auto& trip : pageRoundTrips()) EXPECT_EQ(trip.webView, webView.get());
    // Each answer, held while the page loaded, reached the page once it was ready.
    nlohmann::json expected = nlohmann::json::array();
    for (int i = 0; i < row.sends; ++i) expected.push_back("early");
    EXPECT_EQ(platform::json::parse(js("JSON.stringify(got)")).value, expected);
    EXPECT_EQ(owner->count("didFinishLoad"), 1u);
    EXPECT_FALSE(logged("lost commands"));
    EXPECT_FALSE(logged("could not access MVEvents"));
}

INSTANTIATE_TEST_SUITE_P(WhereTheCommandIsSent, MVWebViewEarlyCommandWebKitTest,
                         testing::Combine(testing::ValuesIn(kRows), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<EarlyCommandRow, bool>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Fetched" : "FromAString");
                         });

}  // namespace
