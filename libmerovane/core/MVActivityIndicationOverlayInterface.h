#pragma once
// What start-up and the interjections need of the activity overlay, the blocking
// full-screen notice with a title, a spinner and an optional button. The overlays
// install a factory; until then overlays are null overlays that show nothing and whose
// fades complete with true at the next turn of the main run loop, so that work waiting
// on a fade goes on.
//
//   auto overlay = MVActivityIndicationOverlayInterface::overlayWithFullScreenAndViewToBlur(
//       nullptr, false, "Loading");
//   overlay->fadeInWithDuration(0.3, [](bool finished) { ... });
//
// Main thread only; completions run on the main thread, never inside the call.

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {
class View;
}

class MVActivityIndicationOverlayInterface {
  public:
    using Completion = std::function<void(bool finished)>;
    using Factory = std::function<std::shared_ptr<MVActivityIndicationOverlayInterface>(
        const std::shared_ptr<platform::View>& viewToBlur, bool asScreenShot,
        const std::string& title)>;

    virtual ~MVActivityIndicationOverlayInterface() = default;

    // An empty or absent title hides the notice label.
    virtual void setTitle(const std::optional<std::string>& title) = 0;
    // With a title, sets up the button with the tap block and shows or hides it.
    virtual void setButtonWithTitle(const std::optional<std::string>& title,
                                    std::function<void()> onButtonTapped, bool buttonHidden) = 0;
    // Adds the overlay over the key window and animates it in; the completion may be
    // empty.
    virtual void fadeInWithDuration(double duration, Completion completion) = 0;
    // Animates the overlay out and removes it.
    virtual void fadeOutWithDuration(double duration, Completion completion) = 0;

    // A new overlay, not shown yet, over a blur of the view (or none; a snapshot
    // instead of a live blur when asked): the installed factory's, else a null overlay.
    static std::shared_ptr<MVActivityIndicationOverlayInterface> overlayWithFullScreenAndViewToBlur(
        const std::shared_ptr<platform::View>& viewToBlur, bool asScreenShot,
        const std::string& title);
    // An empty factory restores null overlays.
    static void setFactory(Factory factory);
};
