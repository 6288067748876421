#pragma once
// The leveled logger under the library's logging facade and the platform's own code.
//
//   PLATFORM_LOG_WARN("socket {} closed", fd);
//   platform::log::addLogger(std::make_shared<platform::log::RecordingLogger>());
//
// Error lines are written before the call returns, in order after every line queued
// before them; the other levels go through one queue in order. flush() waits until
// every queued line has reached every logger. Each logger has a level mask. Loggers
// run on the logging thread (error lines too, while the caller waits), so a logger
// needs no lock of its own. Logging stays safe while the process exits.
// Thread-safe.

#include <fmt/core.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform::log {

enum Flag : int { kError = 1, kWarning = 2, kInfo = 4, kDebug = 8, kVerbose = 16 };
inline constexpr int kAllLevels = 31;

struct Message {
    int flag = kInfo;
    std::string text;
    std::string file;
    std::string function;
    int line = 0;
    double timestamp = 0;  // wall seconds, platform clock
    std::string threadName;
};

class Logger {
  public:
    virtual ~Logger() = default;
    virtual void logMessage(const Message& message) = 0;
    virtual void flush() {}
};

void addLogger(std::shared_ptr<Logger> logger, int levelMask = kAllLevels);
void removeLogger(const std::shared_ptr<Logger>& logger);
void removeAllLoggers();
void flush();

// True when some logger takes this level, so callers can skip formatting.
bool isEnabled(int flag);
void write(int flag, const char* file, const char* function, int line, std::string text);

// Writes to standard error through spdlog.
std::shared_ptr<Logger> makeConsoleLogger();
// Name of a level for display: "ERROR", "WARN", "INFO", "DEBUG", "VERBOSE".
const char* flagName(int flag);

// Text from a page, a server or a file, made fit for a log line: control characters
// (and the Unicode line breaks) escaped as "\n", "\u001b"..., cut at `limit` bytes on
// a character boundary and marked as cut. Never one line more than the caller's own.
inline constexpr size_t kEscapedTextLimit = 2048;
std::string escaped(std::string_view text, size_t limit = kEscapedTextLimit);

// Keeps every message it receives; for tests.
class RecordingLogger : public Logger {
  public:
    void logMessage(const Message& message) override;
    std::vector<Message> messages() const;
    std::vector<std::string> texts() const;
    // True when some recorded text contains `part`.
    bool contains(const std::string& part) const;
    size_t count(const std::string& part) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

}  // namespace platform::log

#define PLATFORM_LOG_AT(flag, ...)                                     \
    do {                                                               \
        if (::platform::log::isEnabled(flag))                          \
            ::platform::log::write(flag, __FILE__, __func__, __LINE__, \
                                   ::fmt::format(__VA_ARGS__));        \
    } while (0)
#define PLATFORM_LOG_ERROR(...) PLATFORM_LOG_AT(::platform::log::kError, __VA_ARGS__)
#define PLATFORM_LOG_WARN(...) PLATFORM_LOG_AT(::platform::log::kWarning, __VA_ARGS__)
#define PLATFORM_LOG_INFO(...) PLATFORM_LOG_AT(::platform::log::kInfo, __VA_ARGS__)
#define PLATFORM_LOG_DEBUG(...) PLATFORM_LOG_AT(::platform::log::kDebug, __VA_ARGS__)
#define PLATFORM_LOG_VERBOSE(...) PLATFORM_LOG_AT(::platform::log::kVerbose, __VA_ARGS__)
