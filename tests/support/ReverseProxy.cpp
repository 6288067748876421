#include "tests/support/ReverseProxy.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackListener.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kHAProxy = "/usr/sbin/haproxy";
// Starting takes a few milliseconds; the bound holds on a loaded machine, and nginx
// tries a taken port for 2.5 s before it gives up.
constexpr auto kStartBound = std::chrono::seconds(30);
constexpr int kPortAttempts = 5;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool executable(const char* path) {
    return ::access(path, X_OK) == 0;
}

// A loopback port free at this moment: bound, read, and let go.
int freePort() {
    int port = 0;
    const int listener = testsupport::listenOnLoopback(port, 1);
    if (listener < 0) return 0;
    ::close(listener);
    return port;
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

const char* ReverseProxy::nameOf(Kind kind) {
    switch (kind) {
        case Kind::NginxStreaming:
            return "NginxStreaming";
        case Kind::NginxBuffering:
            return "NginxBuffering";
        case Kind::HAProxy:
            return "HAProxy";
    }
    return "";
}

ReverseProxy::ReverseProxy(Kind kind, int upstreamPort)
    : kind_(kind), folder_(std::make_unique<TempDir>()) {
    const char* program = kind_ == Kind::HAProxy ? kHAProxy : kNginx;
    if (!executable(program)) {
        failure_ = fmt::format("{} is not installed (scripts/install-deps installs it)", program);
        return;
    }
    for (int attempt = 0; attempt < kPortAttempts && !ready_; ++attempt) {
        if (!start(upstreamPort) && failure_.find("in use") == std::string::npos) break;
    }
}

ReverseProxy::~ReverseProxy() {
    process_.reset();  // killed and reaped
}

std::string ReverseProxy::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string ReverseProxy::log() const {
    return readFile(folder_->file("error.log"));
}

std::string ReverseProxy::configuration(int upstreamPort) const {
    const std::string& dir = folder_->path();
    if (kind_ == Kind::HAProxy) {
        return fmt::format(
            "global\n"
            "  maxconn 256\n"
            "defaults\n"
            "  mode http\n"
            "  timeout connect 10s\n"
            "  timeout client 300s\n"
            "  timeout server 300s\n"
            "frontend api\n"
            "  bind 127.0.0.1:{}\n"
            "  default_backend server\n"
            "backend server\n"
            "  server upstream 127.0.0.1:{}\n",
            port_, upstreamPort);
    }
    const std::string streaming = kind_ == Kind::NginxStreaming
                                      ? "      proxy_buffering off;\n"
                                        "      proxy_request_buffering off;\n"
                                        "      proxy_http_version 1.1;\n"
                                        "      proxy_read_timeout 300s;\n"
                                        "      proxy_send_timeout 300s;\n"
                                        "      client_body_timeout 300s;\n"
                                        "      client_max_body_size 0;\n"
                                      : "";
    return fmt::format(
        "daemon off;\n"
        "master_process off;\n"
        "worker_processes 1;\n"
        "pid {0}/nginx.pid;\n"
        "error_log {0}/error.log info;\n"
        "events {{ worker_connections 256; }}\n"
        "http {{\n"
        "  access_log off;\n"
        "  client_body_temp_path {0}/client_body;\n"
        "  proxy_temp_path {0}/proxy;\n"
        "  fastcgi_temp_path {0}/fastcgi;\n"
        "  uwsgi_temp_path {0}/uwsgi;\n"
        "  scgi_temp_path {0}/scgi;\n"
        "  server {{\n"
        "    listen 127.0.0.1:{1};\n"
        "    location / {{\n"
        "      proxy_pass http://127.0.0.1:{2};\n"
        "{3}"
        "    }}\n"
        "  }}\n"
        "}}\n",
        dir, port_, upstreamPort, streaming);
}

bool ReverseProxy::start(int upstreamPort) {
    process_.reset();
    port_ = freePort();
    if (port_ == 0) {
        failure_ = "no free loopback port";
        return false;
    }
    const std::string dir = folder_->path();
    const std::string config = folder_->file("proxy.conf");
    const std::string pidFile = folder_->file("nginx.pid");
    ::unlink(pidFile.c_str());
    folder_->write("proxy.conf", configuration(upstreamPort));
    ChildProcess::Program program;
    if (kind_ == Kind::HAProxy) {
        program = {kHAProxy, {"-f", config, "-db"}, folder_->file("error.log")};
    } else {
        program = {kNginx,
                   {"-p", dir + "/", "-c", config, "-e", folder_->file("error.log")},
                   folder_->file("output.log")};
    }
    process_ = std::make_unique<ChildProcess>(program);
    // Listening once the pid file is written (after the bind) and a connection is taken.
    const auto deadline = std::chrono::steady_clock::now() + kStartBound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!process_->running()) {
            const std::string text = log() + readFile(folder_->file("output.log"));
            failure_ = fmt::format("{} ended at its start: {}", nameOf(kind_), text);
            return false;
        }
        // haproxy in the foreground writes no pid file; one that could not bind ends.
        const bool bound = kind_ == Kind::HAProxy || ::access(pidFile.c_str(), F_OK) == 0;
        if (bound && accepts(port_)) {
            ready_ = true;
            failure_.clear();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    failure_ = fmt::format("{} did not listen on port {} within {} s: {}", nameOf(kind_), port_,
                           kStartBound.count(), log());
    return false;
}
