#include "app/HostSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "libmerovane/core/MVLog.h"
#include "platform/ui/Application.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void writeSignal(int number) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] auto written = ::write(gSignalPipe[1], &byte, 1);
    errno = savedErrno;
}

void handle(int number) {
    auto& application = platform::Application::shared();
    switch (number) {
        case SIGTSTP:
            MVLogInfo("Entering the background on SIGTSTP");
            application.enterBackground();
            break;
        case SIGCONT:
            MVLogInfo("Entering the foreground on SIGCONT");
            application.enterForeground();
            break;
        default:
            MVLogInfo("Stopping on a termination signal");
            platform::RunLoop::main().stop();
    }
}

}  // namespace

platform::FdWatch watchHostSignals() {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return {};
    struct sigaction action {};
    action.sa_handler = writeSignal;
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTSTP, &action, nullptr);
    ::sigaction(SIGCONT, &action, nullptr);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return platform::RunLoop::main().watchFd(gSignalPipe[0], POLLIN, [](short) {
        unsigned char numbers[16];
        ssize_t count;
        while ((count = ::read(gSignalPipe[0], numbers, sizeof numbers)) > 0)
            for (ssize_t i = 0; i < count; ++i) handle(numbers[i]);
    });
}
