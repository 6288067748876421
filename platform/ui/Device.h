#pragma once
// The device: idiom, system version, model, name, orientation and battery, all settable
// for tests and for the desktop host. The hardware machine text comes from the machine
// itself (`uname`), so a desktop reads as the platform's simulator does, unless a phone's
// model code is configured. Thread-safe.

#include <mutex>
#include <optional>
#include <string>

#include "platform/ui/InterfaceTypes.h"

namespace platform {

inline constexpr const char* kDeviceOrientationDidChangeNotification =
    "UIDeviceOrientationDidChangeNotification";

class Device {
  public:
    static Device& current();

    UserInterfaceIdiom userInterfaceIdiom() const;
    void setUserInterfaceIdiom(UserInterfaceIdiom idiom);
    std::string systemVersion() const;
    void setSystemVersion(std::string version);
    // "Phone" or "Tablet" by idiom unless set.
    std::string model() const;
    void setModel(std::string model);
    // The machine's host name unless set.
    std::string name() const;
    void setName(std::string name);

    // The hardware machine text: configured, or the machine field of `uname`.
    std::string machine() const;
    void setMachine(std::string machine);

    // The vendor identifier as UUID text: made at random on first use and kept for the
    // device's life, unless set; a device set to none has none.
    std::optional<std::string> identifierForVendor() const;
    void setIdentifierForVendor(std::optional<std::string> identifier);

    // Setting posts kDeviceOrientationDidChangeNotification when the value changes.
    DeviceOrientation orientation() const;
    void setOrientation(DeviceOrientation orientation);

    // Without monitoring the level reads -1 and the state Unknown, as on the platform.
    bool isBatteryMonitoringEnabled() const;
    void setBatteryMonitoringEnabled(bool enabled);
    float batteryLevel() const;
    void setBatteryLevel(float level);
    BatteryState batteryState() const;
    void setBatteryState(BatteryState state);

    void resetForTesting();

  private:
    Device() = default;

    mutable std::mutex mutex_;
    UserInterfaceIdiom idiom_ = UserInterfaceIdiom::Phone;
    std::string systemVersion_ = "9.3";
    std::string model_;
    std::string name_;
    std::string machine_;
    mutable std::optional<std::optional<std::string>> identifierForVendor_;
    DeviceOrientation orientation_ = DeviceOrientation::Portrait;
    bool batteryMonitoring_ = false;
    float batteryLevel_ = 1.0f;
    BatteryState batteryState_ = BatteryState::Unplugged;
};

}  // namespace platform
