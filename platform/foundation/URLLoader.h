#pragma once
// The URL-loading thread behind URLConnection: one thread, "URL loading", that runs the
// loads of every connection, through a registered URL protocol or over the network with
// one curl multi handle whose sockets its run loop watches. Internal to URL loading.
//
// A load is known by its connection's id; starting a load for an id ends the one before
// it without a word. Every answer goes to the load's sink tagged with the generation the
// load was started with, so the connection can drop answers of loads it has left.
// Thread-safe: every method posts to the loading thread.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URLRequest.h"

namespace platform {
class RunLoop;
}

namespace platform::detail {

class LoadSink {
  public:
    virtual ~LoadSink() = default;
    virtual void loadDidReceiveResponse(uint64_t generation, HTTPURLResponse response) = 0;
    virtual void loadDidReceiveData(uint64_t generation, std::vector<uint8_t> data) = 0;
    virtual void loadDidFinish(uint64_t generation) = 0;
    virtual void loadDidFail(uint64_t generation, Error error) = 0;
    // A network load then waits, holding the redirect's body, until it is started
    // again (followed) or told refuseRedirect.
    virtual void loadWasRedirected(uint64_t generation, URLRequest request,
                                   HTTPURLResponse response) = 0;
    // The loader dropped the load without an answer (shared-instance reset).
    virtual void loadWasAbandoned() = 0;
};

class URLLoader {
  public:
    static URLLoader& shared();

    void start(std::shared_ptr<LoadSink> sink, uint64_t loadId, uint64_t generation,
               URLRequest request);
    // The waiting redirect response and its body become the final answer.
    void refuseRedirect(uint64_t loadId, uint64_t generation);
    // Ends the load: the protocol is stopped or the transfer aborted; no answer follows.
    void stop(uint64_t loadId);

    RunLoop& runLoop();

    struct Impl;

  private:
    URLLoader();
    Impl* impl_;  // lives as long as the process
};

}  // namespace platform::detail
