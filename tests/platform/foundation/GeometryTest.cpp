#include <gtest/gtest.h>

#include "platform/foundation/Geometry.h"
#include "platform/ui/AffineTransform.h"

using platform::AffineTransform;
using platform::EdgeInsets;
using platform::Point;
using platform::Rect;
using platform::Size;

TEST(GeometryTest, TextForms) {
    struct Row {
        Rect rect;
        const char* text;
    } rows[] = {
        {Rect(0, 0, 320, 480), "{{0, 0}, {320, 480}}"},
        {Rect(-10, 20.5, 187.5, 0), "{{-10, 20.5}, {187.5, 0}}"},
        // Seventeen significant digits, as the platform prints them.
        {Rect(0.1, 0, 1, 1), "{{0.10000000000000001, 0}, {1, 1}}"},
    };
    for (auto& r : rows) EXPECT_EQ(platform::toString(r.rect), r.text);
    EXPECT_EQ(platform::toString(Point{3, -4}), "{3, -4}");
    EXPECT_EQ(platform::toString(Size{44, 0}), "{44, 0}");
    EXPECT_EQ(platform::toString(EdgeInsets{64, 0, 49, 0}), "{64, 0, 49, 0}");
}

TEST(GeometryTest, ContainmentIsHalfOpenAndEmptyRectsHoldNothing) {
    Rect r(10, 10, 100, 50);
    EXPECT_TRUE(r.contains(Point{10, 10}));
    EXPECT_FALSE(r.contains(Point{110, 10}));
    EXPECT_FALSE(r.contains(Point{10, 60}));
    EXPECT_TRUE(r.contains(Point{109.9, 59.9}));
    EXPECT_FALSE(Rect(0, 0, 0, 10).contains(Point{0, 0}));
    // A negative size is read standardised.
    EXPECT_TRUE(Rect(110, 60, -100, -50).contains(Point{10, 10}));
    EXPECT_TRUE(r.intersects(Rect(100, 50, 20, 20)));
    EXPECT_FALSE(r.intersects(Rect(110, 10, 5, 5)));
    EXPECT_EQ(EdgeInsets({64, 0, 49, 0}).inset(Rect(0, 0, 320, 480)), Rect(0, 64, 320, 367));
}

TEST(GeometryTest, AffineTransforms) {
    auto t = AffineTransform::scale(2, 3).concat(AffineTransform::translation(10, 20));
    EXPECT_EQ(t.apply(Point{1, 1}), (Point{12, 23}));
    auto back = t.inverted().apply(Point{12, 23});
    EXPECT_NEAR(back.x, 1, 1e-12);
    EXPECT_NEAR(back.y, 1, 1e-12);
    auto r = AffineTransform::rotation(M_PI / 2).apply(Point{1, 0});
    EXPECT_NEAR(r.x, 0, 1e-12);
    EXPECT_NEAR(r.y, 1, 1e-12);
    // A transform without an inverse comes back unchanged.
    auto flat = AffineTransform::scale(0, 1);
    EXPECT_EQ(flat.inverted(), flat);
    EXPECT_TRUE(AffineTransform::identity().isIdentity());
}
