#include "platform/ui/Window.h"

#include <algorithm>

#include "platform/ui/Application.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/ViewController.h"

namespace platform {

std::shared_ptr<Window> Window::create(const Rect& frame) {
    auto window = std::shared_ptr<Window>(new Window(frame));
    Application::shared().registerWindow(window);
    return window;
}

Window::Window(const Rect& frame) : View(frame) {
    isWindow_ = true;
    View::setHidden(true);
}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    if (controller == rootViewController_) return;
    auto old = std::move(rootViewController_);
    rootViewController_ = std::move(controller);
    if (old && old->isViewLoaded() && old->view()->superview().get() == this)
        old->view()->removeFromSuperview();
    if (rootViewController_) {
        auto v = rootViewController_->view();
        v->setFrame(bounds());
        v->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
        insertSubview(v, 0);
    }
    Application::shared().updateStatusBarAppearance();
}

void Window::makeKeyAndVisible() {
    makeKeyWindow();
    setHidden(false);
}

void Window::makeKeyWindow() {
    Application::shared().setKeyWindow(std::static_pointer_cast<Window>(shared_from_this()));
}

bool Window::isKeyWindow() const {
    return Application::shared().keyWindow().get() == this;
}

void Window::setHidden(bool hidden) {
    if (hidden == isHidden()) return;
    std::vector<std::shared_ptr<ViewController>> controllers;
    ViewController::collectForAppearance(*this, !hidden, controllers);
    for (auto& c : controllers) c->beginAppearanceTransition(!hidden, false);
    View::setHidden(hidden);
    for (auto& c : controllers) c->endAppearanceTransition();
    if (!hidden) Application::shared().updateStatusBarAppearance();
}

std::shared_ptr<View> Window::sendTap(Point point) {
    auto hit = hitTest(point);
    if (!hit) return nullptr;
    Touch touch;
    touch.window = std::static_pointer_cast<Window>(shared_from_this());
    touch.view = hit;
    touch.locationInWindow = point;
    std::vector<std::shared_ptr<GestureRecognizer>> taps;
    for (auto v = hit; v; v = v->superview())
        for (auto& g : v->gestureRecognizers()) taps.push_back(g);
    std::vector<std::shared_ptr<GestureRecognizer>> recognized;
    bool cancelsTouches = false;
    for (auto& g : taps) {
        if (!recognized.empty() &&
            !std::all_of(recognized.begin(), recognized.end(),
                         [&](const auto& r) { return g->mayRecognizeWith(*r); }))
            continue;
        if (!g->offerTap(point)) continue;
        recognized.push_back(g);
        cancelsTouches = cancelsTouches || g->cancelsTouchesInView();
    }
    hit->touchesBegan(touch);
    if (cancelsTouches)
        hit->touchesCancelled(touch);
    else
        hit->touchesEnded(touch);
    return hit;
}

Responder* Window::nextResponder() const {
    return &Application::shared();
}

}  // namespace platform
