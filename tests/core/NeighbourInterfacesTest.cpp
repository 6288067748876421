// The seams to the overlays and the container chain before anything is installed, and
// with something installed.
#include <gtest/gtest.h>

#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/MVViewControllerHierarchyInterface.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/PlatformTest.h"

namespace {

using NeighbourInterfacesTest = PlatformTest;
using Overlay = MVActivityIndicationOverlayInterface;

TEST_F(NeighbourInterfacesTest, TheNullOverlayFinishesItsFadesAtTheNextTurn) {
    auto overlay = Overlay::overlayWithFullScreenAndViewToBlur(nullptr, false, "Loading");
    ASSERT_TRUE(overlay);
    std::vector<std::string> finished;
    overlay->setTitle(std::nullopt);
    overlay->setButtonWithTitle(
        "Close", [] {}, false);
    overlay->fadeInWithDuration(0.3, [&](bool f) { finished.push_back(f ? "in" : "in:false"); });
    overlay->fadeOutWithDuration(0.3, [&](bool f) { finished.push_back(f ? "out" : "out:false"); });
    overlay->fadeOutWithDuration(0.3, nullptr);
    EXPECT_TRUE(finished.empty());  // never inside the call
    platform::runUntilIdle();
    EXPECT_EQ(finished, (std::vector<std::string>{"in", "out"}));
}

TEST_F(NeighbourInterfacesTest, WithoutInstallationThereIsNoSplashAndNoHierarchy) {
    EXPECT_EQ(MVSplashScreenInterface::shared(), nullptr);
    EXPECT_FALSE(MVSplashScreenInterface::isSplashScreenVisible());
    EXPECT_EQ(
        MVViewControllerHierarchyInterface::hierarchyWithControllers({{"MVTabController", {}}}),
        nullptr);
}

}  // namespace
