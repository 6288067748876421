#include "platform/web/NavigationType.h"

namespace platform {

const char* navigationTypeName(NavigationType type) {
    switch (type) {
        case NavigationType::LinkClicked:
            return "linkClicked";
        case NavigationType::FormSubmitted:
            return "formSubmitted";
        case NavigationType::BackForward:
            return "backForward";
        case NavigationType::Reload:
            return "reload";
        case NavigationType::FormResubmitted:
            return "formResubmitted";
        case NavigationType::Other:
            return "other";
    }
    return "other";
}

}  // namespace platform
