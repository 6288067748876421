#pragma once
// Why a navigation happens, as the platform web view reports it to its delegate.
// The numbers are the platform's: the library passes the type on as an integer.

namespace platform {

enum class NavigationType : int {
    LinkClicked = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = 5,
};

// "linkClicked", "formSubmitted", "backForward", "reload", "formResubmitted", "other".
const char* navigationTypeName(NavigationType type);

}  // namespace platform
