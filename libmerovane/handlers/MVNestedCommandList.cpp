#include "libmerovane/handlers/MVNestedCommandList.h"

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebView.h"

MVNestedCommandList MVNestedCommandList::asCollection(MVCommandHandler& handler,
                                                      nlohmann::json commands,
                                                      std::shared_ptr<MVWebView> webView) {
    nlohmann::json collection = {{"ver", handler.commandHandlerVersion()},
                                 {"cmds", std::move(commands)}};
    return MVNestedCommandList(handler.shared_from_this(), std::move(collection),
                               std::move(webView), true);
}

MVNestedCommandList MVNestedCommandList::onHandler(MVCommandHandler& handler,
                                                   nlohmann::json commands) {
    return MVNestedCommandList(handler.shared_from_this(), std::move(commands), nullptr, false);
}

MVNestedCommandList::MVNestedCommandList(std::shared_ptr<MVCommandHandler> handler,
                                         nlohmann::json commands,
                                         std::shared_ptr<MVWebView> webView, bool asCollection)
    : handler_(std::move(handler)),
      commands_(std::move(commands)),
      webView_(std::move(webView)),
      asCollection_(asCollection) {}

void MVNestedCommandList::perform() && {
    if (asCollection_)
        MVCommandHandler::performCommandsFromCommandCollection(std::move(commands_), webView_);
    else
        handler_->performCommands(std::move(commands_), nullptr);
}
