#pragma once
// The system's proxy settings for a URL, read from the usual environment variables.
//
//   auto proxies = platform::ProxySettings::proxiesForURL("https://api.example/");
//   if (proxies.front().type == platform::ProxyType::HTTP) { ... proxies.front().host ... }
//
// "https" URLs take `https_proxy`, then `HTTPS_PROXY`; "http" URLs take `http_proxy`
// (the upper-case form is left alone, as other HTTP clients do, since a web server's CGI
// environment can set it). `no_proxy` (or `NO_PROXY`) lists hosts and domains that go
// direct; "*" means every host. The answer always holds at least one entry; a direct
// connection is one entry of type None. What to do with a proxy is the caller's choice.
// Credentials in a setting are not kept (only that there were some) and never logged; a
// setting with an "@" after its host part (a password holding "/", "?" or "#") is refused.
// Thread-safe (reads the environment on every call).

#include <string>
#include <vector>

namespace platform {

enum class ProxyType { None, HTTP, HTTPS, SOCKS };

struct ProxyEntry {
    ProxyType type = ProxyType::None;
    std::string host;
    int port = 0;
    // The setting named a user ("user:secret@host"); what it names is never kept.
    bool hasCredentials = false;

    bool operator==(const ProxyEntry&) const = default;
};

class ProxySettings {
  public:
    static std::vector<ProxyEntry> proxiesForURL(const std::string& url);
    // The entry a proxy setting such as "http://proxy:3128" or "proxy:3128" stands for;
    // type None when it is empty or cannot be read.
    static ProxyEntry parseProxyValue(const std::string& value);
    // Whether a `no_proxy` list names this host.
    static bool isExcluded(const std::string& host, const std::string& noProxyList);
};

}  // namespace platform
