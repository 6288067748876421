#pragma once
// The host's process signals:
// - SIGTERM, SIGHUP (a terminal's close, a session's end) and SIGINT end the main loop,
//   so that the application ends as at a normal exit (settings written); another one
//   during that stop lets it go on. The stop is bounded from the first of them: a
//   process still running 10 s later writes what it can (the `overrun` hook) and ends by
//   the last one, whatever its main thread waits on;
// - SIGTSTP sends the application to the background and SIGCONT brings it back to the
//   foreground, the stand-ins for a window minimised and restored where there is no
//   display: the process is not stopped while it handles them. A SIGCONT that follows no
//   SIGTSTP brings nothing back. A terminal's Ctrl-Z stops the whole process group, the
//   engine's processes with it: SIGCONT continues the shell's own processes (its children
//   and theirs) in its group that are stopped, and no others; a termination signal does
//   too, so that they can end.
//
// The handlers only mark which signal came and wake a thread of its own: however many
// come, each kind is kept once (what came, not how often), and a termination signal is
// taken before the others that wait. That thread continues the stopped processes at once,
// even while the main thread waits on a page in one of them, and tells the host of the
// stop at once (the `stopping` hook); what the application does (background, foreground,
// the end of the main loop) runs on the main loop: the end first, then SIGTSTP and
// SIGCONT in the order they last came.
//
//   std::optional<HostSignals> signals;
//   signals.emplace(hooks);     // before the engine's first process starts, kept while the
//                               // main loop runs and the stop writes what it keeps
//   signals->endStop(status);   // the stop is done: from now on termination signals and
//   signals.reset();            // terminal stops are ignored, while the process ends; one
//                               // still running at the stop's bound ends there with
//                               // `status`
//
// Made and destroyed on the main thread.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class HostSignals {
  public:
    struct Hooks {
        // On the main loop, for a termination signal: the main loop's stop when not given.
        std::function<void()> stop;
        // On the signal thread: the shell's processes in its group may be stopped (true,
        // on SIGTSTP) or run again (false, once continued).
        std::function<void(bool stopped)> processesStopped;
        // On the signal thread, at once, for the first termination signal: the stop has
        // begun, before it is logged and before the main loop takes it; nothing may wait on
        // a page from now on.
        std::function<void()> stopping;
        // On a thread of its own, when the stop still runs kOverrunWriteTime before its
        // bound: what can still be written. The process ends at its bound all the same.
        std::function<void()> overrun;
    };

    // How long the stop may take from the first termination signal, and how much of that
    // is left for the `overrun` hook.
    static constexpr std::chrono::seconds kStopTime{10};
    static constexpr std::chrono::seconds kOverrunWriteTime{1};

    explicit HostSignals(Hooks hooks = {});
    // Ends and joins the thread; the signals get back the actions they had before, but for
    // those endStop ignored.
    ~HostSignals();
    // Main thread, once the process has stopped in order: the termination signals and
    // SIGTSTP are ignored from now on, with no moment where one takes its default action.
    // After a termination signal the rest of the process's end keeps the stop's bound (by
    // SIGALRM, which nothing else may use): still running then, it ends with `status`, the
    // stop's own (0 when it wrote all it keeps).
    void endStop(int status = 0);
    HostSignals(const HostSignals&) = delete;
    HostSignals& operator=(const HostSignals&) = delete;

    // Any thread: whether a termination signal came while a watch was on, waiting for one
    // at most `bound`.
    static bool terminationCame(std::chrono::milliseconds bound);
    // Any thread: the stop's bound (kStopTime after the first termination signal), none
    // before a termination signal came.
    static std::optional<std::chrono::steady_clock::time_point> stopBound();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
