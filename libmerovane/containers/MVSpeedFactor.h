#pragma once
// How the containers, bars and menus turn an optional speed factor into the number that
// multiplies a base duration. The rules differ by user:
//
//   duration = kMVTabTransitionDuration * MVSpeedFactorAbsolute(factor);   // tab switches
//   duration = kMVMenuBarDuration * MVSpeedFactorAsGiven(factor);          // menu bar
//   duration = platform::kNavigationControllerHideShowBarDuration *
//              MVSpeedFactorAsGiven(factor);                               // header bar
//   duration = MVBackgroundMenuDuration(type) * MVSpeedFactorPositive(factor);
//
// A factor that is no finite number counts as absent; a factor is held within
// ±kMVSpeedFactorLimit so that no duration grows without bound. Each rule answers and
// checks the factor's single-precision value.

#include <optional>

inline constexpr double kMVSpeedFactorLimit = 100;
inline constexpr double kMVTabTransitionDuration = 0.3;
// The menu bar keeps its duration in single precision.
inline constexpr double kMVMenuBarDuration = static_cast<double>(0.3f);

// Tab transitions: the factor's absolute value; 0 or absent gives 1.
double MVSpeedFactorAbsolute(std::optional<double> factor);
// Menu bar and navigation header bar: the factor unchanged; absent gives 1.
double MVSpeedFactorAsGiven(std::optional<double> factor);
// Background menus: a factor of 0 or less, or absent, gives 1.
double MVSpeedFactorPositive(std::optional<double> factor);
// A background menu's base duration: its animation type's duration, 0.3 s when that is
// 0.01 s or less.
double MVBackgroundMenuDuration(double animationTypeDuration);
