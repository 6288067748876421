// The window that shows a picture on the display: drawn again while open, and closing
// it by hand tells the owner once.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/webkit/PictureWindow.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/PlatformTest.h"

namespace {

class PictureWindowTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        ASSERT_TRUE(platform::WebKitGtkWebEngine::isAvailable());
    }
    static GtkWindow* shownWindow(const std::string& title) {
        GtkWindow* found = nullptr;
        GList* all = gtk_window_list_toplevels();
        for (GList* item = all; item; item = item->next) {
            auto* window = GTK_WINDOW(item->data);
            const char* text = gtk_window_get_title(window);
            if (text && title == text && gtk_widget_get_visible(GTK_WIDGET(window))) found = window;
        }
        g_list_free(all);
        return found;
    }
    // Turns of the main loop, on the platform clock, until `done` (a bound of turns).
    static bool turnUntil(const std::function<bool()>& done) {
        for (int turn = 0; turn < 200 && !done(); ++turn) {
            platform::advanceBy(0.05);
            while (g_main_context_iteration(nullptr, false)) {
            }
        }
        return done();
    }
};

TEST_F(PictureWindowTest, IsDrawnAgainWhileOpenAndTellsOfItsClosingOnce) {
    int draws = 0;
    int closes = 0;
    auto window = std::make_unique<platform::PictureWindow>(
        "Picture",
        [&] {
            return ++draws, platform::Image(40, 30, 1, {30, 107, 82, 255});
        },
        [&] { ++closes; }, 0.1);
    ASSERT_TRUE(shownWindow("Picture"));
    ASSERT_TRUE(turnUntil([&] { return draws >= 3; }));

    gtk_window_close(shownWindow("Picture"));
    ASSERT_TRUE(turnUntil([&] { return closes == 1; }));
    const int drawn = draws;
    platform::advanceBy(1);
    EXPECT_EQ(draws, drawn);  // no drawing once closed
    window.reset();
    EXPECT_EQ(closes, 1);

    // Destroyed while open: gone from the display, nothing told.
    auto second = std::make_unique<platform::PictureWindow>(
        "Second", [] { return platform::Image(); }, [&] { ++closes; });
    ASSERT_TRUE(shownWindow("Second"));
    second.reset();
    EXPECT_FALSE(shownWindow("Second"));
    platform::advanceBy(1);
    EXPECT_EQ(closes, 1);
}

}  // namespace
