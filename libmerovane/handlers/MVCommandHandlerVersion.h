#pragma once
// What every handler version class has: its own command table, filled by command
// groups at start-up, and a lookup that tries that table first and then the ancestor
// classes, so that an override shadows its ancestor's command for this class and its
// descendants only.
//
//   class MVCommandHandler_1_1 : public MVCommandHandlerVersion<MVCommandHandler_1_1,
//                                                                MVCommandHandler_1_0> {...};

#include <memory>
#include <string_view>

#include "libmerovane/bridge/MVCommandHandler.h"

template <class Self, class Super>
class MVCommandHandlerVersion : public Super {
  public:
    static MVCommandTable& commandTable() {
        static auto* table = new MVCommandTable(Self::kClassName);
        return *table;
    }

    std::shared_ptr<const MVCommandDefinition> commandDefinition(
        std::string_view commandName) const override {
        if (auto own = commandTable().find(commandName)) return own;
        return Super::commandDefinition(commandName);
    }
};
