#include "libmerovane/overlays/MVActivityIndicationOverlayView.h"

#include <cmath>
#include <numbers>

#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"
#include "libmerovane/core/ObjectExtensions.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "libmerovane/core/UIScreenExtensions.h"
#include "libmerovane/overlays/UIButtonTouchHighlite.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Application.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewDrawing.h"
#include "platform/ui/VisualEffectView.h"
#include "platform/ui/Window.h"

namespace {

constexpr double kDimmingGrey = 0.1;
constexpr double kDimmingAlpha = 0.8;
constexpr double kTitleInset = 20;
constexpr double kTitleRaise = 60;
constexpr double kRingSize = 60;
constexpr double kButtonMargin = 40;
constexpr double kButtonHeight = 50;
constexpr double kButtonCornerRadius = 25;
constexpr const char* kFontName = "HelveticaNeue-Thin";
constexpr double kFontSize = 28;
constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;
constexpr unsigned kFlexibleMargins =
    platform::kAutoresizingFlexibleLeftMargin | platform::kAutoresizingFlexibleRightMargin |
    platform::kAutoresizingFlexibleTopMargin | platform::kAutoresizingFlexibleBottomMargin;

bool systemHasLiveBlur() {
    return systemVersionEqualOrAbove(UISystemVersionMake(8, 0, 0));
}

platform::InterfaceOrientation currentOrientation() {
    return platform::Application::shared().statusBarOrientation();
}

// Ring, spinner and button share one place: centred, at three quarters of the height.
platform::Point lowerCentre(const platform::Rect& bounds) {
    return {bounds.midX(), bounds.height() * 0.75};
}

// The overlay behind the seam; the seam's tap block takes no arguments.
class InstalledActivityOverlay : public MVActivityIndicationOverlayInterface {
  public:
    explicit InstalledActivityOverlay(std::shared_ptr<MVActivityIndicationOverlayView> overlay)
        : overlay_(std::move(overlay)) {}

    void setTitle(const std::optional<std::string>& title) override { overlay_->setTitle(title); }
    void setButtonWithTitle(const std::optional<std::string>& title,
                            std::function<void()> onButtonTapped, bool buttonHidden) override {
        MVActivityIndicationOverlayView::OnButtonTapped block;
        if (onButtonTapped)
            block = [onButtonTapped = std::move(onButtonTapped)](auto&, auto&) {
                onButtonTapped();
            };
        overlay_->setButtonWithTitle(title, std::move(block), buttonHidden);
    }
    void fadeInWithDuration(double duration, Completion completion) override {
        overlay_->fadeInWithDuration(duration, std::move(completion));
    }
    void fadeOutWithDuration(double duration, Completion completion) override {
        MVActivityIndicationOverlayView::FadeOutCompletion block;
        if (completion)
            block = [completion = std::move(completion)](bool finished, const auto&) {
                completion(finished);
            };
        overlay_->fadeOutWithDuration(duration, std::move(block));
    }

  private:
    std::shared_ptr<MVActivityIndicationOverlayView> overlay_;
};

}  // namespace

void MVActivityIndicationOverlayView::install() {
    MVActivityIndicationOverlayInterface::setFactory(
        [](const std::shared_ptr<platform::View>& viewToBlur, bool asScreenShot,
           const std::string& title) -> std::shared_ptr<MVActivityIndicationOverlayInterface> {
            return std::make_shared<InstalledActivityOverlay>(
                initWithFullScreenAndViewToBlur(viewToBlur, asScreenShot, title));
        });
}

std::shared_ptr<MVActivityIndicationOverlayView>
MVActivityIndicationOverlayView::initWithFullScreenAndViewToBlur(
    const std::shared_ptr<platform::View>& viewToBlur, bool asScreenShot,
    const std::optional<std::string>& title) {
    return create(boundsDependingOnOrientation(platform::Screen::main(), currentOrientation()),
                  viewToBlur, asScreenShot, title);
}

std::shared_ptr<MVActivityIndicationOverlayView> MVActivityIndicationOverlayView::create(
    const platform::Rect& frame, const std::shared_ptr<platform::View>& viewToBlur,
    bool asScreenShot, const std::optional<std::string>& title) {
    std::shared_ptr<MVActivityIndicationOverlayView> overlay(
        new MVActivityIndicationOverlayView(frame));
    overlay->onlyUsingScreenShot_ = asScreenShot;
    auto window = platform::Application::shared().keyWindow();
    if (viewToBlur && window && viewToBlur->superview() == window)
        overlay->viewToBlur_ = viewToBlur;
    overlay->basicSetupWithTitle(title);
    return overlay;
}

std::shared_ptr<MVActivityIndicationOverlayView> MVActivityIndicationOverlayView::create(
    const platform::Rect& frame) {
    return create(frame, nullptr, false, std::nullopt);
}

bool MVActivityIndicationOverlayView::usesLiveBlur() const {
    return systemHasLiveBlur() && viewToBlur_ && !onlyUsingScreenShot_;
}

bool MVActivityIndicationOverlayView::isFullyTransparent() const {
    auto fading = viewToFade();
    return fading && fading->alpha() == 0;
}

void MVActivityIndicationOverlayView::basicSetupWithTitle(const std::optional<std::string>& title) {
    if (viewToFade()) return;
    setUserInteractionEnabled(true);
    const platform::Rect area = bounds();
    std::shared_ptr<platform::View> content;
    if (systemHasLiveBlur() && viewToBlur_) {
        auto container = platform::View::create(area);
        const auto blur = platform::VisualEffect::blur(platform::BlurEffectStyle::Dark);
        auto blurView = platform::VisualEffectView::create(blur, area);
        auto vibrancy =
            platform::VisualEffectView::create(platform::VisualEffect::vibrancy(blur), area);
        blurView->contentView()->addSubview(vibrancy);
        container->addSubview(blurView);
        addSubview(container);
        content = vibrancy->contentView();
        viewToFade_ = container;
    } else {
        content = platform::View::create(area);
        content->setBackgroundColor(
            platform::Color::rgba(kDimmingGrey, kDimmingGrey, kDimmingGrey, kDimmingAlpha));
        addSubview(content);
        viewToFade_ = self();
    }
    contentView_ = content;
    viewToFade()->setAlpha(0);

    auto label = platform::Label::create(area.insetBy(kTitleInset, kTitleInset));
    label->setCenter({area.midX(), area.midY() - kTitleRaise});
    label->setAutoresizingMask(kFlexibleSize);
    label->setTextAlignment(platform::TextAlignment::Center);
    label->setNumberOfLines(0);
    label->setFont(platform::Font::named(kFontName, kFontSize));
    label->setTextColor(platform::Color::white());
    label->setText(title.value_or(""));
    label->setAlpha(1);
    content->addSubview(label);
    lblNotice_ = label;

    auto ring = platform::View::create({0, 0, kRingSize, kRingSize});
    ring->setCenter(lowerCentre(area));
    ring->layer()->setBorderColor(platform::Color::white());
    ring->layer()->setBorderWidth(1);
    ring->layer()->setCornerRadius(kRingSize / 2);
    ring->setAlpha(1);
    content->addSubview(ring);
    activityIndicatorBorder_ = ring;

    auto spinner =
        platform::ActivityIndicator::create(platform::ActivityIndicatorStyle::WhiteLarge);
    spinner->setCenter(ring->center());
    content->addSubview(spinner);
    activityIndicator_ = spinner;
}

void MVActivityIndicationOverlayView::setTitle(const std::optional<std::string>& title) {
    auto label = lblNotice();
    if (!label) return;
    label->setText(title.value_or(""));
    label->setAlpha(title && !title->empty() ? 1 : 0);
}

void MVActivityIndicationOverlayView::setButtonWithTitle(const std::optional<std::string>& title,
                                                         OnButtonTapped onButtonTapped,
                                                         bool buttonHidden) {
    if (!title) return;
    buttonSetupWithOnButtonTappedBlock(std::move(onButtonTapped));
    if (auto label = lblButton()) label->setText(*title);
    setButtonHidden(buttonHidden);
    setIndicatorAnimationActive(buttonHidden);
}

void MVActivityIndicationOverlayView::buttonSetupWithOnButtonTappedBlock(
    OnButtonTapped onButtonTapped) {
    onButtonTapped_ = std::move(onButtonTapped);
    auto content = contentView();
    if (button() || !content) return;
    const platform::Rect area = bounds();
    auto newButton = UIButtonTouchHighlite::create(
        platform::ButtonType::Custom, {0, 0, area.width() - kButtonMargin, kButtonHeight});
    newButton->setCenter(lowerCentre(area));
    newButton->layer()->setBorderColor(platform::Color::white());
    newButton->layer()->setBorderWidth(1);
    newButton->layer()->setCornerRadius(kButtonCornerRadius);
    newButton->setAlpha(0);
    newButton->setUserInteractionEnabled(true);
    std::weak_ptr<MVActivityIndicationOverlayView> weak = self();
    newButton->addTarget(weak, "buttonTapped:", platform::kControlEventTouchUpInside,
                         [weak](platform::Control&) {
                             if (auto overlay = weak.lock()) overlay->buttonTapped();
                         });
    content->addSubview(newButton);
    button_ = newButton;

    auto label = platform::Label::create(newButton->frame());
    label->setAutoresizingMask(kFlexibleMargins);
    label->setLineBreakMode(platform::LineBreakMode::Clipping);
    label->setTextColor(platform::Color::white());
    label->setBackgroundColor(platform::Color::clear());
    label->setFont(platform::Font::named(kFontName, kFontSize));
    label->setTextAlignment(platform::TextAlignment::Center);
    label->setAlpha(0);
    label->setUserInteractionEnabled(false);
    content->addSubview(label);
    lblButton_ = label;
}

void MVActivityIndicationOverlayView::setButtonComponentsAlphas(double alpha) {
    if (auto b = button()) b->setAlpha(alpha);
    if (auto label = lblButton()) label->setAlpha(alpha);
}

// Kept beside the alphas; nothing moves the button yet.
void MVActivityIndicationOverlayView::setButtonComponentsFrame(const platform::Rect& frame) {
    if (auto b = button()) b->setFrame(frame);
    if (auto label = lblButton()) label->setFrame(frame);
}

void MVActivityIndicationOverlayView::setIndicatorAnimationActive(bool active) {
    const double duration = isFullyTransparent() ? kSpinnerFadeDuration : 0;
    platform::View::animate(duration, 0, platform::kAnimationOptionBeginFromCurrentState, [&] {
        if (auto ring = activityIndicatorBorder()) ring->setAlpha(active ? 1 : 0);
        auto b = button();
        if (active && b && b->alpha() == 1) setButtonHidden(true);
    });
    if (auto spinner = activityIndicator()) {
        if (active)
            spinner->startAnimating();
        else
            spinner->stopAnimating();
    }
}

void MVActivityIndicationOverlayView::setButtonHidden(bool hidden) {
    const double duration = isFullyTransparent() ? 0 : kSpinnerFadeDuration;
    platform::View::animate(duration, [&] {
        setButtonComponentsAlphas(hidden ? 0 : 1);
        auto ring = activityIndicatorBorder();
        if (!hidden && ring && ring->alpha() == 1) setIndicatorAnimationActive(false);
    });
}

void MVActivityIndicationOverlayView::takeStillPicture() {
    const double scale = platform::Screen::main().scale();
    const platform::Size size = bounds().size;
    platform::Image picture(static_cast<int>(std::ceil(size.width * scale)),
                            static_cast<int>(std::ceil(size.height * scale)), scale);
    if (viewToBlur_) {
        platform::GraphicsContext context(picture);
        platform::drawViewHierarchy(*viewToBlur_, context);
    }
    // One picture at most: a fade-in again replaces the one held.
    if (snapshot_) snapshot_->removeFromSuperview();
    snapshot_ = platform::ImageView::create(bounds());
    snapshot_->setImage(std::make_shared<const platform::Image>(std::move(picture)));
    if (auto fading = viewToFade()) fading->insertSubview(snapshot_, 0);
}

void MVActivityIndicationOverlayView::fadeInWithDuration(double duration,
                                                         FadeInCompletion completion) {
    auto keep = self();
    auto window = platform::Application::shared().keyWindow();
    windowThatHoldedContent_ = window;
    if (window) {
        if (viewToBlur_ && viewToBlur_->superview() == window)
            window->insertSubviewAbove(keep, viewToBlur_);
        else
            window->addSubview(keep);
    }
    if (usesLiveBlur()) insertSubview(viewToBlur_, 0);
    if (onlyUsingScreenShot_) takeStillPicture();
    adaptFrameToOrientation(currentOrientation(), false);
    auto b = button();
    setIndicatorAnimationActive(!b || b->alpha() == 0);
    if (!systemHasLiveBlur()) {
        std::weak_ptr<MVActivityIndicationOverlayView> weak = keep;
        auto& center = platform::NotificationCenter::defaultCenter();
        orientationObserver_ = platform::ObserverRegistration(
            center,
            center.addObserver(platform::kApplicationDidChangeStatusBarOrientationNotification,
                               nullptr, [weak](const platform::Notification&) {
                                   if (auto overlay = weak.lock())
                                       overlay->interfaceOrientationHasChanged();
                               }));
    }
    platform::View::animate(
        duration, 0, platform::kAnimationOptionBeginFromCurrentState,
        [&] {
            if (auto fading = viewToFade()) fading->setAlpha(1);
        },
        [completion = std::move(completion)](bool finished) {
            if (completion) completion(finished);
        });
}

void MVActivityIndicationOverlayView::fadeOutWithDuration(double duration,
                                                          FadeOutCompletion completion) {
    if (!systemHasLiveBlur()) orientationObserver_.reset();
    platform::View::animate(
        duration, 0, platform::kAnimationOptionBeginFromCurrentState,
        [&] {
            if (auto fading = viewToFade()) fading->setAlpha(0);
        },
        [overlay = self(), completion = std::move(completion)](bool finished) {
            if (!finished) return;
            overlay->setIndicatorAnimationActive(false);
            auto window = overlay->windowThatHoldedContent();
            if (overlay->usesLiveBlur() && window)
                window->insertSubviewBelow(overlay->viewToBlur_, overlay);
            overlay->removeFromSuperview();
            if (overlay->snapshot_) overlay->snapshot_->removeFromSuperview();
            overlay->windowThatHoldedContent_.reset();
            overlay->snapshot_.reset();
            if (completion) completion(true, overlay->viewToBlur_);
        });
}

void MVActivityIndicationOverlayView::adaptFrameToOrientation(
    platform::InterfaceOrientation orientation, bool) {
    if (systemHasLiveBlur()) return;
    double angle = 0;
    switch (orientation) {
        case platform::InterfaceOrientation::Portrait:
            angle = 0;
            break;
        case platform::InterfaceOrientation::PortraitUpsideDown:
            angle = std::numbers::pi;
            break;
        case platform::InterfaceOrientation::LandscapeRight:
            angle = std::numbers::pi / 2;
            break;
        case platform::InterfaceOrientation::LandscapeLeft:
            angle = 3 * std::numbers::pi / 2;
            break;
        default:
            return;
    }
    setTransform(platform::AffineTransform::rotation(angle));
    if (auto window = platform::Application::shared().keyWindow()) setCenter(window->center());
}

void MVActivityIndicationOverlayView::interfaceOrientationHasChanged() {
    std::weak_ptr<MVActivityIndicationOverlayView> weak = self();
    performBlock(
        [weak] {
            if (auto overlay = weak.lock())
                overlay->adaptFrameToOrientation(currentOrientation(), true);
        },
        kRelayoutDelay);
}

void MVActivityIndicationOverlayView::buttonTapped() {
    auto b = button();
    // The block may replace itself or drop the overlay's last holder.
    auto block = onButtonTapped_;
    auto keep = self();
    if (block && b) block(*this, *b);
}
