#include "platform/ui/Responder.h"

#include "platform/ui/View.h"

namespace platform {

Point Touch::locationInView(const View* v) const {
    if (!v) return locationInWindow;
    return v->convertPointFromView(locationInWindow, nullptr);
}

void Responder::touchesBegan(const Touch& touch) {
    if (auto* next = nextResponder()) next->touchesBegan(touch);
}

void Responder::touchesEnded(const Touch& touch) {
    if (auto* next = nextResponder()) next->touchesEnded(touch);
}

void Responder::touchesCancelled(const Touch& touch) {
    if (auto* next = nextResponder()) next->touchesCancelled(touch);
}

}  // namespace platform
