#pragma once
// A stand-in for the background menu controller as its animations see it, with real
// views: a 320 x 480 controller view holding the content container (its size) and, in
// front, the menu view (300 wide, closed at x -300). It records which of its answers were
// asked for, in order.
//
//   auto host = BackgroundMenuAnimationStandIn::create();
//   host->setViewProperties({{"backgroundMenuWidth", 260}});
//   auto animation = MVBackgroundMenuAnimation::animationWithType("pushInFromLeft", host);

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/containers/MVBackgroundMenuAnimationHost.h"
#include "platform/foundation/Exception.h"
#include "platform/ui/View.h"

class BackgroundMenuAnimationStandIn : public MVBackgroundMenuAnimationHost {
  public:
    static std::shared_ptr<BackgroundMenuAnimationStandIn> create() {
        auto host = std::make_shared<BackgroundMenuAnimationStandIn>();
        host->view_ = platform::View::create({0, 0, 320, 480});
        host->content_ = platform::View::create(host->view_->bounds());
        host->menu_ = platform::View::create({-300, 0, 300, 480});
        host->view_->addSubview(host->content_);
        host->view_->addSubview(host->menu_);
        return host;
    }

    std::shared_ptr<platform::View> view() const override { return note("view", view_); }
    std::shared_ptr<platform::View> menuView() const override { return note("menuView", menu_); }
    std::shared_ptr<platform::View> contentContainerView() const override {
        return note("contentContainerView", content_);
    }
    bool isVisible() const override { return note("isVisible", visible); }
    std::shared_ptr<const nlohmann::json> currentViewProperties() const override {
        return note("currentViewProperties", viewProperties_);
    }

    void setViewProperties(nlohmann::json properties) {
        viewProperties_ = std::make_shared<const nlohmann::json>(std::move(properties));
    }
    void clearViewProperties() { viewProperties_.reset(); }

    bool visible = false;
    mutable std::vector<std::string> asked;

  private:
    template <class T>
    T note(const char* question, T answer) const {
        asked.emplace_back(question);
        return answer;
    }

    std::shared_ptr<platform::View> view_, content_, menu_;
    std::shared_ptr<const nlohmann::json> viewProperties_;
};

// The exception of type `Thrown` that `action` throws; without one, a test failure and an
// empty exception (one of another type fails the test as it passes).
template <class Thrown>
platform::Exception exceptionThrownBy(const std::function<void()>& action) {
    try {
        action();
    } catch (const Thrown& e) {
        return e;
    }
    ADD_FAILURE() << "nothing was thrown";
    return platform::Exception("", "");
}
