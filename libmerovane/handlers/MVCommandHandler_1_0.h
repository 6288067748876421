#pragma once
// The handler of protocol version 1.0: the whole 1.0 command set.
// Command groups add its commands to commandTable() at start-up.

#include <string>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/handlers/MVCommandHandlerVersion.h"

class MVCommandHandler_1_0
    : public MVCommandHandlerVersion<MVCommandHandler_1_0, MVCommandHandler> {
  public:
    static constexpr const char* kClassName = "MVCommandHandler_1_0";

    std::string commandHandlerVersion() const override { return "1.0"; }
};
