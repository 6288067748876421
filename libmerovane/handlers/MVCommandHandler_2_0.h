#pragma once
// The handler of protocol version 2.0: the 1.1 commands and its own new ones and
// overrides.
// Command groups add its commands to commandTable() at start-up.

#include <string>

#include "libmerovane/handlers/MVCommandHandlerVersion.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"

class MVCommandHandler_2_0
    : public MVCommandHandlerVersion<MVCommandHandler_2_0, MVCommandHandler_1_1> {
  public:
    static constexpr const char* kClassName = "MVCommandHandler_2_0";

    std::string commandHandlerVersion() const override { return "2.0"; }
};
