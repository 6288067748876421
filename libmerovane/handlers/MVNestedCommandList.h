#pragma once
// A list of commands that a command carries ("cmds") to run now or later, always with
// the outer command's version, in one of two ways:
//
//   // as the collection {"ver": running version, "cmds": list} from the outer web view
//   auto later = MVNestedCommandList::asCollection(handler, list, webView);
//   // on the running handler itself, without web view
//   auto boot = MVNestedCommandList::onHandler(handler, list);
//   platform::RunLoop::main().postAfterDetached(delay, [later] { later.perform(); });
//
// A list holds the handler and the web view it was given, so that a web view its page
// has let go of still receives the commands' answers when the list runs later.
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

    void perform() const;

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
