#include "libmerovane/core/MVLog.h"

void MVLog::addLogger(std::shared_ptr<Logger> logger) {
    platform::log::addLogger(std::move(logger));
}

void MVLog::addLogger(std::shared_ptr<Logger> logger, int logLevel) {
    platform::log::addLogger(std::move(logger), logLevel);
}

void MVLog::removeLogger(const std::shared_ptr<Logger>& logger) {
    platform::log::removeLogger(logger);
}

void MVLog::removeAllLoggers() {
    platform::log::removeAllLoggers();
}

void MVLog::flushLog() {
    platform::log::flush();
}
