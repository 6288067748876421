#pragma once
// The handler of protocol version 1.1: the 1.0 commands and its own new ones and
// overrides.
// Command groups add its commands to commandTable() at start-up.

#include <string>

#include "libmerovane/handlers/MVCommandHandlerVersion.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"

class MVCommandHandler_1_1
    : public MVCommandHandlerVersion<MVCommandHandler_1_1, MVCommandHandler_1_0> {
  public:
    static constexpr const char* kClassName = "MVCommandHandler_1_1";

    std::string commandHandlerVersion() const override { return "1.1"; }
};
