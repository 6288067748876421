#pragma once
// Sends every log line, as text, over TCP to a log viewer at "host:port" (the developer
// setting "logger_target"). There is no service discovery: the target names the
// viewer's address itself. Lines that cannot be sent are dropped; a lost connection is
// not made again.
//
//   if (auto logger = NetworkLogger::connect("127.0.0.1:50000"))
//       platform::log::addLogger(logger);
//
// Thread-safe.

#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Log.h"

class NetworkLogger : public platform::log::Logger {
  public:
    // Null when the target is no "host:port" or the viewer cannot be reached.
    static std::shared_ptr<NetworkLogger> connect(const std::string& target);
    ~NetworkLogger() override;

    void logMessage(const platform::log::Message& message) override;

  private:
    explicit NetworkLogger(int socket) : socket_(socket) {}

    std::mutex mutex_;
    int socket_;
};
