#pragma once
// Fixture for the notification tests: a controller on a 375 by 667 overlay, the manual
// clock read in seconds since the test began, and a notification class whose steps the
// test writes (StepNote).
//
//   auto note = StepNote::make();          // sequence: StepNote::steps()
//   controller->presentNotification(note);
//   platform::advanceBy(0.05);             // Start ran: ran() == {{"Start", 0.05...}}

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "libmerovane/overlays/MVNotification.h"
#include "libmerovane/overlays/MVNotificationController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/PlatformTest.h"

// Init's delay and one move of a moving notification, in single precision.
inline constexpr double kInit = 0.05000000074505806;
inline constexpr double kMove = 0.30000001192092896;
// A step of the clock just below or past a due time.
inline constexpr double kTick = 1e-6;

// A notification whose steps a test writes: each step in StepNote::steps() runs, records
// its name and time in ran(), and does what the test put there.
class StepNote : public MVNotification {
  public:
    static std::optional<std::string> notificationType() { return "stepNote"; }
    static std::shared_ptr<const MVNotificationSequence> notificationSequence() {
        ++sequenceBuilds();
        return std::make_shared<MVNotificationSequence>(steps());
    }
    static std::shared_ptr<const MVNotificationClass> classObject() {
        return MVNotificationClass::shared<StepNote, MVNotification>("StepNote");
    }
    static std::shared_ptr<StepNote> make() {
        return std::static_pointer_cast<StepNote>(classObject()->alloc());
    }

    bool canNotificationStartPresenting() override { return ready; }
    bool mustBeQueued() override { return queued; }
    void abort() override { ++aborts; }

    // The step writes the record, then runs `then` (which may schedule a successor).
    static MVNotificationStepBlock recording(std::string name,
                                             std::function<void(MVNotification&)> then = {}) {
        return [name, then](MVNotification& n) {
            ran().push_back({name, now()});
            if (then) then(n);
        };
    }
    // A step that records itself and schedules `next` after `seconds`.
    static MVNotificationStepBlock leadingTo(std::string name, std::string next, double seconds) {
        return recording(name, [next, seconds](MVNotification& n) {
            MVNotification::perform({}, n, next, seconds);
        });
    }

    // A step and when it ran; times match to the microsecond.
    struct StepRun {
        std::string step;
        double at = 0;
        bool operator==(const StepRun& other) const {
            return step == other.step && std::abs(at - other.at) < 1e-6;
        }
        friend std::ostream& operator<<(std::ostream& out, const StepRun& run) {
            return out << run.step << "@" << run.at;
        }
    };
    static std::vector<StepRun>& ran() {
        static std::vector<StepRun> runs;
        return runs;
    }
    static MVNotificationSequence& steps() {
        static MVNotificationSequence sequence;
        return sequence;
    }
    static int& sequenceBuilds() {
        static int builds = 0;
        return builds;
    }
    // The manual clock when the fixture began.
    static int64_t& originNanos() {
        static int64_t nanos = 0;
        return nanos;
    }
    // Seconds since the fixture began.
    static double now() {
        return static_cast<double>(platform::Clock::monotonicNanos() - originNanos()) / 1e9;
    }

    bool ready = true;
    bool queued = true;
    int aborts = 0;
};

// Expects `call` to raise the named exception with that reason.
inline void expectRaise(const std::function<void()>& call, const std::string& name,
                        const std::string& reason) {
    try {
        call();
        ADD_FAILURE() << "no exception: " << name;
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), name);
        EXPECT_EQ(e.reason(), reason);
    }
}

class NotificationTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        StepNote::ran().clear();
        StepNote::steps().clear();
        StepNote::sequenceBuilds() = 0;
        StepNote::originNanos() = platform::Clock::monotonicNanos();
        controller = MVNotificationController::create();
        controller->view()->setFrame(platform::Rect(0, 0, 375, 667));
    }
    void TearDown() override {
        controller.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
    }

    // Advances the clock to `seconds` since the fixture began, to the nearest nanosecond.
    static void advanceTo(double seconds) {
        const int64_t target = StepNote::originNanos() + std::llround(seconds * 1e9);
        const int64_t delta = target - platform::Clock::monotonicNanos();
        // Half a nanosecond more, so that the driver's truncation lands on the target.
        if (delta > 0) platform::advanceBy((static_cast<double>(delta) + 0.5) / 1e9);
    }
    std::vector<std::string> stepNames() const {
        std::vector<std::string> names;
        for (const auto& run : StepNote::ran()) names.push_back(run.step);
        return names;
    }

    std::shared_ptr<MVNotificationController> controller;
};
