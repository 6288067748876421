#include "platform/web/WebEngine.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"

namespace platform {

// Shared with posted work so that it can tell whether the engine still lives.
struct WebEngine::Token {};

WebEngine::WebEngine() : token_(std::make_shared<Token>()) {}

WebEngine::~WebEngine() = default;

std::string WebEngine::userAgent() {
    return stringByEvaluatingJavaScript("navigator.userAgent");
}

void WebEngine::later(std::function<void()> fn) {
    std::weak_ptr<Token> alive = token_;
    RunLoop::main().post([alive, fn = std::move(fn)] {
        if (alive.lock()) fn();
    });
}

bool WebEngine::askClient(const URLRequest& request, NavigationType type) {
    return client_ ? client_->engineShouldStartLoad(request, type) : true;
}

bool WebEngine::askClientForPageNavigation(const URLRequest& request, NavigationType type,
                                           uint64_t generation) {
    if (generation != loadGeneration_) {
        PLATFORM_LOG_INFO("WebEngine refused a navigation to {} started before a newer load",
                          request.url().absoluteString());
        return false;
    }
    return askClient(request, type);
}

}  // namespace platform
