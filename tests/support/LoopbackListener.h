#pragma once
// A listening TCP socket on 127.0.0.1 and an ephemeral port, for the servers of tests,
// benchmarks and fuzz targets. Header only: the fuzz targets build without the test
// support library.
//
//   int port = 0;
//   const int listener = testsupport::listenOnLoopback(port);
//   const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace testsupport {

// The listening socket, or -1; `port` is set to its port.
inline int listenOnLoopback(int& port, int backlog = 16) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        ::listen(listener, backlog) ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length))
        return -1;
    port = ntohs(address.sin_port);
    return listener;
}

}  // namespace testsupport
