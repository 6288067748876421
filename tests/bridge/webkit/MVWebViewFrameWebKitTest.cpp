// MVWebView over the real engine: a frame the page adds loads its document in the
// frame, and the page stays; the page's own navigations still leave it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/ServingURLProtocol.h"
#include "tests/support/TestPageLibrary.h"

namespace {

constexpr const char* kListPage = "mvtest://shop/list";
// The page's half of the onload latch: it is shown, and a link it follows goes at once.
constexpr const char* kOnload =
    "<script>addEventListener('load', function () {"
    " mvSendCommands({ver: '2.0', cmds: [{c: 'testOnload'}]}); });</script>";

struct FrameRow {
    const char* name;
    const char* body;       // in the page as it loads
    const char* script;     // run once the page is shown
    const char* frameText;  // what the (innermost) frame then shows
};

const FrameRow kFrameRows[] = {
    {"AddedByScript", "",
     "var f = document.createElement('iframe'); f.src = 'mvtest://shop/frame';"
     " document.body.appendChild(f);",
     "frame"},
    {"InThePage", "<iframe src=\"mvtest://shop/frame\"></iframe>", "", "frame"},
    {"SourceSetOnceInserted", "",
     "var f = document.createElement('iframe'); document.body.appendChild(f);"
     " f.src = 'mvtest://shop/frame';",
     "frame"},
    {"RelativeSourceWithQuery", "",
     "var f = document.createElement('iframe'); f.src = 'frame?x=1';"
     " document.body.appendChild(f);",
     "frame with query"},
    {"InsideAFrame", "<iframe src=\"mvtest://shop/outer\"></iframe>", "", "frame"},
};

class MVWebViewFrameWebKitTest : public MVWebViewWebKitFixture,
                                 public testing::WithParamInterface<FrameRow> {};

// The innermost frame's body text, or "".
constexpr const char* kFrameText =
    "(function () { var d = document; for (;;) { var f = d.querySelector('iframe');"
    " if (!f) return d === document ? '' : d.body ? d.body.textContent : '';"
    " d = f.contentDocument; if (!d) return ''; } })()";

TEST_P(MVWebViewFrameWebKitTest, AFrameLoadsInThePageWhichStays) {
    const FrameRow& row = GetParam();
    ServingURLProtocol site("mvtest");
    site.serve(kListPage, "text/html", testpage::pageWithLibrary(row.body, kOnload));
    site.serve("mvtest://shop/frame", "text/html", "<p>frame</p>");
    site.serve("mvtest://shop/frame?x=1", "text/html", "<p>frame with query</p>");
    site.serve("mvtest://shop/outer", "text/html", "<iframe src=\"mvtest://shop/frame\"></iframe>");
    webView->openUrl(kListPage);
    ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
    js("window.marker = 'same document';");
    js(row.script);
    ASSERT_TRUE(settle([&] { return js(kFrameText) == row.frameText; }))
        << js(kFrameText) << " " << testing::PrintToString(historyUrls());
    drain();
    EXPECT_EQ(js("location.href"), kListPage);
    EXPECT_EQ(js("window.marker"), "same document");
    EXPECT_EQ(historyUrls(), std::vector<std::string>{kListPage});
    EXPECT_EQ(site.requestCount(kListPage), 1u);
    EXPECT_EQ(owner->count("didStartLoad"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Frames, MVWebViewFrameWebKitTest, testing::ValuesIn(kFrameRows),
                         [](const testing::TestParamInfo<FrameRow>& info) {
                             return std::string(info.param.name);
                         });

// The top frame's own navigation to a frame's address is still a link to follow.
TEST_F(MVWebViewFrameWebKitTest, TheTopFramesNavigationStillLeavesThePage) {
    ServingURLProtocol site("mvtest");
    site.serve(kListPage, "text/html",
               testpage::pageWithLibrary("<iframe src=\"mvtest://shop/frame\"></iframe>", kOnload));
    site.serve("mvtest://shop/frame", "text/html", "<p>frame</p>");
    site.serve("mvtest://shop/other", "text/html",
               testpage::pageWithLibrary("<p>other</p>", kOnload));
    webView->openUrl(kListPage);
    ASSERT_TRUE(settle([&] {
        return webView->isUsingLibrary() && !webView->isLoading() && js(kFrameText) == "frame";
    }));
    js("location.href = 'mvtest://shop/other'");
    ASSERT_TRUE(settle(
        [&] { return js("location.href") == "mvtest://shop/other" && webView->isUsingLibrary(); }));
    EXPECT_EQ(historyUrls(), (std::vector<std::string>{kListPage, "mvtest://shop/other"}));
    EXPECT_EQ(site.requestCount("mvtest://shop/other"), 1u);
}

}  // namespace
