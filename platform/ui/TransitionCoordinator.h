#pragma once
// What a running navigation transition tells the controllers it moves: whether it is
// animated or driven by a gesture, and, for a gesture, how the interaction ended.
//
//   if (auto coordinator = top->transitionCoordinator())
//       coordinator->notifyWhenInteractionEnds([](bool isCancelled) { ... });
//
// Handlers run in the order registered when the finger lifts (or the gesture is
// cancelled), before the rest of the transition plays out; one registered after that runs
// at once; for a transition no gesture drives they never run. Main thread only.

#include <functional>
#include <vector>

namespace platform {

class TransitionCoordinator {
  public:
    TransitionCoordinator(bool animated, bool interactive, double duration)
        : animated_(animated), interactive_(interactive), duration_(duration) {}
    TransitionCoordinator(const TransitionCoordinator&) = delete;
    TransitionCoordinator& operator=(const TransitionCoordinator&) = delete;

    bool isAnimated() const { return animated_; }
    bool isInteractive() const { return interactive_ && !interactionEnded_; }
    bool initiallyInteractive() const { return interactive_; }
    bool isCancelled() const { return cancelled_; }
    double transitionDuration() const { return duration_; }

    void notifyWhenInteractionEnds(std::function<void(bool isCancelled)> handler);

    // For the controller running the transition: runs the handlers.
    void interactionEnded(bool cancelled);

  private:
    bool animated_;
    bool interactive_;
    double duration_;
    bool interactionEnded_ = false;
    bool cancelled_ = false;
    std::vector<std::function<void(bool)>> handlers_;
};

}  // namespace platform
