// The host application against the sample API server with pages in the real engine: the
// run's picture shows the home page.
#ifdef MV_SAMPLE_API_SERVER
#include <cstdlib>

#include "platform/ui/Image.h"
#include "tests/app/SampleShopRun.h"

namespace {

using namespace sampleshop;

bool isColour(const platform::Image::Pixel& p, int r, int g, int b) {
    return std::abs(p.r - r) <= 2 && std::abs(p.g - g) <= 2 && std::abs(p.b - b) <= 2 && p.a == 255;
}

TEST_F(SampleShopRunTest, TheScreenshotShowsTheHomePageWithItsImage) {
    runOnce("app.log", "webkit");
    EXPECT_TRUE(inOrder(commands(readText(out_.file("commands.log"))),
                        {"up appStart", "down bootApp", "down openPage", "page sendDataRequest",
                         "down dataResponse"}));
    auto shot = platform::Image::fromFile(out_.file("screenshot.png"));
    ASSERT_TRUE(shot && !shot->isEmpty());
    EXPECT_TRUE(isColour(shot->pixel(shot->width() / 2, shot->height() / 2), 0x1e, 0x6b, 0x52));
    // The logo: one 96 by 96 block of its colour in the top left; buttons and prices
    // share the colour at the bottom.
    int left = shot->width(), top = shot->height(), right = -1, bottom = -1;
    for (int y = 0; y < shot->height() / 3; ++y)
        for (int x = 0; x < shot->width() / 2; ++x)
            if (isColour(shot->pixel(x, y), 0xf2, 0xc2, 0x30)) {
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, x);
                bottom = std::max(bottom, y);
            }
    EXPECT_EQ(right - left + 1, 96);
    EXPECT_EQ(bottom - top + 1, 96);
}

}  // namespace
#endif
