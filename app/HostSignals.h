#pragma once
// The host's process signals, taken on the main run loop through a pipe:
// - SIGINT and SIGTERM end the main loop, so that the application ends as at a normal
//   exit (settings written); a second one ends the process at once;
// - SIGTSTP sends the application to the background and SIGCONT brings it back to the
//   foreground, the stand-ins for a window minimised and restored where there is no
//   display: the process is not stopped while it handles them. A terminal's Ctrl-Z
//   stops the whole process group, the engine's processes with it: SIGCONT continues
//   the shell's own processes (its children and theirs) in its group that are stopped,
//   and no others.
//
//   auto signals = watchHostSignals();   // kept while the main loop runs
//
// Main thread.

#include "platform/foundation/RunLoop.h"

platform::FdWatch watchHostSignals();
