#pragma once
// An activity overlay for tests: records what is asked of it and finishes its fades at
// the next turn with `fadeFinished`; `install` makes every new overlay one of these.
//
//   auto overlays = RecordingOverlay::install();
//   ... (*overlays)[0]->tapButton();

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"
#include "platform/foundation/RunLoop.h"

class RecordingOverlay : public MVActivityIndicationOverlayInterface {
  public:
    using List = std::vector<std::shared_ptr<RecordingOverlay>>;

    static std::shared_ptr<List> install(bool fadeFinished = true) {
        auto list = std::make_shared<List>();
        MVActivityIndicationOverlayInterface::setFactory(
            [list, fadeFinished](const std::shared_ptr<platform::View>&, bool asScreenShot,
                                 const std::string& title) {
                auto overlay = std::make_shared<RecordingOverlay>();
                overlay->title = title;
                overlay->asScreenShot = asScreenShot;
                overlay->fadeFinished = fadeFinished;
                list->push_back(overlay);
                return overlay;
            });
        return list;
    }

    void setTitle(const std::optional<std::string>& text) override { title = text.value_or(""); }
    void setButtonWithTitle(const std::optional<std::string>& text, std::function<void()> onTap,
                            bool hidden) override {
        buttonTitle = text;
        onButtonTapped = std::move(onTap);
        buttonHidden = hidden;
    }
    void fadeInWithDuration(double duration, Completion completion) override {
        fade("in", duration, std::move(completion));
    }
    void fadeOutWithDuration(double duration, Completion completion) override {
        fade("out", duration, std::move(completion));
    }
    void tapButton() {
        if (onButtonTapped) onButtonTapped();
    }

    std::string title;
    bool asScreenShot = false;
    bool fadeFinished = true;
    std::optional<std::string> buttonTitle;
    std::function<void()> onButtonTapped;
    bool buttonHidden = true;
    // "in 0.3", "out 0.3"
    std::vector<std::string> fades;

  private:
    void fade(const char* what, double duration, Completion completion) {
        fades.push_back(std::string(what) + " " + std::to_string(duration).substr(0, 3));
        if (completion)
            platform::RunLoop::main().post(
                [completion, finished = fadeFinished] { completion(finished); });
    }
};
