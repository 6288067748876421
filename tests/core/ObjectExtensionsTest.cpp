#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "libmerovane/core/MVWeakArray.h"
#include "libmerovane/core/ObjectExtensions.h"
#include "platform/foundation/TestDriver.h"

TEST(ObjectExtensionsTest, PerformBlockRunsOnceAfterTheDelayOnTheMainQueue) {
    std::vector<std::string> ran;
    performBlock([&] { ran.push_back("late"); }, 0.3);
    performBlock([&] { ran.push_back("soon"); }, 0.1);
    performBlock([&] { ran.push_back("next turn"); }, 0);
    EXPECT_TRUE(ran.empty());  // never inside the call
    platform::runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"next turn"}));
    platform::advanceBy(0.1);
    EXPECT_EQ(ran, (std::vector<std::string>{"next turn", "soon"}));
    platform::advanceBy(0.19);
    EXPECT_EQ(ran.size(), 2u);
    platform::advanceBy(0.01);
    EXPECT_EQ(ran, (std::vector<std::string>{"next turn", "soon", "late"}));
    platform::advanceBy(1);
    EXPECT_EQ(ran.size(), 3u);
}

TEST(ObjectExtensionsTest, PerformBlockFromAnotherThreadRunsOnTheMainThread) {
    std::atomic<bool> onMain{false};
    std::thread([&] { performBlock([&] { onMain = platform::isMainThread(); }, 0.05); }).join();
    platform::advanceBy(0.05);
    EXPECT_TRUE(onMain);
}

TEST(ObjectExtensionsTest, CGPointNormalizeGivesTheUnitVector) {
    struct Row {
        platform::Point in, out;
    } rows[] = {
        {{3, 4}, {0.6, 0.8}},
        {{0, 0}, {0, 0}},
        {{-2, 0}, {-1, 0}},
        {{0, 1e-100}, {0, 1}},
        {{5, -5}, {M_SQRT1_2, -M_SQRT1_2}},
    };
    for (const auto& row : rows) {
        auto p = CGPointNormalize(row.in);
        EXPECT_DOUBLE_EQ(p.x, row.out.x) << row.in.x << "," << row.in.y;
        EXPECT_DOUBLE_EQ(p.y, row.out.y) << row.in.x << "," << row.in.y;
    }
}

namespace {
struct Subscriber {
    std::string name;
    std::vector<std::string>* calls;
};
}  // namespace

TEST(MVWeakArrayTest, HoldsNothingAndDropsFreedElements) {
    std::vector<std::string> calls;
    auto a = std::make_shared<Subscriber>(Subscriber{"a", &calls});
    auto b = std::make_shared<Subscriber>(Subscriber{"b", &calls});
    auto c = std::make_shared<Subscriber>(Subscriber{"c", &calls});
    MVWeakArray<Subscriber> array;
    array.add(a);
    array.add(b);
    array.add(c);
    EXPECT_EQ(a.use_count(), 1);
    b.reset();  // freed without being removed first
    auto strong = array.copyWithStrongReferences();
    ASSERT_EQ(strong.size(), 2u);
    EXPECT_EQ(strong[0]->name, "a");
    EXPECT_EQ(strong[1]->name, "c");
    array.delegateRunMainThread([](Subscriber& s) { s.calls->push_back(s.name); });
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "c"}));
    array.remove(a.get());
    EXPECT_FALSE(array.contains(a.get()));
    EXPECT_TRUE(array.contains(c.get()));
}

TEST(MVWeakArrayTest, PerformOnMainThreadRunsAtOnceThereAndKeepsElementsAliveWhenPosted) {
    std::vector<std::string> calls;
    auto a = std::make_shared<Subscriber>(Subscriber{"a", &calls});
    MVWeakArray<Subscriber> array;
    array.add(a);
    array.performDelegateRunOnMainThread(
        [](Subscriber& s) { s.calls->push_back(s.name + " at once"); });
    EXPECT_EQ(calls, (std::vector<std::string>{"a at once"}));

    std::thread([&] {
        array.performDelegateRunOnMainThread(
            [](Subscriber& s) { s.calls->push_back(s.name + " posted"); });
    }).join();
    std::weak_ptr<Subscriber> watch = a;
    a.reset();  // the posted call still holds it
    EXPECT_FALSE(watch.expired());
    platform::runUntilIdle();
    EXPECT_EQ(calls, (std::vector<std::string>{"a at once", "a posted"}));
    EXPECT_TRUE(watch.expired());
}
