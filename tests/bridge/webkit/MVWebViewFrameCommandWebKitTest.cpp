// MVWebView over the real engine: only the top document commands the shell. A frame of
// any kind (the page's own, another origin's at depth 1 to 3, the page's own origin inside
// another's, sandboxed, about:blank and srcdoc made inside another origin's frame) tries
// each road a page has (the channel, its `location`, a link in its frame, a link to the top
// frame), with and without the merchant's own frame-src;
// none of its commands is performed, and the page's own, sent by the same road after it,
// are, once and in order.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/HttpTestServer.h"

namespace frame_commands {
namespace {

using Response = HttpTestServer::Response;

// The roads, in the page's script: mvSend(road, event, serial).
constexpr const char* kSender = R"(
function mvSend(road, event, serial) {
  var address = 'mvcmd:' + encodeURIComponent(JSON.stringify(
      {ver: '2.0', cmds: [{c: 'testAnswer', p: {event: event}, s: serial}]}));
  if (road === 'channel') {
    if (typeof window.__mvCommandChannel === 'function') window.__mvCommandChannel(address);
  } else if (road === 'location') {
    location.href = address;
  } else {
    var link = document.createElement('a');
    link.href = address;
    if (road === 'topLink') link.target = '_top';
    document.body.appendChild(link);
    link.click();
  }
}
)";

// A frame's attempt, then word to the page that it has made it.
std::string frameScript(const std::string& road) {
    return std::string(kSender) + "setTimeout(function () { mvSend('" + road +
           "', 'frame', 0); setTimeout(function () { top.postMessage('sent', '*'); }, 100); }, "
           "0);";
}

std::string html(const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>" + body +
           "</body></html>";
}

std::string attribute(std::string text) {
    std::string escaped;
    for (char c : text) escaped += c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
    return escaped;
}

struct SenderRow {
    const char* name;
    // The page's frames; "OTHER" is the other origin's address ("http://localhost:port"),
    // "OWN" the page's. Empty: the page sends alone.
    const char* frames;
};

void PrintTo(const SenderRow& row, std::ostream* out) {
    *out << row.name;
}

const SenderRow kSenders[] = {
    // The top document itself: performed.
    {"ThePage", ""},
    // A frame the page made of its own origin.
    {"OwnFrame", "<iframe src=\"/send\"></iframe>"},
    // Another origin at depth 1, 2 and 3.
    {"OtherOrigin", "<iframe src=\"OTHER/send\"></iframe>"},
    {"OtherOriginDepth2", "<iframe src=\"OTHER/wrap1\"></iframe>"},
    {"OtherOriginDepth3", "<iframe src=\"OTHER/wrap2\"></iframe>"},
    // The page's own origin below another origin's frame.
    {"OwnOriginBelowOther", "<iframe src=\"OTHER/wrap-own\"></iframe>"},
    // Sandboxed with scripts only (an opaque origin), of the page's own address.
    {"Sandboxed", "<iframe sandbox=\"allow-scripts\" src=\"/send\"></iframe>"},
    // about:blank and srcdoc frames made inside another origin's frame.
    {"BlankInOther", "<iframe src=\"OTHER/blank\"></iframe>"},
    {"SrcdocInOther", "<iframe src=\"OTHER/srcdoc\"></iframe>"},
};

const char* const kRoads[] = {"channel", "location", "link", "topLink"};

class FrameCommandWebKitTest
    : public MVWebViewWebKitFixture,
      public testing::WithParamInterface<std::tuple<SenderRow, const char*, bool>> {
  protected:
    HttpTestServer server;
};

TEST_P(FrameCommandWebKitTest, OnlyTheTopDocumentCommands) {
    const SenderRow& row = std::get<0>(GetParam());
    const std::string road = std::get<1>(GetParam());
    const bool merchantPolicy = std::get<2>(GetParam());
    const std::string own = server.url("/");
    // The other origin: the same server by another name.
    const std::string ownOrigin = own.substr(0, own.size() - 1);
    const std::string other = "http://localhost:" + ownOrigin.substr(ownOrigin.rfind(':') + 1);
    std::string frames = row.frames;
    for (size_t at; (at = frames.find("OTHER")) != std::string::npos;) frames.replace(at, 5, other);
    const std::string script = frameScript(road);
    server.respond("/send",
                   Response::text(200, html("<script>" + script + "</script>"), "text/html"));
    server.respond("/wrap1",
                   Response::text(200, html("<iframe src=\"/send\"></iframe>"), "text/html"));
    server.respond("/wrap2",
                   Response::text(200, html("<iframe src=\"/wrap1\"></iframe>"), "text/html"));
    server.respond(
        "/wrap-own",
        Response::text(200, html("<iframe src=\"" + ownOrigin + "/send\"></iframe>"), "text/html"));
    server.respond("/blank",
                   Response::text(200,
                                  html("<script>var f = document.createElement('iframe');"
                                       " document.body.appendChild(f);"
                                       " var s = f.contentDocument.createElement('script');"
                                       " s.textContent = " +
                                       platform::json::print(nlohmann::json(script)) +
                                       "; f.contentDocument.body.appendChild(s);</script>"),
                                  "text/html"));
    server.respond("/srcdoc", Response::text(200,
                                             html("<iframe srcdoc=\"" +
                                                  attribute("<script>" + script + "</script>") +
                                                  "\"></iframe>"),
                                             "text/html"));
    server.respond("/libmerovane.js", Response::text(200, sampleShopLibrary(), "text/javascript"));
    // The page's own commands go after the frame's attempt, by the same road (one by a
    // `location`, which a page sends one a task); the library's load command is its 0.
    const std::string pageSend =
        road == "location"
            ? "mvSend('location', 'top1', 1);"
            : "mvSend('" + road + "', 'top1', 1); mvSend('" + road + "', 'top2', 2);";
    const std::string trigger =
        frames.empty() ? "addEventListener('load', function () { setTimeout(function () { " +
                             pageSend + " }, 0); });"
                       : "addEventListener('message', function (e) { if (e.data === 'sent') { " +
                             pageSend + " } });";
    const std::string meta =
        merchantPolicy
            ? "<meta http-equiv=\"Content-Security-Policy\" content=\"frame-src 'self' " + other +
                  "\">"
            : "";
    server.respond(
        "/page",
        Response::text(200,
                       "<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + meta +
                           "<script id=\"libmerovane\" src=\"/libmerovane.js\"></script><script "
                           "type=\"application/json\" id=\"mv-load-commands\">{\"ver\": \"2.0\", "
                           "\"cmds\": [{\"c\": \"testOnload\"}]}</script><script>" +
                           kSender + trigger + "</script></head><body>" + frames + "</body></html>",
                       "text/html"));
    webView->openUrl(server.url("/page"));
    const size_t expected = road == "location" ? 1 : 2;
    ASSERT_TRUE(settle([&] {
        return pageRoundTrips().size() >= expected && webView->isUsingLibrary() &&
               !webView->isLoading();
    })) << pageRoundTrips().size();
    drain();
    std::vector<std::string> events;
    for (const auto& trip : pageRoundTrips()) {
        events.push_back(trip.event);
        EXPECT_EQ(trip.webView, webView.get());
    }
    const std::vector<std::string> page = road == "location"
                                              ? std::vector<std::string>{"top1"}
                                              : std::vector<std::string>{"top1", "top2"};
    EXPECT_EQ(events, page);
    EXPECT_FALSE(logged("lost commands")) << testing::PrintToString(log_->texts());
    EXPECT_EQ(webView->historySize(), 1u);
    // A frame's refused commands are told once, by the engine or the web view.
    const size_t told = loggedCount("refused the page commands a frame") +
                        loggedCount("refused the commands of a frame");
    EXPECT_LE(told, 1u) << testing::PrintToString(log_->texts());
    if (!frames.empty() && (road == "location" || road == "link")) {
        EXPECT_EQ(told, 1u);
    }
}

std::string rowName(const testing::TestParamInfo<std::tuple<SenderRow, const char*, bool>>& info) {
    std::string road = std::get<1>(info.param);
    road[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(road[0])));
    return std::string(std::get<0>(info.param).name) + "By" + road +
           (std::get<2>(info.param) ? "UnderFrameSrc" : "");
}

INSTANTIATE_TEST_SUITE_P(Senders, FrameCommandWebKitTest,
                         testing::Combine(testing::ValuesIn(kSenders), testing::ValuesIn(kRoads),
                                          testing::Bool()),
                         rowName);

}  // namespace
}  // namespace frame_commands
