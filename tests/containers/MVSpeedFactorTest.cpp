// The speed-factor rules of the containers, bars and menus.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "libmerovane/containers/MVSpeedFactor.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(MVSpeedFactorTest, EachRuleTreatsAbsentZeroAndNegativeFactorsItsOwnWay) {
    struct Case {
        std::optional<double> factor;
        double absolute, asGiven, positive;
    } cases[] = {
        {std::nullopt, 1, 1, 1},
        {2, 2, 2, 2},
        {0.5, 0.5, 0.5, 0.5},
        {0, 1, 0, 1},
        {-2, 2, -2, 1},
        {kNaN, 1, 1, 1},
        {kInf, 1, 1, 1},
        {-kInf, 1, 1, 1},
        {1e300, 100, 100, 100},
        {-1e300, 100, -100, 1},
        // checked in single precision: too small for a float is 0
        {1e-50, 1, 0, 1},
        {-1e-50, 1, 0, 1},
        {0.1, 0.1f, 0.1f, 0.1f},
        {1e-40, 1e-40f, 1e-40f, 1e-40f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.factor ? std::to_string(*c.factor) : "absent");
        EXPECT_EQ(MVSpeedFactorAbsolute(c.factor), c.absolute);
        EXPECT_EQ(MVSpeedFactorAsGiven(c.factor), c.asGiven);
        EXPECT_EQ(MVSpeedFactorPositive(c.factor), c.positive);
    }
}

TEST(MVSpeedFactorTest, BaseDurations) {
    EXPECT_EQ(kMVTabTransitionDuration, 0.3);
    EXPECT_EQ(kMVMenuBarDuration, static_cast<double>(0.3f));
    EXPECT_NE(kMVMenuBarDuration, 0.3);
    EXPECT_EQ(MVBackgroundMenuDuration(0.45), 0.45);
    EXPECT_EQ(MVBackgroundMenuDuration(0.01), 0.3);
    EXPECT_EQ(MVBackgroundMenuDuration(0), 0.3);
    EXPECT_EQ(MVBackgroundMenuDuration(kNaN), 0.3);
}

}  // namespace
