#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/ui/ActionSheet.h"
#include "platform/ui/ActivityViewController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/PopoverController.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

class SheetPresentationTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        window->makeKeyAndVisible();
    }
    std::shared_ptr<Window> window = Window::create(Rect(0, 0, 768, 1024));
};

class RecordingSheetDelegate : public ActionSheetDelegate {
  public:
    void actionSheetClickedButtonAtIndex(ActionSheet&, int i) override { note("clicked", i); }
    void actionSheetWillDismissWithButtonIndex(ActionSheet&, int i) override { note("will", i); }
    void actionSheetDidDismissWithButtonIndex(ActionSheet&, int i) override { note("did", i); }
    void note(const char* what, int index) { calls.push_back(what + std::to_string(index)); }
    std::vector<std::string> calls;
};

}  // namespace

TEST_F(SheetPresentationTest, ActionSheetNumbersDestructiveThenCancelThenTheRest) {
    struct Row {
        std::optional<std::string> cancel, destructive;
        int cancelIndex, destructiveIndex, firstAdded;
    };
    for (const Row& row :
         {Row{"Cancel", "Delete", 1, 0, 2}, Row{"Cancel", std::nullopt, 0, -1, 1},
          Row{std::nullopt, "Delete", -1, 0, 1}, Row{std::nullopt, std::nullopt, -1, -1, 0}}) {
        auto sheet = ActionSheet::create("Title", {}, row.cancel, row.destructive);
        EXPECT_EQ(sheet->cancelButtonIndex(), row.cancelIndex);
        EXPECT_EQ(sheet->destructiveButtonIndex(), row.destructiveIndex);
        EXPECT_EQ(sheet->addButtonWithTitle("One"), row.firstAdded);
    }

    auto delegate = std::make_shared<RecordingSheetDelegate>();
    auto sheet = ActionSheet::create("Title", delegate, "Cancel", "Delete");
    for (auto t : {"One", "Two", "Three"}) sheet->addButtonWithTitle(t);
    EXPECT_EQ(sheet->buttonTitleAtIndex(4), "Three");
    sheet->showInView(window);
    EXPECT_EQ(ActionSheet::shownActionSheets(), std::vector{sheet});
    EXPECT_EQ(sheet->shownInView(), window);
    sheet->pressButtonForTesting(4);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"clicked4", "will4", "did4"}));

    delegate->calls.clear();
    sheet->showInView(window);
    sheet->dismissWithClickedButtonIndex(-1, true);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"will-1", "did-1"}));
    EXPECT_TRUE(Application::shared().presentations().empty());

    sheet->showInView(nullptr);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(logged("shown in no view"));
}

TEST_F(SheetPresentationTest, TheShareSheetHasAPopoverOnlyOnAPad) {
    auto root = ViewController::create();
    window->setRootViewController(root);
    auto phoneSheet = ActivityViewController::create({std::string("Title"), Image(2, 2)});
    EXPECT_EQ(phoneSheet->popoverPresentationController(), nullptr);
    EXPECT_EQ(phoneSheet->modalPresentationStyle(), ModalPresentationStyle::FullScreen);
    EXPECT_EQ(phoneSheet->activityItems().size(), 2u);

    Device::current().setUserInterfaceIdiom(UserInterfaceIdiom::Pad);
    auto sheet = ActivityViewController::create({std::string("Title")});
    sheet->setExcludedActivityTypes({"print", "mail", "assign"});
    EXPECT_EQ(sheet->excludedActivityTypes(),
              (std::vector<std::string>{"print", "mail", "assign"}));
    auto popover = sheet->popoverPresentationController();
    ASSERT_NE(popover, nullptr);
    popover->setSourceView(window);
    popover->setSourceRect(Rect(10, 20, 30, 40));
    EXPECT_EQ(popover->sourceView(), window);
    EXPECT_EQ(popover->sourceRect(), Rect(10, 20, 30, 40));
    EXPECT_EQ(popover->permittedArrowDirections(), kPopoverArrowDirectionAny);
    root->presentViewController(sheet, true);
    EXPECT_EQ(root->presentedViewController(), sheet);
    runUntilIdle();
}

TEST_F(SheetPresentationTest, APopoverIsHeldWhileShownAndNeedsAViewInAWindow) {
    auto sheet = ActivityViewController::create({});
    sheet->setModalPresentationStyle(ModalPresentationStyle(4));
    auto popover = PopoverController::create(sheet);
    EXPECT_EQ(popover->contentViewController(), sheet);
    EXPECT_THROW(PopoverController::create(nullptr), Exception);
    try {
        popover->presentFromRect(Rect(), View::create(), 0, true);
        FAIL() << "presented from a view in no window";
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), kInternalInconsistencyException);
    }
    EXPECT_FALSE(popover->isPopoverVisible());

    popover->presentFromRect(Rect(384, 512, 0, 0), window, 0, true);
    EXPECT_EQ(PopoverController::shownPopovers(), std::vector{popover});
    EXPECT_EQ(popover->presentedFromRect(), Rect(384, 512, 0, 0));
    EXPECT_EQ(popover->presentedInView(), window);
    EXPECT_EQ(popover->permittedArrowDirections(), 0u);
    popover->dismissPopoverAnimated(true);
    EXPECT_TRUE(Application::shared().presentations().empty());
}
