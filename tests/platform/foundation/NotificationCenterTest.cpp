#include <gtest/gtest.h>

#include "platform/foundation/Exception.h"
#include "platform/foundation/NotificationCenter.h"

using platform::Notification;
using platform::NotificationCenter;

TEST(NotificationCenterTest, FiltersByNameAndSender) {
    NotificationCenter center;
    int a = 0, b = 0, all = 0, any = 0;
    int senderA, senderB;
    center.addObserver("N", &senderA, [&](const Notification&) { ++a; });
    center.addObserver("N", &senderB, [&](const Notification&) { ++b; });
    center.addObserver("N", nullptr, [&](const Notification&) { ++any; });
    center.addObserver("", nullptr, [&](const Notification&) { ++all; });
    center.post("N", &senderA);
    center.post("Other", &senderA);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(any, 1);
    EXPECT_EQ(all, 2);
}

TEST(NotificationCenterTest, ObserverRemovedDuringDeliveryIsNotCalled) {
    NotificationCenter center;
    NotificationCenter::Token second = 0;
    int secondCalls = 0;
    center.addObserver("N", nullptr, [&](const Notification&) { center.removeObserver(second); });
    second = center.addObserver("N", nullptr, [&](const Notification&) { ++secondCalls; });
    center.post("N");
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(center.observerCount(), 1u);
}

TEST(NotificationCenterTest, RegistrationRemovesOnDestructionAndCarriesTheObject) {
    NotificationCenter center;
    std::string key;
    {
        platform::ObserverRegistration reg(
            center, center.addObserver("K", nullptr, [&](const Notification& n) {
                key = std::any_cast<std::string>(n.object);
            }));
        center.post("K", nullptr, std::string("mv-api-page:home"));
    }
    EXPECT_EQ(key, "mv-api-page:home");
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST(ExceptionTest, AssertionsThrowTheNamedException) {
    try {
        platform::assertThat(false, "broken");
        FAIL();
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
        EXPECT_EQ(e.reason(), "broken");
    }
}
