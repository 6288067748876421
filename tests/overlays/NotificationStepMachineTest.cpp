// The notification step machine: when steps run, what voids a timeout, the sequence
// cache, the exceptions, and what a stale timer may no longer do.
#include <gtest/gtest.h>

#include "tests/overlays/NotificationTest.h"

namespace {

using NotificationStepMachineTest = NotificationTest;
using StepRun = StepNote::StepRun;

// Another class with StepNote's sequence operation, by inheritance.
class InheritingNote : public StepNote {
  public:
    static std::optional<std::string> notificationType() { return "inheritingNote"; }
    static std::shared_ptr<const MVNotificationClass> classObject() {
        return MVNotificationClass::shared<InheritingNote, StepNote>("InheritingNote");
    }
};

// A class whose sequence operation makes none.
class NoSequenceNote : public StepNote {
  public:
    static std::shared_ptr<const MVNotificationSequence> notificationSequence() { return nullptr; }
};

// A class without any sequence operation.
class PlainNote : public MVNotification {};

TEST_F(NotificationStepMachineTest, InitRunsAtOnceAndStartFollowsAfterTheSinglePrecisionDelay) {
    StepNote::steps()[MVNotificationStepStart] = StepNote::recording("Start");
    StepNote::steps()[MVNotificationStepFinished] = StepNote::recording("Finished");
    auto note = StepNote::make();
    controller->presentNotification(note);
    EXPECT_EQ(note->currentNotificationStep(), MVNotificationStepInit);
    EXPECT_EQ(note->nextNotificationStep(), MVNotificationStepStart);
    advanceTo(kInit - 1.5e-9);  // the nanosecond before the truncated 50000000 ns
    EXPECT_TRUE(StepNote::ran().empty());
    advanceTo(kInit);
    EXPECT_EQ(StepNote::ran(), (std::vector<StepRun>{{"Start", 0.05}}));
    // No successor: Finished waits for the next check, which ends the notification.
    EXPECT_EQ(note->nextNotificationStep(), MVNotificationStepFinished);
    EXPECT_EQ(controller->notificationQueue().size(), 1u);
    note->checkForSucceedingStep();
    EXPECT_EQ(note->currentNotificationStep(), MVNotificationStepFinished);
    EXPECT_TRUE(controller->notificationQueue().empty());
}

TEST_F(NotificationStepMachineTest, ANotificationThatCannotStartStaysAtInitUntilItIsReady) {
    StepNote::steps()[MVNotificationStepStart] = StepNote::recording("Start");
    auto note = StepNote::make();
    note->ready = false;
    controller->presentNotification(note);
    advanceTo(5);
    EXPECT_EQ(note->nextNotificationStep(), MVNotificationStepInit);
    EXPECT_FALSE(note->currentNotificationStep());
    note->ready = true;
    note->checkForSucceedingStep();
    advanceTo(5 + kInit);
    EXPECT_EQ(StepNote::ran(), (std::vector<StepRun>{{"Start", 5 + kInit}}));
}

TEST_F(NotificationStepMachineTest, AStepOfNoDurationRunsOnALaterPassNotInsideTheCall) {
    StepNote::steps()[MVNotificationStepStart] = StepNote::leadingTo("Start", "Next", 0);
    StepNote::steps()["Next"] = StepNote::recording("Next");
    auto note = StepNote::make();
    controller->presentNotification(note);
    advanceTo(kInit);
    EXPECT_EQ(stepNames(), (std::vector<std::string>{"Start", "Next"}));
    EXPECT_EQ(StepNote::ran()[1].at, StepNote::ran()[0].at);

    StepNote::ran().clear();
    note->setNextNotificationStep(std::string(MVNotificationStepStart));
    note->checkForSucceedingStep();
    EXPECT_EQ(stepNames(), std::vector<std::string>{"Start"});
    platform::runUntilIdle();
    EXPECT_EQ(stepNames(), (std::vector<std::string>{"Start", "Next"}));
}

TEST_F(NotificationStepMachineTest, AnOutsideCancelVoidsTheArmedTimeout) {
    int finishedBy = 0;
    StepNote::steps()[MVNotificationStepStart] =
        StepNote::leadingTo("Start", MVNotificationStepTimeoutReached, 5);
    StepNote::steps()[MVNotificationStepTimeoutReached] =
        StepNote::leadingTo("TimeoutReached", MVNotificationStepCancel, 0);
    StepNote::steps()[MVNotificationStepCancel] = StepNote::recording("Cancel");
    StepNote::steps()[MVNotificationStepFinished] =
        StepNote::recording("Finished", [&](MVNotification&) { ++finishedBy; });
    auto note = StepNote::make();
    controller->presentNotification(note);
    advanceTo(kInit);
    EXPECT_TRUE(note->isTimeoutSet());
    advanceTo(2);
    note->setNextNotificationStep(std::string(MVNotificationStepCancel));
    note->checkForSucceedingStep();
    EXPECT_FALSE(note->isTimeoutSet());
    advanceTo(10);
    EXPECT_EQ(StepNote::ran(), (std::vector<StepRun>{{"Start", kInit}, {"Cancel", 2}}));
    // The timeout's check did not move it on, nor did anything else.
    EXPECT_EQ(note->nextNotificationStep(), MVNotificationStepFinished);
    EXPECT_EQ(finishedBy, 0);
}

// A timer-fired check that was scheduled before another step ran does nothing: without
// that, the check of a move that a direct call cut short ran the new step's successor early.
TEST_F(NotificationStepMachineTest, AStaleTimerFiredCheckDoesNothing) {
    StepNote::steps()[MVNotificationStepStart] = StepNote::leadingTo("Start", "Move", 1.0);
    StepNote::steps()["Move"] = StepNote::recording("Move");
    StepNote::steps()["Outside"] = StepNote::leadingTo("Outside", "AfterOutside", 5.0);
    StepNote::steps()["AfterOutside"] = StepNote::recording("AfterOutside");
    auto note = StepNote::make();
    controller->presentNotification(note);
    advanceTo(0.5);
    note->setNextNotificationStep(std::string("Outside"));
    note->checkForSucceedingStep();
    advanceTo(2);
    EXPECT_EQ(stepNames(), (std::vector<std::string>{"Start", "Outside"}));
    advanceTo(5.5);
    EXPECT_EQ(StepNote::ran().back(), (StepRun{"AfterOutside", 5.5}));
}

TEST_F(NotificationStepMachineTest, AnAbortedNotificationNeverFinishes) {
    StepNote::steps()[MVNotificationStepStart] =
        StepNote::leadingTo("Start", MVNotificationStepFinished, 1);
    StepNote::steps()[MVNotificationStepFinished] = StepNote::recording("Finished");
    auto note = StepNote::make();
    note->queued = false;
    controller->presentNotification(note);
    EXPECT_EQ(controller->unqueuedPresentedNotification().size(), 1u);
    advanceTo(0.5);
    controller->abortNotification(*note);
    EXPECT_TRUE(note->isAborted());
    EXPECT_EQ(note->aborts, 1);
    note->checkForSucceedingStep();
    advanceTo(3);
    EXPECT_EQ(stepNames(), std::vector<std::string>{"Start"});
    EXPECT_EQ(controller->unqueuedPresentedNotification().size(), 1u);
}

TEST_F(NotificationStepMachineTest, AQueuedNotificationRunsNoStepWhileNotFirst) {
    StepNote::steps()[MVNotificationStepStart] = StepNote::recording("Start");
    StepNote::steps()[MVNotificationStepFinished] = StepNote::recording("Finished");
    auto first = StepNote::make();
    auto second = StepNote::make();
    controller->presentNotification(first);
    controller->presentNotification(second);
    second->setNextNotificationStep(std::string(MVNotificationStepStart));
    second->checkForSucceedingStep();
    advanceTo(1);
    EXPECT_EQ(stepNames(), std::vector<std::string>{"Start"});
    EXPECT_EQ(second->currentNotificationStep(), std::nullopt);
    first->checkForSucceedingStep();  // Finished
    advanceTo(1 + kInit);
    EXPECT_EQ(stepNames(), (std::vector<std::string>{"Start", "Finished", "Start"}));
}

TEST_F(NotificationStepMachineTest, EachClassBuildsItsSequenceOnce) {
    StepNote::steps()[MVNotificationStepStart] = StepNote::recording("Start");
    auto a = StepNote::make();
    auto b = StepNote::make();
    EXPECT_EQ(a->sequence(), b->sequence());
    EXPECT_EQ(StepNote::sequenceBuilds(), 1);
    auto inheriting = InheritingNote::classObject()->alloc();
    auto own = inheriting->sequence();
    EXPECT_NE(own, a->sequence());
    EXPECT_EQ(own, inheriting->sequence());
    EXPECT_EQ(StepNote::sequenceBuilds(), 2);

    auto plain = MVNotificationClass::of<PlainNote, MVNotification>("PlainNote")->alloc();
    EXPECT_EQ(plain->sequence(), nullptr);
}

TEST_F(NotificationStepMachineTest, ProgrammingErrorsRaiseTheirNamedExceptions) {
    // The sequence is built at the first lookup, once.
    StepNote::steps()[MVNotificationStepFinished] =
        StepNote::leadingTo("Finished", MVNotificationStepStart, 1);
    auto note = StepNote::make();
    note->queued = false;
    note->setNextNotificationStep(std::string("Missing"));
    expectRaise([&] { note->checkForSucceedingStep(); }, "Notification sequence step not found",
                "The notification sequence step not found: \"Missing\" for notification from "
                "type \"StepNote\"");
    EXPECT_EQ(note->currentNotificationStep(), "Missing");

    controller->presentNotification(note);
    note->setNextNotificationStep(std::string(MVNotificationStepFinished));
    expectRaise([&] { note->checkForSucceedingStep(); },
                "Another notification sequence step not expected.",
                "Another notification sequence step not expected after occurrence of: "
                "\"MVNotificationStepFinished\" for notification from type \"StepNote\"");

    auto noSequence = MVNotificationClass::of<NoSequenceNote, StepNote>("NoSequenceNote")->alloc();
    expectRaise([&] { noSequence->sequence(); },
                "The notification sequence is not from type NSDictionary",
                "The notification sequence in class \"NoSequenceNote\" is not from type "
                "NSDictionary.");
    expectRaise([&] { note->MVNotification::notificationSequence(); },
                "The notification sequence method is not implemented",
                "The notification sequence method is not implemented in class \"StepNote\".");
}

TEST_F(NotificationStepMachineTest, TheBaseClassLogsWhatItsSubclassShouldSay) {
    auto plain = MVNotificationClass::of<PlainNote, MVNotification>("PlainNote")->alloc();
    EXPECT_TRUE(plain->mustBeQueued());
    EXPECT_EQ(loggedLevel("No information if notification has to be queued is given in class: "
                          "\"PlainNote\"."),
              platform::log::kError);
    plain->abort();
    EXPECT_EQ(loggedLevel("Subclass of MVNotification: \"PlainNote\" should overwrite "
                          "<abort>-method."),
              platform::log::kWarning);
    EXPECT_TRUE(plain->canNotificationStartPresenting());
    EXPECT_EQ(MVNotification::notificationType(), std::nullopt);
    EXPECT_TRUE(MVNotification::shallUserInteractionBeDisabled());
}

}  // namespace
