#include "platform/foundation/Thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <future>

#include "platform/foundation/RunLoop.h"

namespace platform {
namespace {
thread_local std::string tName;
}

Thread::Thread(std::string name) : name_(std::move(name)), loop_(std::make_unique<RunLoop>(name_)) {
    std::promise<void> started;
    auto ready = started.get_future();
    thread_ = std::thread([this, &started] {
        tName = name_;
        // The kernel keeps 15 characters; our own name stays whole.
        ::pthread_setname_np(::pthread_self(), name_.substr(0, 15).c_str());
        loop_->bindToCurrentThread();
        started.set_value();
        loop_->run();
    });
    ready.wait();
}

Thread::~Thread() {
    stop();
    join();
}

void Thread::stop() {
    loop_->stop();
}

void Thread::join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

std::string Thread::currentName() {
    if (isMainThread()) return "main";
    return tName;
}

namespace {
// Cached per thread: asked on every command and event. -1 = not yet known.
thread_local int tIsMain = -1;
}  // namespace

bool isMainThread() {
    if (tIsMain < 0) {
        static const bool atForkInstalled = [] {
            // The forking thread is the child's main thread.
            ::pthread_atfork(nullptr, nullptr, [] { tIsMain = -1; });
            return true;
        }();
        (void)atForkInstalled;
        tIsMain = static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid() ? 1 : 0;
    }
    return tIsMain == 1;
}

void performOnMainThread(std::function<void()> fn, bool wait) {
    if (isMainThread()) {
        fn();
        return;
    }
    if (!wait) {
        RunLoop::main().post(std::move(fn));
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    RunLoop::main().post([&fn, &done] {
        fn();
        done.set_value();
    });
    finished.wait();
}

}  // namespace platform
