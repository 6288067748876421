#include "libmerovane/bridge/MVEventScanner.h"

#include <nlohmann/json.hpp>

namespace MVEventScanner {

MVEvent scannerDidScan(const std::string& code, const std::string& format) {
    nlohmann::json scan = {{"code", code}, {"format", format}};
    return MVEvent("scannerDidScan", nlohmann::json::array({std::move(scan)}));
}

MVEvent scannerDidCaptureImage(const std::optional<std::string>& imageData,
                               const std::optional<std::string>& format,
                               const std::optional<std::string>& requestID) {
    nlohmann::json capture = {{"imageData", imageData.value_or("")},
                              {"requestId", requestID.value_or("")},
                              {"format", format.value_or("")}};
    return MVEvent("scannerDidCaptureImage", nlohmann::json::array({std::move(capture)}));
}

}  // namespace MVEventScanner
