#include "libmerovane/application/MVServerCommands.h"

#include <algorithm>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/application/MVLocalization.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"

using nlohmann::json;

namespace {

MVCommand command(const char* name, json parameters) {
    MVCommand c;
    c.setName(name);
    c.setParameters(parameters);
    return c;
}

std::string infoText(const char* key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    if (value && value->is_string()) return value->get<std::string>();
    MVLogWarn("MVCommand appStart: the Info value {} is missing", key);
    return {};
}

std::optional<std::string> storedAutologinKey() {
    std::optional<std::string> key;
    MVPersistentStorage::sharedStorage().lockedAccess([&key] {
        if (auto variable = MVApiConnectionVariable::dbObjectWithID("autologinKey"))
            key = variable->value();
    });
    if (key && key->empty()) key.reset();
    return key;
}

std::optional<std::string> cachedBootAppIdentifier() {
    auto script =
        platform::UserDefaults::standard().objectForKey(MVStandardUserDefaultsCachedBootScript);
    if (!script || !script->is_object()) return std::nullopt;
    auto found = script->find("identifier");
    if (found == script->end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

}  // namespace

namespace MVCommandApiGeneral {

json deviceDictionary() {
    auto& device = platform::Device::current();
    auto& screen = platform::Screen::main();
    const bool pad = device.userInterfaceIdiom() == platform::UserInterfaceIdiom::Pad;
    const auto bounds = screen.bounds();
    const double width = pad ? bounds.size.height : bounds.size.width;
    const double height = pad ? bounds.size.width : bounds.size.height;
    const auto languages = MVLocalization::preferredLanguages();
    const std::string version = device.systemVersion();
    return json{{"model", devicePlatform()},
                {"screen",
                 {{"width", width}, {"height", height}, {"scale", screen.scale() == 2.0 ? 2 : 1}}},
                {"os", {{"platform", "ios"}, {"ver", version}, {"apiLevel", version}}},
                {"type", pad ? "tablet" : "phone"},
                {"carrier", device.carrierName()},
                {"locale", languages.empty() ? std::string() : languages.front()},
                {"cameras", availableCamerasAndFeatures()}};
}

MVCommand appStart() {
    auto& library = MVLibraryApplication::sharedLibrary();
    json parameters{{"apiKey", library.apiKey()},
                    {"appVersion", infoText("CFBundleShortVersionString")},
                    {"appIdentifier", library.appIdentifier()},
                    {"codebase", infoText("Codebase")},
                    {"device", deviceDictionary()}};
    if (auto advertisingId = platform::Device::current().advertisingIdentifier())
        parameters["device"]["advertisingId"] = *advertisingId;
    if (auto key = storedAutologinKey()) parameters["autologinKey"] = *key;
    if (auto identifier = cachedBootAppIdentifier()) parameters["bootAppIdentifier"] = *identifier;
    return command("appStart", std::move(parameters));
}

MVCommand setPushNotificationToken(const std::string& token) {
    return command("setPushToken", {{"pushToken", token}});
}

MVCommand openPushNotification(const std::string& notificationId, bool needsInAppDisplay,
                               const std::optional<std::string>& action,
                               const std::optional<std::string>& category) {
    json parameters{{"notificationId", notificationId}};
    if (needsInAppDisplay) {
        parameters["needsInAppDisplay"] = true;
    } else if (action && category) {
        parameters["category"] = *category;
        parameters["action"] = *action;
    }
    return command("openPushNotification", std::move(parameters));
}

MVCommand openPage(const std::string& src) {
    return command("openPage", {{"src", src}});
}

MVCommand openDeepLink(const std::optional<std::string>& linkId, int64_t linkSerial,
                       const std::optional<json>& parameters) {
    return command("openDeepLink", {{"linkId", linkId.value_or("")},
                                    {"linkSerial", linkSerial},
                                    {"parameters", parameters.value_or(json(""))}});
}

json availableCamerasAndFeatures() {
    json cameras = json::array();
    for (const auto& camera : platform::Device::current().videoCaptureDevices()) {
        cameras.push_back(
            {{"type",
              camera.position == platform::CaptureDevice::Position::Front ? "front" : "back"},
             {"video", 1},
             {"resolutionX", camera.width},
             {"resolutionY", camera.height},
             {"light", camera.hasTorch}});
    }
    return cameras;
}

}  // namespace MVCommandApiGeneral

namespace MVCommandLocation {

MVCommand setLocation(const std::optional<MVLocationFix>& location) {
    if (!location) return command("setLocation", {{"location", nullptr}});
    json fix{{"latitude", location->latitude},
             {"longitude", location->longitude},
             {"accuracy", std::max(location->verticalAccuracy, location->horizontalAccuracy)}};
    return command("setLocation", {{"location", json::array({fix})}});
}

MVCommand locationServiceStatusDidChange(bool allowed) {
    return command("locationServiceStatusDidChange", {{"allowed", allowed}});
}

}  // namespace MVCommandLocation

namespace MVCommandScreenshot {

MVCommand setScreenshotWithData(const std::optional<std::string>& imageData,
                                const std::string& screenshotId) {
    return command("setScreenshot",
                   {{"id", screenshotId}, {"imageData", imageData ? json(*imageData) : json()}});
}

}  // namespace MVCommandScreenshot

namespace MVCommandContent {

MVCommand getPage(const std::string& pageId) {
    return command("getPage", {{"pageId", pageId}});
}

MVCommand getLocalization(const json& fileHashes) {
    return command("getLocalization", {{"fileHashes", fileHashes}});
}

}  // namespace MVCommandContent
