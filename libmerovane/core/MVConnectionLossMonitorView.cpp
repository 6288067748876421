#include "libmerovane/core/MVConnectionLossMonitorView.h"

#include <cmath>

#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Label.h"
#include "platform/ui/Layer.h"
#include "platform/ui/VisualEffectView.h"

using platform::Color;
using platform::Rect;

namespace {
constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;
}  // namespace

std::shared_ptr<UIButtonTouchHighlight> UIButtonTouchHighlight::create(const Rect& frame) {
    return std::shared_ptr<UIButtonTouchHighlight>(new UIButtonTouchHighlight(frame));
}

UIButtonTouchHighlight::UIButtonTouchHighlight(const Rect& frame)
    : Button(platform::ButtonType::Custom, frame) {}

void UIButtonTouchHighlight::setHighlighted(bool highlighted) {
    Button::setHighlighted(highlighted);
    setBackgroundColor(highlighted ? Color::withWhite(1, 0.3) : Color::clear());
}

std::shared_ptr<MVConnectionLossMonitorView> MVConnectionLossMonitorView::create(
    const Rect& frame) {
    std::shared_ptr<MVConnectionLossMonitorView> view(new MVConnectionLossMonitorView(frame));
    view->build();
    return view;
}

MVConnectionLossMonitorView::MVConnectionLossMonitorView(const Rect& frame) : View(frame) {}

void MVConnectionLossMonitorView::build() {
    const Rect area = bounds();
    if (systemVersionEqualOrAbove(UISystemVersionMake(8, 0, 0))) {
        const auto blur = platform::VisualEffect::blur(platform::BlurEffectStyle::Dark);
        auto blurView = platform::VisualEffectView::create(blur, area);
        blurView->setAutoresizingMask(kFlexibleSize);
        addSubview(blurView);
        auto vibrancyView = platform::VisualEffectView::create(
            platform::VisualEffect::vibrancy(blur), blurView->contentView()->bounds());
        vibrancyView->setAutoresizingMask(kFlexibleSize);
        blurView->contentView()->addSubview(vibrancyView);
        container_ = vibrancyView->contentView();
    } else {
        container_ = platform::View::create(area);
        container_->setBackgroundColor(Color::black().withAlpha(0.8));
        container_->setAutoresizingMask(kFlexibleSize);
        addSubview(container_);
    }

    const auto font = platform::Font::named(kFontName, kFontSize);

    lblNotice_ = platform::Label::create(area.insetBy(20, 20));
    lblNotice_->setCenter({area.midX(), area.midY() - 60});
    lblNotice_->setAutoresizingMask(kFlexibleSize);
    lblNotice_->setText(kNoticeText);
    lblNotice_->setTextAlignment(platform::TextAlignment::Center);
    lblNotice_->setNumberOfLines(0);
    lblNotice_->setTextColor(Color::white());
    lblNotice_->setFont(font);
    container_->addSubview(lblNotice_);

    const double buttonWidth = lblNotice_->frame().size.width;
    btnRetry_ = UIButtonTouchHighlight::create(Rect(area.midX() - buttonWidth / 2,
                                                    area.height() * 0.75 - kButtonHeight / 2,
                                                    buttonWidth, kButtonHeight));
    btnRetry_->layer()->setBorderWidth(1);
    btnRetry_->layer()->setBorderColor(Color::white());
    btnRetry_->layer()->setCornerRadius(kButtonHeight / 2);
    btnRetry_->addAction(platform::kControlEventTouchUpInside,
                         [](platform::Control&) { MVConnectionLossMonitor::retryConnections(); });
    container_->addSubview(btnRetry_);

    lblRetry_ = platform::Label::create(btnRetry_->frame());
    lblRetry_->setAutoresizingMask(kFlexibleSize);
    lblRetry_->setText(kRetryText);
    lblRetry_->setTextColor(Color::white());
    lblRetry_->setBackgroundColor(Color::clear());
    lblRetry_->setClipsToBounds(true);
    lblRetry_->setTextAlignment(platform::TextAlignment::Center);
    lblRetry_->setFont(font);
    container_->addSubview(lblRetry_);

    activity_ = platform::ActivityIndicator::create(platform::ActivityIndicatorStyle::WhiteLarge);
    activity_->setColor(Color::white());
    activity_->startAnimating();
    activity_->setCenter(btnRetry_->center());
    container_->addSubview(activity_);

    // Made in the loading look.
    isLoading_ = true;
    btnRetry_->setUserInteractionEnabled(false);
    lblRetry_->setAlpha(0);
    activity_->setAlpha(1);
    Rect buttonFrame = btnRetry_->frame();
    buttonFrame.size.width = kButtonHeight;
    buttonFrame.origin.x = std::floor((area.width() - kButtonHeight) / 2);
    btnRetry_->setFrame(buttonFrame);
}

void MVConnectionLossMonitorView::setIsLoading(bool loading, bool animated) {
    if (loading == isLoading_) return;
    isLoading_ = loading;
    btnRetry_->setUserInteractionEnabled(!loading);

    const double width = loading ? kButtonHeight : lblNotice_->frame().size.width;
    Rect buttonFrame = btnRetry_->frame();
    buttonFrame.size.width = width;
    buttonFrame.origin.x = std::floor((bounds().width() - width) / 2);
    auto button = btnRetry_;
    auto label = lblRetry_;
    auto indicator = activity_;
    auto resize = [button, buttonFrame] { button->setFrame(buttonFrame); };
    auto fade = [label, indicator, loading] {
        label->setAlpha(loading ? 0 : 1);
        indicator->setAlpha(loading ? 1 : 0);
    };

    if (!animated) {
        resize();
        fade();
    } else if (loading) {
        View::animate(kAnimationDuration, [&] {
            resize();
            fade();
        });
    } else {
        View::animate(kAnimationDuration, resize);
        View::animate(kAnimationDuration, kInnerAnimationDelay, 0, fade);
    }
}
