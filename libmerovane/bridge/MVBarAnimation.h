#pragma once
// How a bar (a tab's navigation bar, the menu bar) comes and goes.

enum class MVBarAnimation : int {
    None = 0,
    Fade = 1,
    Slide = 2,
};
