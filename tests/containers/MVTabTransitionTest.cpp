// Tab transitions: the registry of kinds, the sequences and the two slides, driven step
// by step by a recording delegate in the tab controller's place.
#include <gtest/gtest.h>

#include "libmerovane/containers/MVTabTransition.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Animation.h"
#include "platform/ui/View.h"
#include "tests/support/PlatformTest.h"

namespace {

using platform::Rect;

// A kind that inherits its parent's type name.
class InheritingSlide : public MVTabTransitionSlideInFromBottom {
  public:
    static std::shared_ptr<InheritingSlide> create() {
        return std::shared_ptr<InheritingSlide>(new InheritingSlide);
    }
};

// A kind of its own that claims a taken name, and counts how often it makes its sequence.
class Twin : public MVTabTransition {
  public:
    static std::shared_ptr<Twin> create() { return std::shared_ptr<Twin>(new Twin); }
    static std::optional<std::string> transitionType() { return "slideInFromBottom"; }
    static inline int sequencesMade = 0;
    static inline bool noDictionary = false;

  protected:
    Twin() : MVTabTransition("Twin") {}
    std::shared_ptr<const Sequence> transitionSequence() const override {
        ++sequencesMade;
        return noDictionary ? nullptr : std::make_shared<const Sequence>();
    }
};

// A kind that names itself no type: left out of the registry.
class Unnamed : public MVTabTransition {
  public:
    static std::shared_ptr<Unnamed> create() { return std::shared_ptr<Unnamed>(new Unnamed); }
    static std::optional<std::string> transitionType() { return std::nullopt; }
};

// Runs each step when its time has come, as the tab controller does, and records when.
class Driver : public MVTabTransitionDelegate {
  public:
    void tabTransitionDidFinishTransitionStep(MVTabTransition& transition) override {
        const std::string step = *transition.nextTransitionStep();
        steps.push_back({step, platform::Clock::monotonicNanos()});
        transition.sequence().at(step)(transition, appearing, disappearing, bounds);
    }
    void start(MVTabTransition& transition) {
        transition.sequence().at(MVTabTransitionStepStart)(transition, appearing, disappearing,
                                                           bounds);
    }
    // When the step of that name was told, in manual-clock nanoseconds.
    int64_t told(const std::string& step) const {
        for (const auto& [name, nanos] : steps)
            if (name == step) return nanos;
        return -1;
    }

    Rect bounds{0, 0, 375, 667};
    MVTabTransition::View appearing = platform::View::create(Rect(0, 0, 375, 667));
    MVTabTransition::View disappearing = platform::View::create(Rect(0, 0, 375, 667));
    std::vector<std::pair<std::string, int64_t>> steps;
};

class MVTabTransitionTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        Twin::sequencesMade = 0;
        Twin::noDictionary = false;
    }
    // Expects the lookup to raise `Exception` with the name and reason, twice: a build
    // that raised keeps nothing.
    template <class Exception>
    void expectRegistryRaises(const std::string& name, const std::string& reason) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                MVTabTransition::transitionTypes();
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_EQ(e.name(), name);
                EXPECT_EQ(e.reason(), reason);
            }
        }
    }
    std::shared_ptr<MVTabTransition> make(const std::string& type) {
        return MVTabTransition::transitionTypes().at(type).factory();
    }

    std::shared_ptr<Driver> driver = std::make_shared<Driver>();
};

TEST_F(MVTabTransitionTest, TheTwoKindsAreRegisteredByTheirNames) {
    MVTabTransition::registrations().push_back(MVTabTransition::registration<Unnamed>("Unnamed"));
    const auto& types = MVTabTransition::transitionTypes();
    ASSERT_EQ(types.size(), 2u);
    auto in = make("slideInFromBottom");
    auto out = make("slideOutToBottom");
    EXPECT_TRUE(std::dynamic_pointer_cast<MVTabTransitionSlideInFromBottom>(in));
    EXPECT_TRUE(std::dynamic_pointer_cast<MVTabTranstitionSlideOutToBottom>(out));
    EXPECT_EQ(out->className(), "MVTabTranstitionSlideOutToBottom");
    EXPECT_FALSE(in->transitionViewHierarchy());
    EXPECT_TRUE(out->transitionViewHierarchy());
    EXPECT_EQ(in->speedFactor(), 1.0);
    EXPECT_FALSE(in->nextTransitionStep());
    EXPECT_EQ(&MVTabTransition::transitionTypes(), &types);  // built once
}

TEST_F(MVTabTransitionTest, AKindThatInheritsItsTypeNameRaises) {
    MVTabTransition::registrations().push_back(
        MVTabTransition::registration<InheritingSlide, MVTabTransitionSlideInFromBottom>("X"));
    expectRegistryRaises<MVTabTransitionTypeNotGiven>(
        "MVTabTransition - type not given", "MVTabTransition type not given in subclass: \"X\".");
}

TEST_F(MVTabTransitionTest, TwoKindsWithOneNameRaiseWhateverTheirOrder) {
    auto& list = MVTabTransition::registrations();
    const char* reason = "MVTabTransition type has given twice: \"slideInFromBottom\".\n";
    list.push_back(MVTabTransition::registration<Twin>("Twin"));
    expectRegistryRaises<MVTabTransitionTypeGivenTwiceException>("MVTransition - type given twice",
                                                                 reason);
    std::rotate(list.begin(), list.end() - 1, list.end());
    ASSERT_EQ(list.front().className, "Twin");
    expectRegistryRaises<MVTabTransitionTypeGivenTwiceException>("MVTransition - type given twice",
                                                                 reason);
}

TEST_F(MVTabTransitionTest, SequencesAreMadeOncePerKindAndMustBeDictionaries) {
    Twin::create()->sequence();
    Twin::create()->sequence();
    EXPECT_EQ(Twin::sequencesMade, 1);

    auto base = MVTabTransition::create();
    try {
        base->sequence();
        ADD_FAILURE();
    } catch (const MVTabTransitionSequenceNotImplementedException& e) {
        EXPECT_EQ(e.name(), "The tab transition sequence method is not implemented");
        EXPECT_EQ(e.reason(),
                  "The tab transition sequence method is not implemented in class "
                  "\"MVTabTransition\".");
    }
    try {
        base->transitionViewHierarchy();
        ADD_FAILURE();
    } catch (const MVTabTransitionViewHierarchyNotGivenException& e) {
        EXPECT_EQ(e.name(),
                  "The class method <transitionViewHierarchy> is not implemented in a "
                  "MVTabTransition");
        EXPECT_EQ(e.reason(),
                  "The class method <transitionViewHierarchy> is not implemented in "
                  "\"MVTabTransition\".");
    }
    EXPECT_FALSE(MVTabTransition::transitionType());
}

TEST_F(MVTabTransitionTest, ASequenceThatIsNoDictionaryRaises) {
    Twin::noDictionary = true;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            Twin::create()->sequence();
            ADD_FAILURE();
        } catch (const MVTabTransitionSequenceCreationException& e) {
            EXPECT_EQ(e.name(), "The tab transition sequence is not from type NSDictionary");
            EXPECT_EQ(e.reason(),
                      "The tab transition sequence in class \"Twin\" is not from type "
                      "NSDictionary.");
        }
    }
}

struct Timing {
    double speedFactor;
    int64_t finishedAfterNanos;
};

class SlideTimings : public MVTabTransitionTest, public ::testing::WithParamInterface<Timing> {};

TEST_P(SlideTimings, SlideInFromBottomRunsItsStepsOnTime) {
    auto transition = make("slideInFromBottom");
    transition->setSpeedFactor(GetParam().speedFactor);
    transition->setDelegate(driver);
    platform::clearAnimationLog();

    driver->start(*transition);
    EXPECT_EQ(driver->appearing->frame(), Rect(0, 667, 375, 667));
    EXPECT_EQ(driver->disappearing->frame(), Rect(0, 0, 375, 667));
    EXPECT_EQ(transition->nextTransitionStep(), MVTabTransitionStepAnimation);
    EXPECT_TRUE(driver->steps.empty());

    const int64_t started = platform::Clock::monotonicNanos();
    platform::runUntilIdle();  // the next turn
    ASSERT_EQ(driver->steps.size(), 1u);
    EXPECT_EQ(driver->told(MVTabTransitionStepAnimation), started);
    auto runs = platform::animationLog();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_DOUBLE_EQ(runs[0].duration, 0.3 * GetParam().speedFactor);
    EXPECT_TRUE(runs[0].animated);
    EXPECT_EQ(driver->appearing->frame(), Rect(0, 0, 375, 667));
    EXPECT_EQ(transition->nextTransitionStep(), MVTabTransitionStepFinished);

    platform::advanceBy(2);
    ASSERT_EQ(driver->steps.size(), 2u);
    EXPECT_EQ(driver->told(MVTabTransitionStepFinished) - started, GetParam().finishedAfterNanos);
    EXPECT_EQ(platform::animationLog().size(), 1u);  // Finished does nothing
}

INSTANTIATE_TEST_SUITE_P(SpeedFactors, SlideTimings,
                         ::testing::Values(Timing{2, 600'000'000}, Timing{0.5, 150'000'000}));

TEST_F(MVTabTransitionTest, SlideOutToBottomMovesTheDisappearingViewDown) {
    auto transition = make("slideOutToBottom");
    transition->setDelegate(driver);
    driver->appearing->setFrame(Rect(10, 10, 100, 100));
    platform::clearAnimationLog();

    const int64_t started = platform::Clock::monotonicNanos();
    driver->start(*transition);
    EXPECT_EQ(driver->appearing->frame(), Rect(0, 0, 375, 667));
    platform::runUntilIdle();
    EXPECT_EQ(driver->disappearing->frame(), Rect(0, 667, 375, 667));
    ASSERT_EQ(platform::animationLog().size(), 1u);
    EXPECT_DOUBLE_EQ(platform::animationLog()[0].duration, 0.3);
    platform::advanceBy(1);
    EXPECT_EQ(driver->told(MVTabTransitionStepFinished) - started, 300'000'000);
}

TEST_F(MVTabTransitionTest, ATransitionReleasedBeforeItsTimerLeavesTheTimerIdle) {
    auto transition = make("slideInFromBottom");
    transition->setDelegate(driver);
    driver->start(*transition);
    platform::runUntilIdle();
    ASSERT_EQ(driver->steps.size(), 1u);

    transition.reset();
    platform::advanceBy(1);
    EXPECT_EQ(driver->steps.size(), 1u);
}

TEST_F(MVTabTransitionTest, PerformNamesTheStepAndSchedulesAtOnce) {
    auto transition = make("slideInFromBottom");
    transition->setDelegate(driver);
    std::vector<double> scheduled;
    MVTabTransition::perform([&](double duration) { scheduled.push_back(duration); }, transition,
                             "custom", 0.25);
    EXPECT_EQ(scheduled, std::vector<double>{0.25});
    EXPECT_EQ(transition->nextTransitionStep(), "custom");
    platform::advanceBy(0.2);
    EXPECT_TRUE(driver->steps.empty());
}

}  // namespace
