#pragma once
// The device risk data every request carries: a PFRiskAdvisoryData message of the
// device's properties (system, vendor identifier, name, hardware and model, version)
// and state (interface addresses, battery, time-zone offset, language, locale).

#include <string>
#include <vector>

#include "wallet/proto/device_fingerprinting.pb.h"

class TWARiskUtils {
  public:
    static constexpr const char* kUnknownPlatform = "unknown_platform";

    // Base64url without padding of the serialized riskMessage.
    static std::string riskData();
    static walletproto::PFRiskAdvisoryData riskMessage();
    static std::string riskEncoding(const std::string& bytes);
    // The hardware model ("x86_64" on a desktop, a phone's code when configured).
    static std::string platform();
    // IPv4 and IPv6 interface addresses in the system's order; empty when unreadable.
    static std::vector<std::string> ipAddresses();
    // The battery level × 100, rounded half away from zero.
    static int32_t percentBattery(float level);
    // The current locale's identifier, from the process's locale environment.
    static std::string localeIdentifier();
    static int64_t gmtOffsetMillis();
};
