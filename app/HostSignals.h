#pragma once
// The host's process signals:
// - SIGINT and SIGTERM end the main loop, so that the application ends as at a normal
//   exit (settings written); a second one ends the process at once;
// - SIGTSTP sends the application to the background and SIGCONT brings it back to the
//   foreground, the stand-ins for a window minimised and restored where there is no
//   display: the process is not stopped while it handles them. A SIGCONT that follows no
//   SIGTSTP brings nothing back. A terminal's Ctrl-Z stops the whole process group, the
//   engine's processes with it: SIGCONT continues the shell's own processes (its children
//   and theirs) in its group that are stopped, and no others.
//
// The handlers only write the signal's number to a pipe. A thread of its own reads it and
// continues the stopped processes at once, even while the main thread waits on a page in
// one of them; what the application does (background, foreground, the end of the main
// loop) runs on the main loop, in the order the signals came.
//
//   const HostSignals signals;   // kept while the main loop runs
//
// Made and destroyed on the main thread.

#include <memory>

class HostSignals {
  public:
    HostSignals();
    // Ends and joins the thread; the signals get back the actions they had before.
    ~HostSignals();
    HostSignals(const HostSignals&) = delete;
    HostSignals& operator=(const HostSignals&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
