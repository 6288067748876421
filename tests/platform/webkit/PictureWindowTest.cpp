// The window that shows a picture on the display: drawn again while open, closing it by
// hand tells the owner once, and so does each change between minimised and restored.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

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

TEST_F(PictureWindowTest, TellsOfBeingMinimisedAndRestoredOncePerChange) {
    auto window = std::make_unique<platform::PictureWindow>(
        "Minimised",
        [] {
            return platform::Image(40, 30, 1, {30, 107, 82, 255});
        },
        [] {});
    std::vector<bool> told;
    window->setMinimisedHandler([&](bool minimised) { told.push_back(minimised); });
    GtkWidget* shown = GTK_WIDGET(shownWindow("Minimised"));
    ASSERT_TRUE(shown);
    // What the window manager's state changes look like to the window (a virtual display
    // has no window manager to minimise it).
    auto state = [&](GdkWindowState now) {
        GdkEvent* event = gdk_event_new(GDK_WINDOW_STATE);
        event->window_state.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(shown)));
        event->window_state.changed_mask = GDK_WINDOW_STATE_ICONIFIED;
        event->window_state.new_window_state = now;
        gtk_widget_event(shown, event);
        gdk_event_free(event);
    };
    state(GDK_WINDOW_STATE_ICONIFIED);
    state(GdkWindowState(GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_FOCUSED));
    state(GDK_WINDOW_STATE_FOCUSED);
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
}

}  // namespace
