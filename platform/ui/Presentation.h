#pragma once
// What the application shows above its windows and holds while it is shown: alerts and
// action sheets (button presentations) and popovers. Tests find the shown ones through
// Application::presentations() and act on them as the user would.
// Main thread only.

#include <memory>

namespace platform {

class Presentation : public std::enable_shared_from_this<Presentation> {
  public:
    virtual ~Presentation() = default;
    Presentation(const Presentation&) = delete;
    Presentation& operator=(const Presentation&) = delete;

    // Whether the application holds it.
    bool isVisible() const;

  protected:
    Presentation() = default;
    // The application holds this presentation, or lets it go.
    void attachToApplication();
    void detachFromApplication();
};

}  // namespace platform
