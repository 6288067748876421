// A shop page in the real engine (its document from the API server, with a base address),
// its style sheet, script and logo healthy or all on a
// failing host, plus one resource of each kind on a failing host, while the API stream
// stays open: the monitor shows its retry view only when the content as a whole fails,
// 16 s after its first failure, never for one resource of a shop that otherwise loads.
// The source's own table holds the exact times; here each turn of the engine moves the
// clock, so the bounds are loose.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "tests/support/CutAnswer.h"
#include "tests/support/ProxyEnvironment.h"
#include "tests/support/TestApiConnectionHost.h"
#include "tests/webcache/webkit/WebCachePageWebKitFixture.h"
#include "tools/peer/ApiPeer.h"

namespace {

using Monitor = MVConnectionLossMonitor;

enum class Kind { kImage, kStyleSheet, kScript, kFont };
enum class Host { kCloses, kNeverAnswers, kRefuses, kNotFound, kAnswers404, kAnswers503 };

struct ContentLossRow {
    const char* name;
    Kind kind;
    Host host;
    bool shopFails;      // the shop's style sheet, script and logo are on the failing host
    double packetEvery;  // the API stream brings a packet this often; 0: none
    bool lost;
};

const ContentLossRow kContentLossRows[] = {
    {"Image_Closes_ShopLoads_PacketEvery3s", Kind::kImage, Host::kCloses, false, 3, false},
    {"Image_NeverAnswers_ShopLoads_PacketEvery15s", Kind::kImage, Host::kNeverAnswers, false, 15,
     false},
    {"StyleSheet_Refuses_ShopLoads_NoPackets", Kind::kStyleSheet, Host::kRefuses, false, 0, false},
    {"Script_NotFound_ShopLoads_PacketEvery3s", Kind::kScript, Host::kNotFound, false, 3, false},
    {"Font_Closes_ShopLoads_PacketEvery3s", Kind::kFont, Host::kCloses, false, 3, false},
    {"Image_Answers404_ShopFails_PacketEvery3s", Kind::kImage, Host::kAnswers404, true, 3, false},
    {"StyleSheet_Answers503_ShopFails_NoPackets", Kind::kStyleSheet, Host::kAnswers503, true, 0,
     false},
    {"Script_Refuses_ShopFails_PacketEvery3s", Kind::kScript, Host::kRefuses, true, 3, true},
    {"Image_Closes_ShopFails_NoPackets", Kind::kImage, Host::kCloses, true, 0, true},
    {"StyleSheet_NeverAnswers_ShopFails_PacketEvery15s", Kind::kStyleSheet, Host::kNeverAnswers,
     true, 15, true},
    {"Font_NotFound_ShopFails_PacketEvery3s", Kind::kFont, Host::kNotFound, true, 3, true},
};

class MVWebCacheContentLossWebKitTest : public StreamingPageWebKitTest,
                                        public ::testing::WithParamInterface<ContentLossRow> {
  protected:
    static constexpr double kWatched = 35.0;  // platform seconds after the page opens

    // `path` on the failing host of the row.
    std::string failingUrl(const std::string& path) {
        switch (GetParam().host) {
            case Host::kRefuses:
                return refusing_.url(path);
            case Host::kNotFound:
                // A name the resolver refuses without asking a server (a label may not
                // begin with a hyphen), so nothing waits on a lookup.
                return "http://-shop.invalid" + path;
            case Host::kCloses:
                failing_.respond(path, failingAnswer(FailingAnswer::kCloses));
                break;
            case Host::kNeverAnswers:
                failing_.respond(path, failingAnswer(FailingAnswer::kNeverAnswers));
                break;
            case Host::kAnswers404:
                failing_.respond(path, HttpTestServer::Response::text(404, "gone", "text/html"));
                break;
            case Host::kAnswers503:
                failing_.respond(path, failingAnswer(FailingAnswer::kErrorStatus));
                break;
        }
        return failing_.url(path);
    }

    // The shop's page: its style sheet, script and logo, then the row's resource.
    void openShop() {
        const auto& row = GetParam();
        std::string css, js, logo;
        if (row.shopFails) {
            css = failingUrl("/shop.css");
            js = failingUrl("/shop.js");
            logo = failingUrl("/logo.png");
        } else {
            site_.respond("/shop.css",
                          HttpTestServer::Response::text(200, "body{margin:0}", "text/css"));
            site_.respond("/shop.js", HttpTestServer::Response::text(200, "window.shop = 1;",
                                                                     "text/javascript"));
            css = site_.url("/shop.css");
            js = site_.url("/shop.js");
            logo = healthyImage(site_, "/logo.png");
        }
        std::string resource;
        switch (row.kind) {
            case Kind::kImage:
                resource = "<img src='" + failingUrl("/more.png") + "'>";
                break;
            case Kind::kStyleSheet:
                resource = "<link rel='stylesheet' href='" + failingUrl("/more.css") + "'>";
                break;
            case Kind::kScript:
                resource = "<script src='" + failingUrl("/more.js") + "'></script>";
                break;
            case Kind::kFont:
                resource = "<style>@font-face{font-family:f;src:url('" + failingUrl("/face.woff") +
                           "')}</style><p style='font-family:f'>shop</p>";
                break;
        }
        const std::string page = "<html><head><link rel='stylesheet' href='" + css +
                                 "'><script src='" + js + "'></script></head><body><img src='" +
                                 logo + "'>" + resource + "</body></html>";
        // The page itself comes with its base address, as the API server sends pages.
        webView_ = MVWebView::create(platform::Rect(0, 0, 320, 480));
        owner_ = std::make_shared<RecordingMVWebViewDelegate>();
        webView_->setDelegate(owner_);
        webView_->loadHTMLString(
            page, platform::URL::parse(row.shopFails ? failingUrl("/") : site_.url("/")));
    }

    HttpTestServer site_;
    HttpTestServer failing_;
    HttpTestServer::RefusingPort refusing_;
};

}  // namespace

TEST_P(MVWebCacheContentLossWebKitTest, LostOnlyWhenTheShopsContentFailsAsAWhole) {
    const auto& row = GetParam();
    ASSERT_TRUE(openStream());
    const auto opened = platform::Date::now();
    const auto elapsed = [&] { return platform::Date::now().timeIntervalSince(opened); };
    openShop();

    double nextPacket = row.packetEvery;
    std::optional<double> failedAt, lostAt;
    ASSERT_TRUE(drive([&] {
        if (row.packetEvery > 0 && elapsed() >= nextPacket) {
            sendPacket();
            nextPacket += row.packetEvery;
        }
        auto& monitor = Monitor::sharedMonitor();
        if (!failedAt && monitor.lastReportedContentError() != platform::Date::distantPast())
            failedAt = monitor.lastReportedContentError().timeIntervalSince(opened);
        if (!lostAt && monitor.state() == Monitor::kStateLostBlocking) lostAt = elapsed();
        return elapsed() >= kWatched;
    }));

    if (row.lost) {
        // 16 s after the content's first failure, at the next check.
        ASSERT_TRUE(failedAt);
        ASSERT_TRUE(lostAt);
        EXPECT_GT(*lostAt - *failedAt, 16.0);
        EXPECT_LE(*lostAt - *failedAt, 17.0);
        EXPECT_FALSE(Monitor::allowsConnections());
    } else {
        EXPECT_FALSE(lostAt);
        EXPECT_TRUE(Monitor::allowsConnections());
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, MVWebCacheContentLossWebKitTest,
                         ::testing::ValuesIn(kContentLossRows),
                         [](const auto& info) { return std::string(info.param.name); });
