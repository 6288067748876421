#pragma once
// For tests only: extra certificate authorities that URL loading trusts for https, on
// top of the system's, so that loopback servers with test certificates can be reached.
// Shipped code never calls this; without an added anchor URL loading trusts exactly
// what the system trusts.
//
//   platform::URLLoadingTestTrust::addAnchorForTesting(certificates.rootDER());
//
// Loads started after the call trust the anchor; the shared-instance reset between
// tests removes every anchor. Thread-safe.

#include <string_view>

namespace platform {

class URLLoadingTestTrust {
  public:
    // `certificateDER`: one DER-encoded CA certificate. False (and a log line) when the
    // bytes are not one.
    static bool addAnchorForTesting(std::string_view certificateDER);
    static void removeAnchorsForTesting();
};

}  // namespace platform
