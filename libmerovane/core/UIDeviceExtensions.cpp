#include "libmerovane/core/UIDeviceExtensions.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"

namespace {

constexpr const char* kSimulatorPhone = "iPhoneS,1";
constexpr const char* kSimulatorPad = "iPadS,1";
constexpr double kPadMinimumWidth = 768;

struct VersionBuffer {
    std::mutex mutex;
    bool filled = false;
    SystemVersion value{};
};

VersionBuffer& deviceVersion() {
    static VersionBuffer* buffer = [] {
        auto* b = new VersionBuffer;
        platform::registerSharedInstanceReset("UIDeviceExtensions.systemVersionAsInts", [b] {
            std::lock_guard lock(b->mutex);
            b->filled = false;
            b->value = {};
        });
        return b;
    }();
    return *buffer;
}

// A text's integer value: white space skipped, an optional sign, then digits; 0 without.
int64_t integerValue(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t value = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        const int digit = s[i] - '0';
        if (value > (INT64_MAX - digit) / 10) return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

}  // namespace

const SystemVersion& systemVersionAsInts() {
    auto& b = deviceVersion();
    std::lock_guard lock(b.mutex);
    if (!b.filled) {
        const std::string text = platform::Device::current().systemVersion();
        std::string_view rest = text;
        for (size_t part = 0; part < 3; ++part) {
            const size_t dot = rest.find('.');
            b.value[part] = static_cast<uint32_t>(integerValue(rest.substr(0, dot)));
            if (dot == std::string_view::npos) break;
            rest.remove_prefix(dot + 1);
        }
        b.filled = true;
    }
    return b.value;
}

const SystemVersion& UISystemVersionMake(uint32_t major, uint32_t minor, uint32_t patch) {
    static SystemVersion made{};
    made = {major, minor, patch};
    return made;
}

bool systemVersionEqualOrAbove(const SystemVersion& version) {
    const SystemVersion& device = systemVersionAsInts();
    for (size_t i = 0; i < 3; ++i)
        if (device[i] != version[i]) return device[i] > version[i];
    return true;
}

std::string getSysInfoByName(const char* name) {
    if (name && std::strcmp(name, "hw.machine") == 0) return platform::Device::current().machine();
    return {};
}

std::string devicePlatform() {
    const std::string machine = getSysInfoByName("hw.machine");
    if (machine == "i386" || machine == "x86_64")
        return platform::Screen::main().bounds().size.width < kPadMinimumWidth ? kSimulatorPhone
                                                                               : kSimulatorPad;
    return machine;
}

bool platformIsSimulator() {
    const std::string p = devicePlatform();
    return p == kSimulatorPhone || p == kSimulatorPad;
}
