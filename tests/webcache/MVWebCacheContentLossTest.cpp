// The shop's content makes the connection "lost (blocking)" only when it fails as a
// whole: one resource that fails beside a shop that otherwise loads fails to its waiter
// and is no loss, however the resource fails, whatever kind it is and however often the
// API stream answers; content whose every load ends without an HTTP answer is lost 16 s
// after its first failure (the fail-safe wait of 5 s, for a host that never answers).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"
#include "tests/support/CutAnswer.h"
#include "tests/support/HttpTestServer.h"
#include "tests/webcache/WebCacheSourceFixture.h"

namespace {

using Monitor = MVConnectionLossMonitor;
using Source = MVWebCacheHTTPDataSource;

enum class Host { kCloses, kNeverAnswers, kRefuses, kNotFound, kAnswers404, kAnswers503 };

// The resource's kind, by the path's extension: the source gives scripts, style sheets
// and images fail-safe connections, fonts one connection.
const char* const kKinds[] = {"/img.png", "/more.css", "/more.js", "/face.woff"};
// The rest of the shop: its style sheet, script and logo.
const char* const kRest[] = {"/shop.css", "/shop.js", "/logo.png"};

struct ContentRow {
    std::string name;
    const char* resource;
    Host host;
    bool restFails;      // the rest of the shop is on the failing host too
    double streamEvery;  // the stream's packets report a success this often; 0: none
    double resourceAt;   // when the resource's load begins (the rest's at 0)
    std::optional<double> lostAt;
};

std::vector<ContentRow> contentRows() {
    const struct {
        const char* name;
        Host host;
        std::optional<double> lostWhole;  // when the whole shop is on it
    } hosts[] = {
        {"Closes", Host::kCloses, 16.5},       {"NeverAnswers", Host::kNeverAnswers, 21.5},
        {"Refuses", Host::kRefuses, 16.5},     {"NotFound", Host::kNotFound, 16.5},
        {"Answers404", Host::kAnswers404, {}}, {"Answers503", Host::kAnswers503, {}},
    };
    const char* kindNames[] = {"Image", "StyleSheet", "Script", "Font"};
    std::vector<ContentRow> rows;
    for (const auto& host : hosts)
        for (size_t kind = 0; kind < 4; ++kind)
            for (bool restFails : {false, true})
                for (double every : {3.0, 15.0, 0.0}) {
                    rows.push_back(
                        {std::string(kindNames[kind]) + "_" + host.name +
                             (restFails ? "_ShopFails" : "_ShopLoads") +
                             (every > 0 ? "_PacketEvery" + std::to_string(int(every)) + "s"
                                        : "_NoPackets"),
                         kKinds[kind], host.host, restFails, every, 0,
                         restFails ? host.lostWhole : std::nullopt});
                }
    // The resource begins after the rest answered: soon after, or alone 20 s later, when
    // nothing else of the content has answered for longer than the loss time.
    for (const auto& host : hosts) {
        if (!host.lostWhole) continue;
        rows.push_back({std::string("ImageAfter5s_") + host.name, kKinds[0], host.host, false, 3, 5,
                        std::nullopt});
        rows.push_back({std::string("ImageAloneAfter20s_") + host.name, kKinds[0], host.host, false,
                        3, 20, *host.lostWhole + 20});
    }
    return rows;
}

class MVWebCacheContentLossTest : public WebCacheSourceTest,
                                  public ::testing::WithParamInterface<ContentRow> {
  protected:
    static constexpr double kWatched = 45.0;

    void SetUp() override {
        WebCacheSourceTest::SetUp();
        MVWebCacheDataSource::registerBuiltInDataSources();
        Monitor::beginMonitoring();
        for (const char* path : kRest)
            healthy_.respond(path, HttpTestServer::Response::text(200, "fine", "text/plain"));
        HttpTestServer::Response response;
        switch (GetParam().host) {
            case Host::kCloses:
                response = failingAnswer(FailingAnswer::kCloses);
                break;
            case Host::kNeverAnswers:
                response = failingAnswer(FailingAnswer::kNeverAnswers);
                break;
            case Host::kAnswers404:
                response = HttpTestServer::Response::text(404, "missing", "text/html");
                break;
            case Host::kAnswers503:
                response = failingAnswer(FailingAnswer::kErrorStatus);
                break;
            default:
                break;
        }
        for (const char* path : kKinds) failing_.respond(path, response);
        for (const char* path : kRest) failing_.respond(path, response);
    }

    std::string failingUrl(const std::string& path) const {
        switch (GetParam().host) {
            case Host::kRefuses:
                return refusing_.url(path);
            case Host::kNotFound:
                // The resolver refuses this name without asking a server: a label may not
                // begin with a hyphen.
                return "http://-shop.invalid" + path;
            default:
                return failing_.url(path);
        }
    }

    // One load through the source, as the web cache makes it.
    struct Load {
        std::string path;
        std::string url;
        bool onFailingHost = false;
        double began = 0;
        int answers = 0;
        std::optional<platform::Error> error;
        int status = 0;
    };
    std::shared_ptr<Load> start(const std::string& path, bool onFailingHost, double began) {
        auto load = std::make_shared<Load>();
        load->path = path;
        load->url = onFailingHost ? failingUrl(path) : healthy_.url(path);
        load->onFailingHost = onFailingHost;
        load->began = began;
        Source::sharedDataSource()->loadDataForKey(
            load->url, 0,
            [load](const Data&, const nlohmann::json& info) {
                ++load->answers;
                load->status = info.value("http-status-code", 0);
            },
            [load](const platform::Error& error) {
                ++load->answers;
                load->error = error;
            });
        return load;
    }

    // Whether what the load did by `t` (seconds since the start, a multiple of 5) is over:
    // its attempts at 0, 5, 10 and 15 s reached the server and failed, or it was answered.
    bool settled(const Load& load, double t) {
        const double age = t - load.began;
        if (!load.onFailingHost) return load.answers == 1;
        const bool failsafe = std::string(load.path).find(".woff") == std::string::npos;
        const size_t attempts = static_cast<size_t>(age / 5) + 1;
        switch (GetParam().host) {
            case Host::kCloses:
                if (age >= 15) return load.answers == 1;
                return failing_.requestCount(load.path) >= attempts &&
                       loggedCount("will be repeated in 5 seconds. [" + load.url + "]") == attempts;
            case Host::kNeverAnswers:
                if (!failsafe) return failing_.requestCount(load.path) == 1;
                if (age >= 15) return load.answers == 1;
                return failing_.requestCount(load.path) == attempts;
            default:
                return load.answers == 1;
        }
    }

    HttpTestServer healthy_;
    HttpTestServer failing_;
    HttpTestServer::RefusingPort refusing_;
};

}  // namespace

TEST_P(MVWebCacheContentLossTest, LostOnlyWhenTheContentAsAWholeFails) {
    const auto& row = GetParam();
    LossWatch watch(row.streamEvery);
    std::vector<std::shared_ptr<Load>> loads;
    for (const char* path : kRest) loads.push_back(start(path, row.restFails, 0));
    std::shared_ptr<Load> resource;
    // Between the source's steps, every 5 s, the clock moves in quarter seconds.
    for (double t = 0; t <= kWatched; t += 5) {
        if (!resource && t >= row.resourceAt) {
            resource = start(row.resource, true, t);
            loads.push_back(resource);
        }
        ASSERT_TRUE(waitFor([&] {
            for (const auto& load : loads)
                if (!settled(*load, t)) return false;
            return true;
        })) << t;
        if (t < kWatched) watch.advance(5);
    }
    EXPECT_EQ(watch.lostAt, row.lostAt);
    EXPECT_EQ(Monitor::allowsConnections(), !row.lostAt);

    // The resource failed to its waiter (a font on a silent host still waits for its
    // time-out); an HTTP answer of any status is delivered.
    const bool fontWaits =
        row.host == Host::kNeverAnswers && std::string(row.resource).ends_with(".woff");
    EXPECT_EQ(resource->answers, fontWaits ? 0 : 1);
    const long expected[] = {-1005, -1001, -1004, -1003, 0, 0};
    if (!fontWaits && expected[static_cast<int>(row.host)] != 0) {
        ASSERT_TRUE(resource->error);
        EXPECT_EQ(resource->error->code(), expected[static_cast<int>(row.host)]);
    } else if (!fontWaits) {
        EXPECT_FALSE(resource->error);
        EXPECT_EQ(resource->status, row.host == Host::kAnswers404 ? 404 : 503);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, MVWebCacheContentLossTest, ::testing::ValuesIn(contentRows()),
                         [](const auto& info) { return info.param.name; });
