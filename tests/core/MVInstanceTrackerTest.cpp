#include <gtest/gtest.h>

#include "libmerovane/core/MVInstanceTracking.h"
#include "platform/foundation/Exception.h"

namespace {

class MVTrackedMenu : public MVInstanceTracking<MVTrackedMenu> {
  public:
    static std::shared_ptr<MVTrackedMenu> create() {
        return track(std::shared_ptr<MVTrackedMenu>(new MVTrackedMenu));
    }
};

class MVTrackedStack : public MVInstanceTracking<MVTrackedStack> {
  public:
    static bool shouldInstanceTrackerUseStrongReference() { return true; }
    static std::shared_ptr<MVTrackedStack> create() {
        return track(std::shared_ptr<MVTrackedStack>(new MVTrackedStack));
    }
};

// A bare value with an identifier, for the tracker on its own.
struct Named {
    std::optional<std::string> id;
    const std::optional<std::string>& identifier() const { return id; }
};

template <class F>
platform::Exception raised(F&& f) {
    try {
        f();
    } catch (const platform::Exception& e) {
        return e;
    }
    ADD_FAILURE() << "nothing raised";
    return platform::Exception("", "");
}

}  // namespace

TEST(MVInstanceTrackerTest, FirstInstanceIsTheDefaultAndIdentifiersFindInstances) {
    auto primary = MVTrackedMenu::create();
    auto secondary = MVTrackedMenu::create();
    EXPECT_EQ(MVTrackedMenu::sharedDefaultInstance(), primary);
    primary->setIdentifier("primary");
    secondary->setIdentifier("secondary");
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("primary"), primary);
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("secondary"), secondary);
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("tertiary"), nullptr);
    EXPECT_EQ(MVTrackedMenu::allSharedIdentifiedInstances().size(), 2u);
    secondary->makeDefault();
    EXPECT_EQ(MVTrackedMenu::sharedDefaultInstance(), secondary);
}

TEST(MVInstanceTrackerTest, DuplicateIdentifierRaisesWithAllThreeValues) {
    auto first = MVTrackedMenu::create();
    auto second = MVTrackedMenu::create();
    first->setIdentifier("primary");
    auto e = raised([&] { second->setIdentifier("primary"); });
    EXPECT_EQ(e.name(), MVInstanceTrackerDuplicateIdentifierException);
    EXPECT_EQ(e.name(), std::string("Duplicate use of identifier for instance tracking!"));
    char expected[256];
    std::snprintf(
        expected, sizeof expected,
        "The identifier :\"primary\" for instance: \"<(anonymous namespace)::MVTrackedMenu: %p>\" "
        "has already been used for instance: \"<(anonymous namespace)::MVTrackedMenu: %p>\".\n",
        static_cast<void*>(second.get()), static_cast<void*>(first.get()));
    EXPECT_EQ(e.reason(), expected);
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("primary"), first);
}

TEST(MVInstanceTrackerTest, RenamedInstanceStaysFoundUnderBothNamesUntilNoIdentifierUnregistersIt) {
    auto menu = MVTrackedMenu::create();
    auto other = MVTrackedMenu::create();
    menu->setIdentifier("old");
    menu->setIdentifier("old");  // the same name again: no duplicate
    menu->setIdentifier("new");
    other->setIdentifier("other");
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("new"), menu);
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("old"), menu);
    menu->setIdentifier(std::nullopt);
    EXPECT_EQ(menu->identifier(), std::nullopt);
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("old"), nullptr);
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("new"), nullptr);
    EXPECT_EQ(MVTrackedMenu::allSharedIdentifiedInstances(),
              (std::vector<std::shared_ptr<MVTrackedMenu>>{other}));
    // The name is free again.
    other->setIdentifier("old");
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("old"), other);
}

TEST(MVInstanceTrackerTest, FreedWeakInstanceLeavesLookupsAndTheDefault) {
    auto first = MVTrackedMenu::create();
    first->setIdentifier("primary");
    EXPECT_NO_THROW(first.reset());  // still the default: destroyed quietly
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("primary"), nullptr);
    EXPECT_EQ(MVTrackedMenu::sharedDefaultInstance(), nullptr);
    EXPECT_TRUE(MVTrackedMenu::allSharedIdentifiedInstances().empty());
    // With no live default, the next instance becomes it; the name is free.
    auto next = MVTrackedMenu::create();
    EXPECT_EQ(MVTrackedMenu::sharedDefaultInstance(), next);
    next->setIdentifier("primary");
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("primary"), next);
}

TEST(MVInstanceTrackerTest, RemovingAllKeepsTheDefault) {
    auto menu = MVTrackedMenu::create();
    menu->setIdentifier("primary");
    MVTrackedMenu::removeAllSharedInstances();
    EXPECT_EQ(MVTrackedMenu::sharedInstanceForIdentifier("primary"), nullptr);
    EXPECT_EQ(MVTrackedMenu::sharedDefaultInstance(), menu);
}

TEST(MVInstanceTrackerTest, StrongTrackerKeepsInstancesAliveUntilRemoved) {
    auto stack = MVTrackedStack::create();
    std::weak_ptr<MVTrackedStack> watch = stack;
    stack->setIdentifier("tab1");
    stack.reset();
    ASSERT_FALSE(watch.expired());
    EXPECT_EQ(MVTrackedStack::sharedInstanceForIdentifier("tab1"), watch.lock());
    // The default is weak even here, but the table keeps the instance alive.
    EXPECT_EQ(MVTrackedStack::sharedDefaultInstance(), watch.lock());
    // Dropping the last reference inside the tracker runs the destructor, which
    // calls back into the tracker: no deadlock.
    MVTrackedStack::removeAllSharedInstances();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(MVTrackedStack::sharedDefaultInstance(), nullptr);

    auto again = MVTrackedStack::create();
    watch = again;
    again->setIdentifier("tab2");
    again->setIdentifier(std::nullopt);  // the only strong holder besides `again`
    again.reset();
    EXPECT_TRUE(watch.expired());
}

TEST(MVInstanceTrackerTest, NilDefaultRaisesWithTheClassName) {
    MVInstanceTracker<Named> tracker;
    auto e = raised([&] { tracker.setDefaultInstance(nullptr); });
    EXPECT_EQ(e.name(), MVInstanceTrackerDefaultInstanceCannotBeNilException);
    EXPECT_EQ(
        e.reason(),
        "The defaultInstance in MVInstanceTracking for class: <\"(anonymous namespace)::Named\"> "
        "cannot be set nil! There should always be a default instance!");
}

TEST(MVInstanceTrackerTest, TrackerOnItsOwn) {
    MVInstanceTracker<Named> tracker;
    auto a = std::make_shared<Named>(Named{"a"});
    auto b = std::make_shared<Named>(Named{"b"});
    tracker.setInstance(a, "a");
    tracker.setInstance(b, "b");
    // A direct call under a new name moves the instance's current entry.
    tracker.setInstance(a, "c");
    EXPECT_EQ(tracker.instanceForIdentifier("a"), nullptr);
    EXPECT_EQ(tracker.instanceForIdentifier("c"), a);
    // An entry held by another instance under this one's name is not dropped.
    auto impostor = std::make_shared<Named>(Named{"b"});
    tracker.setInstance(impostor, "d");
    EXPECT_EQ(tracker.instanceForIdentifier("b"), b);
    EXPECT_EQ(tracker.instanceForIdentifier("d"), impostor);
    tracker.instanceDeallocated(b.get());
    EXPECT_EQ(tracker.instanceForIdentifier("b"), nullptr);
    EXPECT_NO_THROW(tracker.instanceDeallocated(a.get()));
    EXPECT_EQ(tracker.allIdentifidedInstances(), (std::vector<std::shared_ptr<Named>>{impostor}));
}
