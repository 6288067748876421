// Action sheets: which command a tap and the time-out run, for which page.
#include <gtest/gtest.h>

#include "libmerovane/core/MVActionSheetInterface.h"
#include "libmerovane/overlays/MVActionSheet.h"
#include "libmerovane/overlays/MVAlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "tests/overlays/OverlayTest.h"

using nlohmann::json;

namespace {

class MVActionSheetTest : public OverlayTest {
  protected:
    void SetUp() override {
        OverlayTest::SetUp();
        window_->makeKeyAndVisible();
    }
    static std::shared_ptr<MVActionSheet> shownSheet() {
        auto sheets = platform::ActionSheet::shownActionSheets();
        return sheets.empty() ? nullptr : std::dynamic_pointer_cast<MVActionSheet>(sheets.back());
    }
    static json sheetButton(const std::string& title, int n) {
        return {{"title", title}, {"cmd", probe(n)}};
    }
    // Cancel (0), destructive (1) and three further buttons (2, 3, 4).
    static json fullSheet() {
        return {{"title", "Share"},
                {"cancelButton", sheetButton("Cancel", 0)},
                {"destructiveButton", sheetButton("Delete", 1)},
                {"buttons", {sheetButton("A", 2), sheetButton("B", 3), sheetButton("C", 4)}},
                {"timeoutCmd", probe(9)}};
    }

    std::shared_ptr<platform::Window> window_ =
        platform::Window::create(platform::Rect(0, 0, 320, 480));
};

TEST_F(MVActionSheetTest, ATapRunsItsButtonsCommandAfterTheSpecialButtons) {
    MVActionSheet::showActionSheet(fullSheet(), page);
    auto sheet = shownSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->shownInView(), window_);
    EXPECT_EQ(sheet->numberOfButtons(), 5);
    EXPECT_EQ(sheet->params(), fullSheet());
    sheet->pressButtonForTesting(4);
    EXPECT_EQ(probes(), (std::vector<Probe>{{"2.1", 4, page.get()}}));

    // the platform numbers the destructive button first
    for (int index : {0, 1}) {
        MVActionSheet::showActionSheet(fullSheet(), page);
        shownSheet()->pressButtonForTesting(index);
    }
    EXPECT_EQ(probes()[1].n, 1);
    EXPECT_EQ(probes()[2].n, 0);

    MVActionSheet::showActionSheet({{"buttons", {sheetButton("A", 2), {{"title", "no cmd"}}, 7}}},
                                   nullptr);
    sheet = shownSheet();
    EXPECT_EQ(sheet->numberOfButtons(), 3);
    sheet->pressButtonForTesting(0);
    EXPECT_EQ(probes().back(), (Probe{"2.1", 2, nullptr}));
    for (int index : {1, 2}) {
        MVActionSheet::showActionSheet({{"buttons", {sheetButton("A", 2), {{"title", "x"}}, 7}}},
                                       nullptr);
        shownSheet()->pressButtonForTesting(index);
    }
    EXPECT_EQ(probes().size(), 4u);
}

TEST_F(MVActionSheetTest, TheTimeOutDismissesAndRunsItsCommand) {
    json timed = fullSheet();
    timed["timeout"] = 2.5;
    MVActionSheet::showActionSheet(timed, page);
    auto sheet = shownSheet();
    platform::advanceBy(2.49);
    EXPECT_TRUE(sheet->isVisible());
    platform::advanceBy(0.01);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(probes(), (std::vector<Probe>{{"2.1", 9, page.get()}}));
    sheet->actionSheetClickedButtonAtIndex(4);  // a tap that raced the dismissal
    EXPECT_EQ(probes().size(), 1u);

    // a tap first: the time-out does nothing
    MVActionSheet::showActionSheet(timed, page);
    shownSheet()->pressButtonForTesting(2);
    platform::advanceBy(5);
    EXPECT_EQ(probes().size(), 2u);
    EXPECT_EQ(probes().back().n, 2);

    // 0, negative and absent: the sheet stays
    for (const json& timeout : {json(0), json(-1), json()}) {
        json untimed = fullSheet();
        if (!timeout.is_null()) untimed["timeout"] = timeout;
        MVActionSheet::showActionSheet(untimed, page);
    }
    platform::advanceBy(1000);
    EXPECT_EQ(platform::ActionSheet::shownActionSheets().size(), 3u);
    EXPECT_EQ(probes().size(), 2u);
}

// What an unanswered question costs: the asking page is held until the answer, a tap or
// the time-out; without a time-out and without a tap (the shell takes none), for good.
TEST_F(MVActionSheetTest, TheAskingPageIsHeldUntilTheAnswer) {
    const json onTimeout = probeCollection(9);
    for (const bool isSheet : {true, false}) {
        for (const std::optional<double> timeout :
             {std::optional<double>(2), std::optional<double>()}) {
            SCOPED_TRACE(std::string(isSheet ? "sheet" : "alert") + (timeout ? " timed" : ""));
            auto asking = MVWebView::create(platform::Rect(0, 0, 320, 480));
            std::weak_ptr<MVWebView> held = asking;
            json sheet = fullSheet();
            if (timeout) sheet["timeout"] = *timeout;
            if (isSheet)
                MVActionSheet::showActionSheet(sheet, asking);
            else
                MVAlertView::showAlertWithTitle("T", std::nullopt, std::nullopt, {}, timeout,
                                                &onTimeout, asking);
            asking.reset();
            platform::advanceBy(1);
            EXPECT_FALSE(held.expired());
            platform::advanceBy(1000);
            EXPECT_EQ(held.expired(), timeout.has_value());
            if (held.expired()) continue;
            if (isSheet)
                shownSheet()->pressButtonForTesting(0);
            else
                platform::AlertView::shownAlerts().back()->dismissWithClickedButtonIndex(-1, false);
            platform::runUntilIdle();
            EXPECT_TRUE(held.expired());
        }
    }
}

TEST_F(MVActionSheetTest, TheShowActionSheetCommandReachesTheInstalledSheets) {
    MVActionSheet::install();
    json timed = fullSheet();
    timed["timeout"] = 1;
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "1.0"}, {"cmds", {{{"c", "showActionSheet"}, {"p", timed}}}}}, page);
    auto sheet = shownSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->fromWebView(), page);
    platform::advanceBy(1);
    EXPECT_EQ(probes(), (std::vector<Probe>{{"2.1", 9, page.get()}}));
}

TEST_F(MVActionSheetTest, ATimeOutBeyondTheLargestFloatNeverFires) {
    for (const double timeout : {3.5e38, 1e300}) {
        json timed = fullSheet();
        timed["timeout"] = timeout;
        MVActionSheet::showActionSheet(timed, page);
    }
    platform::advanceBy(1e6);
    EXPECT_EQ(platform::ActionSheet::shownActionSheets().size(), 2u);
    EXPECT_TRUE(probes().empty());
}

}  // namespace
