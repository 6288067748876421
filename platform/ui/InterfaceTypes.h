#pragma once
// Small enumerations of the interface model, with the platform's numeric values
// (callers compare and store them as numbers).

namespace platform {

// Orientation of the interface. Any other number may arrive from callers and is kept.
enum class InterfaceOrientation : int {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

inline bool isPortrait(InterfaceOrientation o) {
    return o == InterfaceOrientation::Portrait || o == InterfaceOrientation::PortraitUpsideDown;
}
inline bool isLandscape(InterfaceOrientation o) {
    return o == InterfaceOrientation::LandscapeLeft || o == InterfaceOrientation::LandscapeRight;
}

// Physical orientation of the device.
enum class DeviceOrientation : int {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeLeft = 3,
    LandscapeRight = 4,
    FaceUp = 5,
    FaceDown = 6,
};

enum class StatusBarStyle : int {
    Default = 0,  // dark content
    LightContent = 1,
};

enum class UserInterfaceIdiom : int { Unspecified = -1, Phone = 0, Pad = 1 };

enum class BatteryState : int { Unknown = 0, Unplugged = 1, Charging = 2, Full = 3 };

// Which margins and sizes of a view follow its superview's size.
enum AutoresizingMask : unsigned {
    kAutoresizingNone = 0,
    kAutoresizingFlexibleLeftMargin = 1u << 0,
    kAutoresizingFlexibleWidth = 1u << 1,
    kAutoresizingFlexibleRightMargin = 1u << 2,
    kAutoresizingFlexibleTopMargin = 1u << 3,
    kAutoresizingFlexibleHeight = 1u << 4,
    kAutoresizingFlexibleBottomMargin = 1u << 5,
};

}  // namespace platform
