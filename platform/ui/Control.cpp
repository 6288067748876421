#include "platform/ui/Control.h"

#include <algorithm>

namespace platform {

std::shared_ptr<Control> Control::create(const Rect& frame) {
    return std::shared_ptr<Control>(new Control(frame));
}

Control::Control(const Rect& frame) : View(frame) {}

void Control::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled && highlighted_) setHighlighted(false);
}

bool Control::expired(const TargetAction& entry) const {
    return entry.identity && entry.target.expired();
}

void Control::addTarget(std::weak_ptr<const void> target, std::string action, ControlEvents events,
                        Action handler) {
    const void* identity = target.lock().get();
    if (!identity || !handler || events == 0) return;
    for (auto& entry : actions_) {
        if (entry.identity == identity && entry.action == action && !expired(entry)) {
            entry.events |= events;
            return;
        }
    }
    actions_.push_back({std::move(target), identity, std::move(action), events,
                        std::make_shared<Action>(std::move(handler))});
}

void Control::addAction(ControlEvents events, Action handler) {
    if (!handler || events == 0) return;
    actions_.push_back({{}, nullptr, {}, events, std::make_shared<Action>(std::move(handler))});
}

void Control::removeTarget(const void* target, const std::string& action, ControlEvents events) {
    for (auto& entry : actions_) {
        if (target && entry.identity != target) continue;
        if (!action.empty() && entry.action != action) continue;
        entry.events &= ~events;
    }
    std::erase_if(actions_, [&](const TargetAction& e) { return e.events == 0 || expired(e); });
}

std::vector<std::string> Control::actionsForTarget(const void* target, ControlEvents events) const {
    std::vector<std::string> names;
    for (const auto& entry : actions_)
        if (entry.identity == target && (entry.events & events) && !expired(entry))
            names.push_back(entry.action);
    return names;
}

ControlEvents Control::allControlEvents() const {
    ControlEvents all = 0;
    for (const auto& entry : actions_)
        if (!expired(entry)) all |= entry.events;
    return all;
}

void Control::sendActionsForControlEvents(ControlEvents events) {
    std::erase_if(actions_, [&](const TargetAction& e) { return expired(e); });
    // A handler may add or remove actions, or drop the last reference to this control.
    auto self = shared_from_this();
    std::vector<std::pair<std::shared_ptr<const void>, std::shared_ptr<Action>>> due;
    for (const auto& entry : actions_) {
        if (!(entry.events & events)) continue;
        auto target = entry.target.lock();
        if (entry.identity && !target) continue;
        due.emplace_back(std::move(target), entry.handler);
    }
    for (auto& [target, handler] : due) (*handler)(*this);
}

void Control::touchesBegan(const Touch& touch) {
    if (!enabled_) return View::touchesBegan(touch);
    tracking_ = true;
    setHighlighted(true);
    sendActionsForControlEvents(kControlEventTouchDown);
}

void Control::touchesEnded(const Touch& touch) {
    if (!tracking_) return View::touchesEnded(touch);
    tracking_ = false;
    setHighlighted(false);
    const bool inside = pointInside(touch.locationInView(this));
    sendActionsForControlEvents(inside ? kControlEventTouchUpInside : kControlEventTouchUpOutside);
}

void Control::touchesCancelled(const Touch& touch) {
    if (!tracking_) return View::touchesCancelled(touch);
    tracking_ = false;
    setHighlighted(false);
    sendActionsForControlEvents(kControlEventTouchCancel);
}

}  // namespace platform
