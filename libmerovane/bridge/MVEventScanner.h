#pragma once
// Page events of the barcode scanner.

#include <optional>
#include <string>

#include "libmerovane/bridge/MVEvent.h"

namespace MVEventScanner {

MVEvent scannerDidScan(const std::string& code, const std::string& format);
// Each missing argument is sent as the empty string.
MVEvent scannerDidCaptureImage(const std::optional<std::string>& imageData,
                               const std::optional<std::string>& format,
                               const std::optional<std::string>& requestID);

}  // namespace MVEventScanner
