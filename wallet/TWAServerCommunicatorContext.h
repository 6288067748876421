#pragma once
// What the server communicator needs to know of a transaction.

#include <cstdint>
#include <string>

class TWAServerCommunicatorContext {
  public:
    virtual ~TWAServerCommunicatorContext() = default;
    // 0 sandbox, 1 strict sandbox, 2 production.
    virtual int32_t environment() const = 0;
    // The wallet server's origin for that environment.
    virtual const std::string& owBaseUrl() const = 0;
};
