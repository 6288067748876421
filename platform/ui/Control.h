#pragma once
// A view that turns touches into actions: target-action pairs by control event, and the
// enabled, selected and highlighted states.
//
//   button->addTarget(controller, "retry", platform::kControlEventTouchUpInside,
//                     [weak = std::weak_ptr(controller)](platform::Control&) { ... });
//
// Targets are not owned (held weakly): an action whose target has died is dropped. Adding
// the same target and action again only widens its events, as the platform does, so code
// can ask whether an action is connected. A touch that begins on an enabled control
// highlights it and sends touch-down; its end sends touch-up-inside or touch-up-outside
// (by where it ends) and its cancellation touch-cancel, each after the highlight is
// cleared. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace platform {

using ControlEvents = uint32_t;
inline constexpr ControlEvents kControlEventTouchDown = 1u << 0;
inline constexpr ControlEvents kControlEventTouchUpInside = 1u << 6;
inline constexpr ControlEvents kControlEventTouchUpOutside = 1u << 7;
inline constexpr ControlEvents kControlEventTouchCancel = 1u << 8;
inline constexpr ControlEvents kControlEventValueChanged = 1u << 12;
inline constexpr ControlEvents kControlEventAllTouchEvents = 0x0FFFu;
inline constexpr ControlEvents kControlEventAllEvents = 0xFFFFFFFFu;

class Control : public View {
  public:
    using Action = std::function<void(Control& sender)>;

    static std::shared_ptr<Control> create(const Rect& frame = Rect());

    bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool enabled);
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected) { selected_ = selected; }
    bool isHighlighted() const { return highlighted_; }
    // Subclasses change their look here; touches call it.
    virtual void setHighlighted(bool highlighted) { highlighted_ = highlighted; }
    bool isTracking() const { return tracking_; }

    // `action` names the handler for identity; `target` is only watched, never owned.
    void addTarget(std::weak_ptr<const void> target, std::string action, ControlEvents events,
                   Action handler);
    // An action without target, for code that owns the control; it has no identity.
    void addAction(ControlEvents events, Action handler);
    // A null target matches every target, an empty action every action of the target;
    // the events are taken off the matching pairs, which go when no events remain.
    void removeTarget(const void* target, const std::string& action, ControlEvents events);
    // The names of the target's actions that run for any of `events`.
    std::vector<std::string> actionsForTarget(const void* target, ControlEvents events) const;
    ControlEvents allControlEvents() const;
    // Runs every action registered for any of `events` once, in the order added.
    void sendActionsForControlEvents(ControlEvents events);

    void touchesBegan(const Touch& touch) override;
    void touchesEnded(const Touch& touch) override;
    void touchesCancelled(const Touch& touch) override;

  protected:
    explicit Control(const Rect& frame);

  private:
    struct TargetAction {
        std::weak_ptr<const void> target;
        const void* identity = nullptr;  // null for an action without target
        std::string action;
        ControlEvents events = 0;
        std::shared_ptr<Action> handler;
    };
    bool expired(const TargetAction& entry) const;

    std::vector<TargetAction> actions_;
    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
    bool tracking_ = false;
};

}  // namespace platform
