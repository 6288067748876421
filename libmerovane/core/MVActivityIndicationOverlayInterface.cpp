#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"
#include "platform/foundation/RunLoop.h"

namespace {

// Shows nothing; its fades finish at once, reported at the next turn as an animation
// of no length would be.
class NullActivityOverlay : public MVActivityIndicationOverlayInterface {
  public:
    void setTitle(const std::optional<std::string>&) override {}
    void setButtonWithTitle(const std::optional<std::string>&, std::function<void()>,
                            bool) override {}
    void fadeInWithDuration(double, Completion completion) override {
        finish(std::move(completion));
    }
    void fadeOutWithDuration(double, Completion completion) override {
        finish(std::move(completion));
    }

  private:
    static void finish(Completion completion) {
        if (!completion) return;
        platform::RunLoop::main().post([completion = std::move(completion)] { completion(true); });
    }
};

struct InstalledFactory {
    MVActivityIndicationOverlayInterface::Factory factory;
};
using Slot = MVInstalledInstance<InstalledFactory>;
constexpr const char* kSlot = "MVActivityIndicationOverlayInterface";

}  // namespace

std::shared_ptr<MVActivityIndicationOverlayInterface>
MVActivityIndicationOverlayInterface::overlayWithFullScreenAndViewToBlur(
    const std::shared_ptr<platform::View>& viewToBlur, bool asScreenShot,
    const std::string& title) {
    if (auto installed = Slot::get(kSlot); installed && installed->factory) {
        if (auto overlay = installed->factory(viewToBlur, asScreenShot, title)) return overlay;
    }
    return std::make_shared<NullActivityOverlay>();
}

void MVActivityIndicationOverlayInterface::setFactory(Factory factory) {
    Slot::install(factory ? std::make_shared<InstalledFactory>(InstalledFactory{std::move(factory)})
                          : nullptr,
                  kSlot);
}
