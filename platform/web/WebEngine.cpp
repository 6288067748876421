#include "platform/web/WebEngine.h"

#include "platform/foundation/RunLoop.h"

namespace platform {

// Shared with posted work so that it can tell whether the engine still lives.
struct WebEngine::Token {};

WebEngine::WebEngine() : token_(std::make_shared<Token>()) {}

WebEngine::~WebEngine() = default;

void WebEngine::later(std::function<void()> fn) {
    std::weak_ptr<Token> alive = token_;
    RunLoop::main().post([alive, fn = std::move(fn)] {
        if (alive.lock()) fn();
    });
}

bool WebEngine::askClient(const URLRequest& request, NavigationType type) {
    return client_ ? client_->engineShouldStartLoad(request, type) : true;
}

}  // namespace platform
