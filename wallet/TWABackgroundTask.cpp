#include "wallet/TWABackgroundTask.h"

#include <atomic>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/SharedInstances.h"

namespace {

struct TaskState {
    std::atomic<platform::BackgroundTaskIdentifier> task{platform::kInvalidBackgroundTask};
    std::atomic<int> workers{0};
    // Bumped by the reset between tests: workers of an older generation stop uncounted.
    std::atomic<uint64_t> generation{0};
};

TaskState& taskState() {
    static auto* state = [] {
        auto* s = new TaskState();
        platform::registerSharedInstanceReset("TWABackgroundTask", [s] {
            s->generation.fetch_add(1);
            s->task = platform::kInvalidBackgroundTask;
            s->workers = 0;
        });
        return s;
    }();
    return *state;
}

// One look at the task; the worker goes on while its own task is the running one.
void pollTask(platform::BackgroundTaskIdentifier task, uint64_t generation) {
    auto& state = taskState();
    if (state.generation.load() != generation) return;
    if (state.task.load() != task) {
        state.workers.fetch_sub(1);
        return;
    }
    platform::DispatchQueue::global()
        .after(TWABackgroundTask::kPollInterval, [task, generation] { pollTask(task, generation); })
        .detach();
}

}  // namespace

void TWABackgroundTask::startBackgroundTaskIfNotRunning() {
    auto& state = taskState();
    if (state.task.load() != platform::kInvalidBackgroundTask) return;
    auto& app = platform::Application::shared();
    const auto task = app.beginBackgroundTask([] {
        auto& expired = taskState();
        const auto running = expired.task.exchange(platform::kInvalidBackgroundTask);
        if (running != platform::kInvalidBackgroundTask)
            platform::Application::shared().endBackgroundTask(running);
    });
    if (task == platform::kInvalidBackgroundTask) return;
    state.task = task;
    state.workers.fetch_add(1);
    const auto generation = state.generation.load();
    platform::DispatchQueue::global().async([task, generation] { pollTask(task, generation); });
}

void TWABackgroundTask::stopBackgroundTaskIfRunning() {
    const auto running = taskState().task.exchange(platform::kInvalidBackgroundTask);
    if (running != platform::kInvalidBackgroundTask)
        platform::Application::shared().endBackgroundTask(running);
}

platform::BackgroundTaskIdentifier TWABackgroundTask::currentTask() {
    return taskState().task.load();
}

int TWABackgroundTask::runningWorkersForTesting() {
    return taskState().workers.load();
}
