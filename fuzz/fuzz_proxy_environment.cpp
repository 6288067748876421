// Proxy settings come from the environment, which the application does not choose: any
// proxy value, no_proxy list and host must give an answer, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/ProxySettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Three fields, split at NUL bytes (which no environment value holds): the proxy
    // value, the no_proxy list and the URL.
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::string fields[3];
    for (auto& field : fields) {
        const size_t end = rest.find('\0');
        field = std::string(rest.substr(0, end));
        rest.remove_prefix(end == rest.npos ? rest.size() : end + 1);
    }
    (void)platform::ProxySettings::parseProxyValue(fields[0]);
    (void)platform::ProxySettings::isExcluded(fields[2], fields[1]);
    ::setenv("https_proxy", fields[0].c_str(), 1);
    ::setenv("http_proxy", fields[0].c_str(), 1);
    ::setenv("no_proxy", fields[1].c_str(), 1);
    if (platform::ProxySettings::proxiesForURL(fields[2]).empty()) __builtin_trap();
    return 0;
}
