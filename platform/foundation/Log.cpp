#include "platform/foundation/Log.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Thread.h"

namespace platform::log {
namespace {

struct Registered {
    std::shared_ptr<Logger> logger;
    int mask;
};

// Everything here is created once and never destroyed, so that logging from static
// destructors and other threads stays safe while the process exits.
struct Core {
    std::mutex mutex;
    std::condition_variable wakeWorker;
    std::condition_variable processed;
    std::deque<std::pair<uint64_t, Message>> queue;  // (sequence, message); flag 0 = barrier
    uint64_t nextSeq = 1;
    uint64_t doneSeq = 0;
    std::vector<Registered> loggers;  // guarded by mutex; copied for delivery
    std::atomic<int> enabledMask{0};
    std::thread::id workerId;

    Core() {
        std::thread worker([this] { run(); });
        workerId = worker.get_id();
        worker.detach();
        std::atexit([] { flush(); });
    }

    void deliver(const Message& m) {
        std::vector<Registered> targets;
        {
            std::lock_guard lock(mutex);
            targets = loggers;
        }
        for (auto& r : targets) {
            if (r.mask & m.flag) r.logger->logMessage(m);
        }
    }

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            wakeWorker.wait(lock, [this] { return !queue.empty(); });
            auto [seq, message] = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            if (message.flag != 0) {
                deliver(message);
            } else {
                std::vector<Registered> targets;
                {
                    std::lock_guard l(mutex);
                    targets = loggers;
                }
                for (auto& r : targets) r.logger->flush();
            }
            lock.lock();
            doneSeq = seq;
            processed.notify_all();
        }
    }

    // Enqueues; with `wait`, returns once the entry has been delivered.
    void enqueue(Message m, bool wait) {
        if (std::this_thread::get_id() == workerId) {
            // A logger that logs: deliver in place rather than wait on ourselves.
            if (m.flag != 0) deliver(m);
            return;
        }
        std::unique_lock lock(mutex);
        uint64_t seq = nextSeq++;
        queue.emplace_back(seq, std::move(m));
        wakeWorker.notify_one();
        if (wait) processed.wait(lock, [&] { return doneSeq >= seq; });
    }

    void recomputeMask() {
        int mask = 0;
        for (auto& r : loggers) mask |= r.mask;
        enabledMask = mask;
    }
};

Core& core() {
    static auto* c = new Core;
    return *c;
}

}  // namespace

void addLogger(std::shared_ptr<Logger> logger, int levelMask) {
    if (!logger) return;
    auto& c = core();
    std::lock_guard lock(c.mutex);
    c.loggers.push_back({std::move(logger), levelMask});
    c.recomputeMask();
}

void removeLogger(const std::shared_ptr<Logger>& logger) {
    auto& c = core();
    std::lock_guard lock(c.mutex);
    std::erase_if(c.loggers, [&](const Registered& r) { return r.logger == logger; });
    c.recomputeMask();
}

void removeAllLoggers() {
    auto& c = core();
    std::lock_guard lock(c.mutex);
    c.loggers.clear();
    c.recomputeMask();
}

void flush() {
    core().enqueue(Message{0, {}, {}, {}, 0, 0, {}}, true);
}

bool isEnabled(int flag) {
    return (core().enabledMask.load(std::memory_order_relaxed) & flag) != 0;
}

std::string escaped(std::string_view text, size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    size_t end = std::min(text.size(), limit);
    // Never cut inside a character: back up over its continuation bytes.
    if (end < text.size())
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    std::string out;
    out.reserve(end + 16);
    auto unicode = [&](unsigned code) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
    };
    for (size_t i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            unicode(c);
        } else if (c == 0xC2 && i + 1 < end && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            unicode(static_cast<unsigned char>(text[++i]));  // C1 controls, NEL among them
        } else if (c == 0xE2 && i + 2 < end && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            unicode(text[i + 2] == '\xA8' ? 0x2028 : 0x2029);
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (end < text.size()) out += fmt::format("… [cut, {} bytes]", text.size());
    return out;
}

void write(int flag, const char* file, const char* function, int line, std::string text) {
    Message m;
    m.flag = flag;
    m.text = std::move(text);
    m.file = file ? file : "";
    m.function = function ? function : "";
    m.line = line;
    m.timestamp = Clock::wallSeconds();
    m.threadName = Thread::currentName();
    core().enqueue(std::move(m), flag == kError);
}

const char* flagName(int flag) {
    switch (flag) {
        case kError:
            return "ERROR";
        case kWarning:
            return "WARN";
        case kInfo:
            return "INFO";
        case kDebug:
            return "DEBUG";
        case kVerbose:
            return "VERBOSE";
        default:
            return "LOG";
    }
}

namespace {
class ConsoleLogger final : public Logger {
  public:
    ConsoleLogger() : logger_("merovane", std::make_shared<spdlog::sinks::stderr_color_sink_mt>()) {
        logger_.set_pattern("%Y-%m-%d %H:%M:%S.%e %^%l%$ %v");
        logger_.set_level(spdlog::level::trace);
    }
    void logMessage(const Message& m) override {
        spdlog::level::level_enum level = spdlog::level::info;
        switch (m.flag) {
            case kError:
                level = spdlog::level::err;
                break;
            case kWarning:
                level = spdlog::level::warn;
                break;
            case kInfo:
                level = spdlog::level::info;
                break;
            case kDebug:
                level = spdlog::level::debug;
                break;
            default:
                level = spdlog::level::trace;
                break;
        }
        logger_.log(spdlog::source_loc{m.file.c_str(), m.line, m.function.c_str()}, level,
                    "[{}] {}", m.threadName, m.text);
    }
    void flush() override { logger_.flush(); }

  private:
    spdlog::logger logger_;
};
}  // namespace

std::shared_ptr<Logger> makeConsoleLogger() {
    return std::make_shared<ConsoleLogger>();
}

void RecordingLogger::logMessage(const Message& message) {
    std::lock_guard lock(mutex_);
    messages_.push_back(message);
}

std::vector<Message> RecordingLogger::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> RecordingLogger::texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (auto& m : messages_) out.push_back(m.text);
    return out;
}

bool RecordingLogger::contains(const std::string& part) const {
    return count(part) > 0;
}

size_t RecordingLogger::count(const std::string& part) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (auto& m : messages_) n += m.text.find(part) != std::string::npos;
    return n;
}

void RecordingLogger::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace platform::log
