#pragma once
// The commands the library sends the API server, each built new with its name and
// parameters and handed alone to MVApiConnection::sendCommands:
//
//   MVApiConnection::sharedConnection().sendCommands({MVCommandApiGeneral::appStart()});
//
// "openPage" is not sent but performed by the command handler. Builders hold no state;
// appStart reads the library application, the device, the stored autologin key and the
// cached boot script.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/core/MVLocationFix.h"

namespace MVCommandApiGeneral {
// "appStart": the key, versions and identifier of the application and the device.
MVCommand appStart();
// The device dictionary of appStart, without the optional keys.
nlohmann::json deviceDictionary();
MVCommand setPushNotificationToken(const std::string& token);
MVCommand openPushNotification(const std::string& notificationId, bool needsInAppDisplay,
                               const std::optional<std::string>& action,
                               const std::optional<std::string>& category);
MVCommand openPage(const std::string& src);
MVCommand openDeepLink(const std::optional<std::string>& linkId, int64_t linkSerial,
                       const std::optional<nlohmann::json>& parameters);
// One dictionary per video capture device, in the platform's order.
nlohmann::json availableCamerasAndFeatures();
}  // namespace MVCommandApiGeneral

namespace MVCommandLocation {
MVCommand setLocation(const std::optional<MVLocationFix>& location);
MVCommand locationServiceStatusDidChange(bool allowed);
}  // namespace MVCommandLocation

namespace MVCommandScreenshot {
MVCommand setScreenshotWithData(const std::optional<std::string>& imageData,
                                const std::string& screenshotId);
}  // namespace MVCommandScreenshot

namespace MVCommandContent {
MVCommand getPage(const std::string& pageId);
MVCommand getLocalization(const nlohmann::json& fileHashes);
}  // namespace MVCommandContent
