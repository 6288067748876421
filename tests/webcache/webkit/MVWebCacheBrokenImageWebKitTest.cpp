// A shop page with an image whose server declares a length and breaks off every time, in
// the real engine: the healthy resources load meanwhile, the broken image fails to the
// page once its repeats are over, the page is shown then, and nothing is held after.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"
#include "tests/support/CutAnswer.h"
#include "tests/webcache/webkit/WebCachePageWebKitFixture.h"

namespace {

using Monitor = MVConnectionLossMonitor;
constexpr size_t kAttempts = MVWebCacheHTTPDataSource::kMaximumRepeats + 1;

class MVWebCacheBrokenImageWebKitTest : public WebCachePageWebKitTest {
  protected:
    void openPage(const std::string& path, const std::vector<std::string>& images) {
        WebCachePageWebKitTest::openPage(site_, path, images);
    }
    std::string healthy(const std::string& name) { return healthyImage(site_, name); }
    std::string broken(const std::string& name) {
        site_.respond(name, cutAnswer(2 << 20, 200 << 10, "image/png"));
        return name;  // same host as the page
    }

    HttpTestServer site_;
};

}  // namespace

TEST_F(MVWebCacheBrokenImageWebKitTest, TheShopIsShownOnceTheBrokenImagesRepeatsHaveFailed) {
    const struct {
        const char* name;
        std::vector<int> images;  // 0 a healthy image, 1 a broken one
    } rows[] = {
        {"broken first", {1, 0, 0}},
        {"broken among healthy ones", {0, 1, 0}},
        {"broken last", {0, 0, 1}},
        {"two broken images", {1, 0, 1}},
    };
    int page = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ++page;
        std::vector<std::string> images, brokenPaths;
        size_t healthyCount = 0;
        for (size_t i = 0; i < row.images.size(); ++i) {
            const std::string name = "/" + std::to_string(page) + "-" + std::to_string(i);
            if (row.images[i]) {
                brokenPaths.push_back(name + ".png");
                images.push_back(broken(brokenPaths.back()));
            } else {
                ++healthyCount;
                images.push_back(healthy(name + ".svg"));
            }
        }
        const auto opened = platform::Date::now();
        openPage("/page" + std::to_string(page), images);
        const auto attempts = [&](size_t count) {
            for (const auto& path : brokenPaths)
                if (site_.requestCount(path) < count) return false;
            return true;
        };

        // While the broken image is repeated, its healthy neighbours load.
        ASSERT_TRUE(drive([&] { return attempts(2); }));
        ASSERT_TRUE(
            drive([&] { return imagesLoadedAndFailed() == std::to_string(healthyCount) + "/0"; }));
        EXPECT_FALSE(shown());

        // Its last attempt fails to the page, which is shown then.
        ASSERT_TRUE(drive([&] { return shown(); }));
        // Shown by the error, 15 s of repeats after the first attempt, not by any time-out.
        EXPECT_LT(platform::Date::now().timeIntervalSince(opened), 35.0);
        EXPECT_TRUE(attempts(kAttempts));
        EXPECT_EQ(imagesLoadedAndFailed(),
                  std::to_string(healthyCount) + "/" + std::to_string(brokenPaths.size()));
        for (const auto& path : brokenPaths) EXPECT_EQ(site_.requestCount(path), kAttempts);
        EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateOpened);

        // Later loads of the same host go through at once.
        js("var more = new Image(); more.onload = function() { window.more = 'yes'; };"
           "more.src = '" +
           healthy("/" + std::to_string(page) + "-later.svg") + "'; 0");
        EXPECT_TRUE(drive([&] { return js("window.more") == "yes"; }));
        EXPECT_EQ(Monitor::sharedMonitor().state(), Monitor::kStateOpened);
    }
}
