#include "app/NetworkLogger.h"

#include <fmt/format.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

std::shared_ptr<NetworkLogger> NetworkLogger::connect(const std::string& target) {
    const size_t colon = target.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == target.size()) return nullptr;
    const std::string host = target.substr(0, colon);
    const std::string port = target.substr(colon + 1);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return nullptr;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) return nullptr;
    return std::shared_ptr<NetworkLogger>(new NetworkLogger(fd));
}

NetworkLogger::~NetworkLogger() {
    if (socket_ >= 0) ::close(socket_);
}

void NetworkLogger::logMessage(const platform::log::Message& message) {
    const std::string line = fmt::format("{} [{}] {}\n", platform::log::flagName(message.flag),
                                         message.threadName, message.text);
    std::lock_guard lock(mutex_);
    if (socket_ < 0) return;
    size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = ::send(socket_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            ::close(socket_);
            socket_ = -1;
            return;
        }
        sent += static_cast<size_t>(n);
    }
}
