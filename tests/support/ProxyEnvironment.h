#pragma once
// Clears the proxy environment variables for the life of the object and puts them back
// afterwards, so that tests do not depend on the machine's proxy. set() sets one for the
// test.
//
//   ProxyEnvironment proxies;                 // none of them set
//   proxies.set("https_proxy", "http://127.0.0.1:3128");

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class ProxyEnvironment {
  public:
    ProxyEnvironment();
    ~ProxyEnvironment();
    ProxyEnvironment(const ProxyEnvironment&) = delete;
    ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

    void set(const std::string& name, const std::string& value);

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace testsupport
