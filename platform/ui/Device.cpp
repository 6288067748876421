#include "platform/ui/Device.h"

#include <sys/utsname.h>

#include <cstdint>
#include <random>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

Device& Device::current() {
    static Device* device = [] {
        auto* d = new Device();
        registerSharedInstanceReset("platform.Device", [d] { d->resetForTesting(); });
        return d;
    }();
    return *device;
}

void Device::resetForTesting() {
    std::lock_guard lock(mutex_);
    idiom_ = UserInterfaceIdiom::Phone;
    systemVersion_ = "9.3";
    model_.clear();
    name_.clear();
    machine_.clear();
    identifierForVendor_.reset();
    orientation_ = DeviceOrientation::Portrait;
    batteryMonitoring_ = false;
    batteryLevel_ = 1.0f;
    batteryState_ = BatteryState::Unplugged;
}

UserInterfaceIdiom Device::userInterfaceIdiom() const {
    std::lock_guard lock(mutex_);
    return idiom_;
}

void Device::setUserInterfaceIdiom(UserInterfaceIdiom idiom) {
    std::lock_guard lock(mutex_);
    idiom_ = idiom;
}

std::string Device::systemVersion() const {
    std::lock_guard lock(mutex_);
    return systemVersion_;
}

void Device::setSystemVersion(std::string version) {
    std::lock_guard lock(mutex_);
    systemVersion_ = std::move(version);
}

std::string Device::model() const {
    std::lock_guard lock(mutex_);
    if (!model_.empty()) return model_;
    return idiom_ == UserInterfaceIdiom::Pad ? "Tablet" : "Phone";
}

void Device::setModel(std::string model) {
    std::lock_guard lock(mutex_);
    model_ = std::move(model);
}

std::string Device::name() const {
    {
        std::lock_guard lock(mutex_);
        if (!name_.empty()) return name_;
    }
    utsname u{};
    if (uname(&u) != 0) return {};
    return u.nodename;
}

void Device::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

std::string Device::machine() const {
    {
        std::lock_guard lock(mutex_);
        if (!machine_.empty()) return machine_;
    }
    utsname u{};
    if (uname(&u) != 0) return {};
    return u.machine;
}

void Device::setMachine(std::string machine) {
    std::lock_guard lock(mutex_);
    machine_ = std::move(machine);
}

std::optional<std::string> Device::identifierForVendor() const {
    std::lock_guard lock(mutex_);
    if (!identifierForVendor_) {
        std::random_device source;
        uint8_t bytes[16];
        for (auto& b : bytes) b = static_cast<uint8_t>(source());
        bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);
        bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);
        static constexpr char kHex[] = "0123456789ABCDEF";
        std::string text;
        for (int i = 0; i < 16; ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
            text.push_back(kHex[bytes[i] >> 4]);
            text.push_back(kHex[bytes[i] & 15]);
        }
        identifierForVendor_ = text;
    }
    return *identifierForVendor_;
}

void Device::setIdentifierForVendor(std::optional<std::string> identifier) {
    std::lock_guard lock(mutex_);
    identifierForVendor_ = std::move(identifier);
}

DeviceOrientation Device::orientation() const {
    std::lock_guard lock(mutex_);
    return orientation_;
}

void Device::setOrientation(DeviceOrientation orientation) {
    {
        std::lock_guard lock(mutex_);
        if (orientation_ == orientation) return;
        orientation_ = orientation;
    }
    NotificationCenter::defaultCenter().post(kDeviceOrientationDidChangeNotification, this);
}

bool Device::isBatteryMonitoringEnabled() const {
    std::lock_guard lock(mutex_);
    return batteryMonitoring_;
}

void Device::setBatteryMonitoringEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    batteryMonitoring_ = enabled;
}

float Device::batteryLevel() const {
    std::lock_guard lock(mutex_);
    return batteryMonitoring_ ? batteryLevel_ : -1.0f;
}

void Device::setBatteryLevel(float level) {
    std::lock_guard lock(mutex_);
    batteryLevel_ = level;
}

BatteryState Device::batteryState() const {
    std::lock_guard lock(mutex_);
    return batteryMonitoring_ ? batteryState_ : BatteryState::Unknown;
}

void Device::setBatteryState(BatteryState state) {
    std::lock_guard lock(mutex_);
    batteryState_ = state;
}

}  // namespace platform
