#pragma once
// A URL protocol for tests: answers every request of one scheme from the pages given to
// serve() (404 for others) and records each request it gets. Registered while it lives;
// a scheme other than http and https is also made known to the web engines.
//
//   ServingURLProtocol site("mvtest");
//   site.serve("mvtest://res/app.js", "text/javascript", "window.ran = true;");
//   ... a page loads <script src="mvtest://res/app.js"> ...
//   site.requestCount("mvtest://res/app.js");   // 1
//
// Thread-safe: the protocol runs on the URL-loading thread.

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/URLRequest.h"

class ServingURLProtocol {
  public:
    explicit ServingURLProtocol(std::string scheme);
    ~ServingURLProtocol();
    ServingURLProtocol(const ServingURLProtocol&) = delete;
    ServingURLProtocol& operator=(const ServingURLProtocol&) = delete;

    void serve(const std::string& url, std::string mimeType, std::string body, int status = 200);
    std::vector<platform::URLRequest> requests() const;
    size_t requestCount(const std::string& url) const;

    struct State;

  private:
    std::shared_ptr<State> state_;
    std::shared_ptr<class ServingFactory> factory_;
};
