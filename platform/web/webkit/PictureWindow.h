#pragma once
// A real window on the display that shows a picture the caller draws, drawn again a few
// times a second: for watching the headless UI model's window while the engine shows
// its pages offscreen.
//
//   platform::PictureWindow mirror("Shop", [&] { return imageOfViewHierarchy(*w, 1); },
//                                  [] { platform::RunLoop::main().stop(); });
//
// Needs GTK (a display): check WebKitGtkWebEngine::isAvailable() first. `onClose` runs
// once, on a later turn, when the user closes the window; the minimised handler runs
// when the window is minimised (true) and restored (false). Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/Image.h"

namespace platform {

class PictureWindow {
  public:
    PictureWindow(const std::string& title, std::function<Image()> draw,
                  std::function<void()> onClose, double intervalSeconds = 0.25);
    ~PictureWindow();
    PictureWindow(const PictureWindow&) = delete;
    void setMinimisedHandler(std::function<void(bool minimised)> handler);
    PictureWindow& operator=(const PictureWindow&) = delete;

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
