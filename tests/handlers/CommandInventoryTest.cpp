// Which command names each version reaches, and at which level each logs its
// "performing" line. The table lists every command of the protocol; a command counts
// once its group is built, and payment commands stay unknown here.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "libmerovane/handlers/MVCommandHandler_2_1.h"
#include "libmerovane/handlers/MVCommandHandler_3_0.h"

namespace {

struct Command {
    const char* name;
    int since;    // version number that introduced it
    bool raised;  // "performing" at information level
};

// clang-format off
const Command kCommands[] = {
    // pages
    {"openPage", 10, true}, {"openPageExtern", 10, true}, {"replacePage", 10, true},
    {"refreshPage", 10, true}, {"closeView", 10, true},
    {"onload", 10, false}, {"setViewProperties", 10, false}, {"setTouchInputEnabled", 10, false},
    {"setScrollingEnabled", 10, false}, {"pageSizeDidChange", 10, false},
    {"preloadView", 10, true}, {"setNavigationBarParams", 10, true}, {"toggleKeyboard", 10, false},
    {"sendDataRequest", 10, false}, {"registerEvents", 10, false}, {"broadcastEvent", 10, false},
    {"setWebStorageEntry", 10, true}, {"getWebStorageEntry", 10, false},
    // navigation
    {"showTab", 10, true}, {"flushTab", 10, true}, {"popTabToRoot", 10, true},
    {"popTab", 10, true}, {"showNavigationBar", 10, true}, {"hideNavigationBar", 10, true},
    {"setNavigationBar", 10, true}, {"cleanTab", 11, true}, {"enablePopGesture", 20, true},
    // web views
    {"setPreferredStatusBarStyle", 11, false},
    {"setViewTags", 20, true}, {"addViewTags", 20, true}, {"removeViewTags", 20, true},
    {"popToTag", 20, true}, {"popPagesWithTags", 20, true}, {"enablePullToRefresh", 20, true},
    // menus
    {"setMenuBar", 10, true}, {"showMenuBar", 10, true}, {"hideMenuBar", 10, true},
    {"setBackgroundMenu", 10, true}, {"showBackgroundMenu", 10, true},
    {"hideBackgroundMenu", 10, true},
    // messaging
    {"showAlert", 10, true}, {"presentNotification", 10, true}, {"showActionSheet", 10, true},
    // general
    {"performCommandsAfterDelay", 11, true}, {"setConnectionLossMonitoringEnabled", 11, true},
    {"terminateApp", 11, true}, {"bootApp", 20, true}, {"vibrate", 20, false},
    {"deepLinkResponse", 20, true}, {"deepLinkResponseFinished", 20, true},
    // push notifications
    {"getPushNotificationToken", 10, false}, {"pushNotificationResponse", 10, false},
    {"pushNotificationResponseFinished", 10, false},
    // API content
    {"clearCache", 10, true}, {"setPage", 10, true}, {"dataResponse", 10, true},
    {"setVariable", 10, true}, {"setAutologinKey", 10, true},
    {"startMonitoringResources", 10, true}, {"stopMonitoringResources", 10, true},
    // screenshot, localization, location
    {"takeScreenshot", 10, true},
    {"setLocalization", 10, true}, {"updateLocalization", 10, true}, {"setCurrentLocale", 10, false},
    {"getLocation", 10, false},
    // splash screen, sharing, scanner
    {"showSplashScreen", 10, true}, {"hideSplashScreen", 10, true}, {"setSplashScreen", 10, true},
    {"shareItem", 10, false},
    {"openScanner", 10, true}, {"closeScanner", 10, true}, {"startScanner", 10, true},
    {"stopScanner", 10, true}, {"setFlashlightMode", 10, true},
    {"setScannerMode", 11, true}, {"scannerCaptureImage", 11, true},
};
// clang-format on

const char* const kPaymentCommands[] = {
    "applePayBegin",
    "applePayContinue",
    "applePayEnd",
    "tesseraWalletStart",
    "tesseraWalletEnd",
    "tesseraWalletChangeMaskedWallet",
    "tesseraWalletSendFullWalletRequest",
};

// The groups built so far.
// clang-format off
const std::set<std::string> kBuilt = {
    "showTab",           "flushTab",           "popTabToRoot",     "popTab",
    "showNavigationBar", "hideNavigationBar",  "setNavigationBar", "cleanTab",
    "enablePopGesture",  "showSplashScreen",   "hideSplashScreen", "setSplashScreen",
    "setLocalization",   "updateLocalization", "setCurrentLocale",
    "getPushNotificationToken", "pushNotificationResponse", "pushNotificationResponseFinished",
    "performCommandsAfterDelay", "setConnectionLossMonitoringEnabled", "terminateApp",
    "bootApp", "vibrate", "deepLinkResponse", "deepLinkResponseFinished",
    "setMenuBar", "showMenuBar", "hideMenuBar",
    "setBackgroundMenu", "showBackgroundMenu", "hideBackgroundMenu",
    "showAlert", "presentNotification", "showActionSheet",
    "getLocation", "shareItem",
    "openScanner", "closeScanner", "startScanner", "stopScanner", "setFlashlightMode",
    "setScannerMode", "scannerCaptureImage",
    "openPage", "openPageExtern", "replacePage", "refreshPage", "closeView",
    "onload", "setViewProperties", "setTouchInputEnabled", "setScrollingEnabled",
    "pageSizeDidChange", "preloadView", "setNavigationBarParams", "toggleKeyboard",
    "setPreferredStatusBarStyle", "setViewTags", "addViewTags", "removeViewTags",
    "popToTag", "popPagesWithTags", "enablePullToRefresh",
    "sendDataRequest", "registerEvents", "broadcastEvent", "setWebStorageEntry",
    "getWebStorageEntry", "clearCache", "setPage", "dataResponse", "setVariable",
    "setAutologinKey", "startMonitoringResources", "stopMonitoringResources", "takeScreenshot",
};
// clang-format on

const int kVersions[] = {10, 11, 20, 21, 30};

TEST(CommandInventoryTest, EachVersionReachesItsCommandsAtTheirLevels) {
    registerCommandHandlerClasses();
    ASSERT_EQ(std::size(kCommands), 76u);
    std::set<std::string> known;
    for (const auto& command : kCommands) known.insert(command.name);
    ASSERT_EQ(known.size(), 76u);

    for (int version : kVersions) {
        auto handler = MVCommandHandler::sharedHandlerForVersion(version);
        for (const auto& command : kCommands) {
            const bool reachable = kBuilt.count(command.name) && command.since <= version;
            auto definition = handler->commandDefinition(command.name);
            ASSERT_EQ(definition != nullptr, reachable) << command.name << " in " << version;
            if (definition) {
                EXPECT_EQ(definition->raisedLogLevel, command.raised) << command.name;
            }
        }
        for (const char* payment : kPaymentCommands)
            EXPECT_EQ(handler->commandDefinition(payment), nullptr) << payment;
    }
    // no table holds a name outside the protocol
    for (const auto* table :
         {&MVCommandHandler_1_0::commandTable(), &MVCommandHandler_1_1::commandTable(),
          &MVCommandHandler_2_0::commandTable(), &MVCommandHandler_2_1::commandTable(),
          &MVCommandHandler_3_0::commandTable()}) {
        for (const auto& name : table->names()) {
            EXPECT_TRUE(known.count(name)) << name;
        }
    }
}

}  // namespace
