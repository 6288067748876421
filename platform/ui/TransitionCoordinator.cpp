#include "platform/ui/TransitionCoordinator.h"

namespace platform {

void TransitionCoordinator::notifyWhenInteractionEnds(std::function<void(bool)> handler) {
    if (!handler || !interactive_) return;
    if (interactionEnded_) return handler(cancelled_);
    handlers_.push_back(std::move(handler));
}

void TransitionCoordinator::interactionEnded(bool cancelled) {
    if (!interactive_ || interactionEnded_) return;
    interactionEnded_ = true;
    cancelled_ = cancelled;
    auto handlers = std::move(handlers_);
    handlers_.clear();
    for (auto& h : handlers) h(cancelled);
}

}  // namespace platform
