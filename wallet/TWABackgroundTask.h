#pragma once
// Keeps the application running in the background while the wallet application is in
// front: one class-wide background task, begun just before the wallet application is
// opened and ended when a URL comes back (or when the system expires it).
//
//   TWABackgroundTask::startBackgroundTaskIfNotRunning();   // before opening the wallet
//   TWABackgroundTask::stopBackgroundTaskIfRunning();       // first thing on an open URL
//
// While a granted task runs, a worker on the global queue looks at it once a second and
// ends when the task is over. Start, stop and expiry run on the main thread; the worker
// reads the task identifier from its own thread, so the identifier is atomic.

#include "platform/ui/Application.h"

class TWABackgroundTask {
  public:
    static constexpr double kPollInterval = 1.0;

    TWABackgroundTask() = delete;

    static void startBackgroundTaskIfNotRunning();
    static void stopBackgroundTaskIfRunning();

    // The running task, or the invalid identifier.
    static platform::BackgroundTaskIdentifier currentTask();
    // Workers that have not seen their task end yet.
    static int runningWorkersForTesting();
};
