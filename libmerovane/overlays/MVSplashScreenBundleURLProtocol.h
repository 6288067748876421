#pragma once
// Serves "file:" URLs of files inside the library's resource bundle (the built-in splash
// page and what it refers to), so that pooled web views load them as they load any page.
// Every other "file:" URL stays unsupported. Registered by the splash screen's install().
//
//   platform::URLProtocol::registerClass(MVSplashScreenBundleURLProtocol::factory());
//
// Files must be regular files of at most kMaxBytes. Thread-safe: runs on the URL-loading
// thread.

#include <memory>

#include "platform/foundation/URLProtocol.h"

class MVSplashScreenBundleURLProtocol : public platform::URLProtocol {
  public:
    static constexpr size_t kMaxBytes = 4u << 20;

    using URLProtocol::URLProtocol;
    static bool canInitWithRequest(const platform::URLRequest& request);
    // The one registered factory.
    static std::shared_ptr<platform::URLProtocolFactory> factory();

    void startLoading() override;
    void stopLoading() override {}
};
