#include "wallet/TWARiskUtils.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "platform/ui/Device.h"
#include "wallet/TWADate.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWALog.h"
#include "wallet/TWASharedRegionUtils.h"

std::string TWARiskUtils::riskEncoding(const std::string& bytes) {
    return TWABase64URLEncode(bytes, false);
}

std::string TWARiskUtils::riskData() {
    return riskEncoding(riskMessage().SerializeAsString());
}

std::string TWARiskUtils::platform() {
    std::string machine = platform::Device::current().machine();
    return machine.empty() ? kUnknownPlatform : machine;
}

std::vector<std::string> TWARiskUtils::ipAddresses() {
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (entry->ifa_addr->sa_family == AF_INET) {
            auto* address = reinterpret_cast<sockaddr_in*>(entry->ifa_addr);
            if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) out.emplace_back(text);
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            auto* address = reinterpret_cast<sockaddr_in6*>(entry->ifa_addr);
            if (inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text)) out.emplace_back(text);
        }
    }
    freeifaddrs(list);
    return out;
}

int32_t TWARiskUtils::percentBattery(float level) {
    double percent = std::round(static_cast<double>(level) * 100.0);
    if (!(percent > -2147483648.0 && percent < 2147483647.0)) return -100;
    return static_cast<int32_t>(percent);
}

std::string TWARiskUtils::localeIdentifier() {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        value = std::getenv(name);
        if (value && *value) break;
        value = nullptr;
    }
    std::string text = value ? value : "";
    text = text.substr(0, text.find_first_of(".@"));
    if (text.empty() || text == "C" || text == "POSIX") return "en_US_POSIX";
    return text;
}

int64_t TWARiskUtils::gmtOffsetMillis() {
    time_t now = static_cast<time_t>(TWADate::date().timeIntervalSince1970());
    tm local{};
    if (!localtime_r(&now, &local)) return 0;
    return static_cast<int64_t>(local.tm_gmtoff) * 1000;
}

walletproto::PFRiskAdvisoryData TWARiskUtils::riskMessage() {
    using Properties = walletproto::PFMDeviceFingerprinting::Parsed::Properties;
    auto& device = platform::Device::current();
    walletproto::PFRiskAdvisoryData message;
    auto* parsed = message.mutable_device_fingerprinting()->mutable_parsed();
    auto* properties = parsed->mutable_properties();
    properties->set_operating_system(Properties::IOS);
    if (auto vendor = device.identifierForVendor()) properties->set_ios_vendor_identifier(*vendor);
    properties->set_user_assigned_name(device.name());
    properties->set_product_name(platform());
    properties->set_model_name(device.model());
    properties->set_os_version(device.systemVersion());
    auto* state = parsed->mutable_state();
    for (auto& address : ipAddresses()) state->add_ip_addr(std::move(address));
    state->set_percent_battery(percentBattery(device.batteryLevel()));
    state->set_gmt_offset_millis(gmtOffsetMillis());
    if (auto language = TWASharedRegionUtils::userPreferredLanguageCode())
        state->set_language(*language);
    state->set_locale(localeIdentifier());
    return message;
}
