#pragma once
// A list of commands that a command carries ("cmds") to run now or later, always with
// the outer command's version, in one of two ways:
//
//   // as the collection {"ver": running version, "cmds": list} from the outer web view
//   auto later = MVNestedCommandList::asCollection(handler, std::move(list), webView);
//   // on the running handler itself, without web view
//   auto boot = MVNestedCommandList::onHandler(handler, std::move(list));
//   platform::RunLoop::main().postAfterDetached(
//       delay, [later = std::move(later)]() mutable { std::move(later).perform(); });
//
// A list holds the handler and the web view it was given, so that a web view its page
// has let go of still receives the commands' answers when the list runs later.
// Performing gives the commands up to the dispatcher, which takes their parameters
// out of them: a list runs once, and is never copied on its way.
// Main thread, like the commands.

#include <memory>
#include <nlohmann/json.hpp>

class MVCommandHandler;
class MVWebView;

class MVNestedCommandList {
  public:
    static MVNestedCommandList asCollection(MVCommandHandler& handler, nlohmann::json commands,
                                            std::shared_ptr<MVWebView> webView);
    static MVNestedCommandList onHandler(MVCommandHandler& handler, nlohmann::json commands);

    void perform() &&;

    // {"ver", "cmds"} for a collection; the bare list on a handler.
    const nlohmann::json& commands() const { return commands_; }
    const std::shared_ptr<MVCommandHandler>& handler() const { return handler_; }
    const std::shared_ptr<MVWebView>& webView() const { return webView_; }

  private:
    MVNestedCommandList(std::shared_ptr<MVCommandHandler> handler, nlohmann::json commands,
                        std::shared_ptr<MVWebView> webView, bool asCollection);

    std::shared_ptr<MVCommandHandler> handler_;
    nlohmann::json commands_;
    std::shared_ptr<MVWebView> webView_;
    bool asCollection_;
};
