#include "platform/web/webkit/GLibMainContextWaiter.h"

#include <glib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <vector>

namespace platform {
namespace {

int toPollMillis(int64_t nanos) {
    if (nanos < 0) return -1;
    const int64_t ms = (nanos + 999'999) / 1'000'000;
    return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

void pollRetrying(std::vector<pollfd>& fds, int timeoutMs) {
    int r;
    do {
        r = ::poll(fds.data(), fds.size(), timeoutMs);
    } while (r < 0 && errno == EINTR);
}

class GLibMainContextWaiter final : public RunLoopWaiter {
  public:
    GLibMainContextWaiter() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~GLibMainContextWaiter() override {
        if (wakeFd_ >= 0) ::close(wakeFd_);
    }

    void wait(int64_t timeoutNanos, std::vector<pollfd>& fds) override {
        GMainContext* context = g_main_context_default();
        const size_t ours = fds.size();
        fds.push_back(pollfd{wakeFd_, POLLIN, 0});
        if (!g_main_context_acquire(context)) {
            // Another thread iterates GLib: we only wait for our own descriptors.
            pollRetrying(fds, toPollMillis(timeoutNanos));
            finishWake(fds, ours);
            return;
        }
        gint maxPriority = 0;
        g_main_context_prepare(context, &maxPriority);
        std::vector<GPollFD> glibFds(16);
        gint glibTimeout = -1;
        gint count;
        while ((count = g_main_context_query(context, maxPriority, &glibTimeout, glibFds.data(),
                                             static_cast<gint>(glibFds.size()))) >
               static_cast<gint>(glibFds.size())) {
            glibFds.resize(count);
        }
        for (gint i = 0; i < count; ++i)
            fds.push_back(pollfd{glibFds[i].fd, static_cast<short>(glibFds[i].events), 0});
        int timeoutMs = toPollMillis(timeoutNanos);
        if (glibTimeout >= 0 && (timeoutMs < 0 || glibTimeout < timeoutMs)) timeoutMs = glibTimeout;
        pollRetrying(fds, timeoutMs);
        for (gint i = 0; i < count; ++i)
            glibFds[i].revents = static_cast<gushort>(fds[ours + 1 + i].revents);
        finishWake(fds, ours);
        if (g_main_context_check(context, maxPriority, glibFds.data(), count))
            g_main_context_dispatch(context);
        g_main_context_release(context);
    }

    void wake() override {
        uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }

  private:
    // Drains the wake descriptor and leaves only the caller's descriptors in `fds`.
    void finishWake(std::vector<pollfd>& fds, size_t ours) {
        if (fds[ours].revents & POLLIN) {
            uint64_t value;
            [[maybe_unused]] auto n = ::read(wakeFd_, &value, sizeof value);
        }
        fds.resize(ours);
    }

    int wakeFd_;
};

}  // namespace

std::unique_ptr<RunLoopWaiter> makeGLibMainContextWaiter() {
    return std::make_unique<GLibMainContextWaiter>();
}

void useGLibMainContextForMainRunLoop() {
    static std::once_flag once;
    std::call_once(once, [] { RunLoop::main().setWaiter(makeGLibMainContextWaiter()); });
}

bool iterateGLibUntil(const std::function<bool()>& done, double timeoutSeconds) {
    if (done()) return true;
    struct Deadline {
        bool passed = false;
    } deadline;
    const auto millis = static_cast<guint>(std::max(0.0, timeoutSeconds * 1000.0));
    GSource* timer = g_timeout_source_new(millis);
    g_source_set_callback(
        timer,
        [](gpointer data) -> gboolean {
            static_cast<Deadline*>(data)->passed = true;
            return G_SOURCE_REMOVE;
        },
        &deadline, nullptr);
    GMainContext* context = g_main_context_default();
    g_source_attach(timer, context);
    bool result = done();
    while (!result && !deadline.passed) {
        g_main_context_iteration(context, TRUE);
        result = done();
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    return result;
}

}  // namespace platform
