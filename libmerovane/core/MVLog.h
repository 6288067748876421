#pragma once
// The library's logging facade. Every log line of the library goes through the
// MVLog… macros, which carry the level flag, source file, function and line:
//
//   MVLogWarn("MVWebView{} lost commands {} == {}", webView->debugName(), a, b);
//
// Error lines are written before the macro returns; the other levels are queued.
// The host adds and removes loggers through MVLog without naming the framework.
// Thread-safe.

#include <memory>

#include "platform/foundation/Log.h"

class MVLog {
  public:
    using Logger = platform::log::Logger;

    // The library logs at every level: error 1, warning 2, info 4, debug 8, verbose 16.
    static constexpr int kLibraryLogLevel = platform::log::kAllLevels;

    static void addLogger(std::shared_ptr<Logger> logger);
    static void addLogger(std::shared_ptr<Logger> logger, int logLevel);
    static void removeLogger(const std::shared_ptr<Logger>& logger);
    static void removeAllLoggers();
    // Waits until every queued line has reached every logger.
    static void flushLog();
};

#define MV_LOG_AT(flag, ...)                                                        \
    do {                                                                            \
        if ((MVLog::kLibraryLogLevel & (flag)) && ::platform::log::isEnabled(flag)) \
            ::platform::log::write(flag, __FILE__, __func__, __LINE__,              \
                                   ::fmt::format(__VA_ARGS__));                     \
    } while (0)
#define MVLogError(...) MV_LOG_AT(::platform::log::kError, __VA_ARGS__)
#define MVLogWarn(...) MV_LOG_AT(::platform::log::kWarning, __VA_ARGS__)
#define MVLogInfo(...) MV_LOG_AT(::platform::log::kInfo, __VA_ARGS__)
#define MVLogDebug(...) MV_LOG_AT(::platform::log::kDebug, __VA_ARGS__)
#define MVLogVerbose(...) MV_LOG_AT(::platform::log::kVerbose, __VA_ARGS__)
