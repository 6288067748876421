#pragma once
// The handler of protocol version 2.1: exactly the 2.0 commands, reported as 2.1.
// Command groups add its commands to commandTable() at start-up.

#include <string>

#include "libmerovane/handlers/MVCommandHandlerVersion.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"

class MVCommandHandler_2_1
    : public MVCommandHandlerVersion<MVCommandHandler_2_1, MVCommandHandler_2_0> {
  public:
    static constexpr const char* kClassName = "MVCommandHandler_2_1";

    std::string commandHandlerVersion() const override { return "2.1"; }
};
