#pragma once
// A sub-resource whose server breaks off every answer: the head declares `declared`
// bytes (Content-Length), `sent` of them follow, then the connection closes.
//
//   server.respond("/broken.png", cutAnswer(2 << 20, 200 << 10, "image/png"));

#include <cstddef>
#include <string>

#include "tests/support/HttpTestServer.h"

inline HttpTestServer::Response cutAnswer(size_t declared, size_t sent, std::string contentType) {
    auto response = HttpTestServer::Response::text(200, std::string(sent, 'x'), contentType);
    response.headers.set("Content-Length", std::to_string(declared));
    response.dropAfterBodyBytes = sent;
    return response;
}
