// The header's progress of a page that starts loading while it waits in a preserved list
// (pushed during a held pop gesture): each load the header shows begins and ends once.
#include <gtest/gtest.h>

#include "tests/containers/NavigationTest.h"

namespace {

using Names = std::vector<std::string>;

class PageProgressWhilePreserving : public MVNavigationControllerTest {
  protected:
    void SetUp() override {
        MVNavigationControllerTest::SetUp();
        settleWith({page("A"), page("B")});
        tab->setPopGestureEnabled(true);
        told = header->eventNames().size();
    }
    platform::GestureRecognizer& recognizer() { return *tab->interactivePopGestureRecognizer(); }
    // The progress events the header got since SetUp, begins and ends only.
    Names progressEvents() const {
        Names names;
        const auto all = header->eventNames();
        for (size_t i = told; i < all.size(); ++i)
            if (all[i] == "beginPageProgress" || all[i] == "endPageProgress")
                names.push_back(all[i]);
        return names;
    }
    size_t told = 0;
};

TEST_F(PageProgressWhilePreserving, APageOpenedDuringAHeldPopBeginsAndEndsItsProgressOnce) {
    enum class Completed { AfterTheStart, AfterTheRendering };
    for (const auto completed : {Completed::AfterTheStart, Completed::AfterTheRendering}) {
        SCOPED_TRACE(completed == Completed::AfterTheStart ? "after the start" : "after rendering");
        told = header->eventNames().size();
        recognizer().begin({2, 200});
        recognizer().move({200, 0});
        ASSERT_TRUE(tab->isPreservingViewControllers());
        auto x = page("X");
        x->openUrl(kFirstDocument);
        tab->pushViewController(x, true);
        auto model = models->modelOf(*x->webViewFinal());
        ASSERT_TRUE(model);
        if (completed == Completed::AfterTheStart) {
            // The document stays loading until the gesture has ended.
            model->settings.readyState = "loading";
            ASSERT_TRUE(runUntilPolled([&] { return x->loadingProgress() > 0.05f; }, 10.0));
            ASSERT_TRUE(x->isLoading());
        } else {
            ASSERT_TRUE(runUntilPolled([&] { return !x->isLoading(); }, 10.0));
        }
        ASSERT_TRUE(tab->isPreservingViewControllers());
        recognizer().end(platform::Point{300, 0});
        ASSERT_TRUE(runUntilPolled(
            [&] {
                return !tab->isPreservingViewControllers() && tab->viewControllers().back() == x;
            },
            10.0));
        model->settings.readyState = "complete";
        ASSERT_TRUE(runUntilPolled([&] { return !x->isLoading(); }, 10.0));
        platform::advanceBy(1);
        ASSERT_EQ(tab->viewControllers().back(), x);
        ASSERT_FALSE(tab->isPreservingViewControllers());

        if (completed == Completed::AfterTheStart) {
            // The header hears of the load once the page is in the stack, with its URL.
            EXPECT_EQ(progressEvents(), (Names{"beginPageProgress", "endPageProgress"}));
            const auto all = header->eventNames();
            const auto begin = std::find(all.begin() + static_cast<std::ptrdiff_t>(told), all.end(),
                                         "beginPageProgress");
            ASSERT_NE(begin, all.end());
            ASSERT_NE(begin, all.begin() + static_cast<std::ptrdiff_t>(told));
            EXPECT_EQ(*(begin - 1), "updatePageProgressInfo");
        } else {
            // A load over before the page is in the stack is none the header shows.
            EXPECT_EQ(progressEvents(), Names{});
        }
        // Stack back to [A, B] for the next round.
        tab->pushViewController(page("B"), false);
        platform::advanceBy(1);
    }
}

}  // namespace
