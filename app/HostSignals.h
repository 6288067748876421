#pragma once
// The host's process signals:
// - SIGTERM, SIGHUP (a terminal's close, a session's end) and SIGINT end the main loop,
//   so that the application ends as at a normal exit (settings written); another one
//   during that stop lets it go on, and ends the process if it still runs 10 s later;
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
// even while the main thread waits on a page in one of them; what the application does
// (background, foreground, the end of the main loop) runs on the main loop: the end
// first, then SIGTSTP and SIGCONT in the order they last came.
//
//   const HostSignals signals(hooks);   // before the engine's first process starts,
//                                       // kept while the main loop runs
//
// Made and destroyed on the main thread.

#include <chrono>
#include <functional>
#include <memory>

class HostSignals {
  public:
    struct Hooks {
        // On the main loop, for a termination signal: the main loop's stop when not given.
        std::function<void()> stop;
        // On the signal thread: the shell's processes in its group may be stopped (true,
        // on SIGTSTP) or run again (false, once continued).
        std::function<void(bool stopped)> processesStopped;
    };

    explicit HostSignals(Hooks hooks = {});
    // Ends and joins the thread; the signals get back the actions they had before.
    ~HostSignals();
    HostSignals(const HostSignals&) = delete;
    HostSignals& operator=(const HostSignals&) = delete;

    // Any thread: whether a termination signal came while a watch was on, waiting for one
    // at most `bound`.
    static bool terminationCame(std::chrono::milliseconds bound);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
