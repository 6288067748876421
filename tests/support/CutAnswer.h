#pragma once
// A sub-resource whose server breaks off every answer: the head declares `declared`
// bytes (Content-Length), `sent` of them follow, then the connection closes. And the
// other ways a server fails a resource.
//
//   server.respond("/broken.png", cutAnswer(2 << 20, 200 << 10, "image/png"));
//   server.respond("/gone.png", failingAnswer(FailingAnswer::kCloses));

#include <cstddef>
#include <string>

#include "tests/support/HttpTestServer.h"

inline HttpTestServer::Response cutAnswer(size_t declared, size_t sent, std::string contentType) {
    auto response = HttpTestServer::Response::text(200, std::string(sent, 'x'), contentType);
    response.headers.set("Content-Length", std::to_string(declared));
    response.dropAfterBodyBytes = sent;
    return response;
}

// How a resource's server fails it, every time.
enum class FailingAnswer {
    kCloses,         // reads the request, closes without a byte
    kNeverAnswers,   // reads the request, never answers
    kCutsItsAnswer,  // a 2 MiB image cut after 200 KiB
    kErrorStatus,    // 503, with an HTML body
};

inline HttpTestServer::Response failingAnswer(FailingAnswer how) {
    HttpTestServer::Response response;
    switch (how) {
        case FailingAnswer::kCloses:
            response.closeWithoutResponse = true;
            break;
        case FailingAnswer::kNeverAnswers:
            response.noResponse = true;
            break;
        case FailingAnswer::kCutsItsAnswer:
            return cutAnswer(2 << 20, 200 << 10, "image/png");
        case FailingAnswer::kErrorStatus:
            return HttpTestServer::Response::text(503, "busy", "text/html");
    }
    return response;
}
