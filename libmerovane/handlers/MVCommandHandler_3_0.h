#pragma once
// The handler of protocol version 3.0. It derives from 2.0, not 2.1 (the two are
// siblings): the 2.0 commands and its own overrides.
// Command groups add its commands to commandTable() at start-up.

#include <string>

#include "libmerovane/handlers/MVCommandHandlerVersion.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"

class MVCommandHandler_3_0
    : public MVCommandHandlerVersion<MVCommandHandler_3_0, MVCommandHandler_2_0> {
  public:
    static constexpr const char* kClassName = "MVCommandHandler_3_0";

    std::string commandHandlerVersion() const override { return "3.0"; }
};
