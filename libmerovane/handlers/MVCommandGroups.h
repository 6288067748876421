#pragma once
// The registration functions of the command groups, one per topic; each adds its
// commands to the tables of its version classes. registerCommandHandlerClasses() calls
// them all.

// showTab, flushTab, popTabToRoot, popTab, showNavigationBar, hideNavigationBar,
// setNavigationBar (1.0); showTab, cleanTab (1.1); enablePopGesture (2.0).
void registerNavigationControllerCommands();
// showSplashScreen, hideSplashScreen, setSplashScreen (1.0).
void registerSplashScreenCommands();
// setLocalization, updateLocalization, setCurrentLocale (1.0).
void registerLocalizationCommands();
// getPushNotificationToken, pushNotificationResponse, pushNotificationResponseFinished (1.0).
void registerPushNotificationCommands();
// setMenuBar, showMenuBar, hideMenuBar, setBackgroundMenu, showBackgroundMenu,
// hideBackgroundMenu (1.0).
void registerMenuCommands();
// showAlert, presentNotification, showActionSheet (1.0).
void registerMessagingCommands();
// getLocation (1.0).
void registerLocationCommands();
// shareItem (1.0, 3.0).
void registerSharingCommands();
// openScanner, closeScanner, startScanner, stopScanner, setFlashlightMode (1.0);
// openScanner, setScannerMode, scannerCaptureImage (1.1).
void registerScannerCommands();
// performCommandsAfterDelay, setConnectionLossMonitoringEnabled, terminateApp (1.1);
// bootApp, vibrate, deepLinkResponse, deepLinkResponseFinished (2.0).
void registerGeneralCommands();
// openPage, openPageExtern, replacePage, refreshPage, closeView, onload,
// setViewProperties, setTouchInputEnabled, setScrollingEnabled, pageSizeDidChange,
// preloadView, setNavigationBarParams, toggleKeyboard (1.0).
void registerPageCommands();
// openPage, setPreferredStatusBarStyle (1.1); openPage, setViewTags, addViewTags,
// removeViewTags, popToTag, popPagesWithTags, enablePullToRefresh (2.0).
void registerWebViewCommands();
// sendDataRequest, registerEvents, broadcastEvent, setWebStorageEntry, getWebStorageEntry (1.0).
void registerDataRequestCommands();
// clearCache, setPage, dataResponse, setVariable, setAutologinKey, startMonitoringResources,
// stopMonitoringResources (1.0); clearCache (1.1); setPage (2.0).
void registerApiContentCommands();
// takeScreenshot (1.0).
void registerScreenshotCommands();
