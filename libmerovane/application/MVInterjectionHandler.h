#pragma once
// Keeps the one current interjection (a pushed notification or a deep link being
// opened): sends the server its opening command and shows a blocking waiting overlay,
// matches the server's answers to it, holds an answer's command list while the boot
// command runs, and removes the overlay when the server says the interjection has
// finished (while the splash screen shows: when the splash screen goes). It also
// registers for remote notifications and hands the device token on.
//
//   auto handler = MVInterjectionHandler::sharedHandler();   // installs itself
//   handler->openDeepLinkWithID("product/42", "?x=1", false);
//   handler->performDeepLinkResponseWithLinkSerial(1000, list, commandHandler);
//   handler->deepLinkResponseFinishedForLinkSerial(1000);
//
// Misuse (a missing interjection, command or list; a representation where a full
// instance is needed and the reverse) is logged at warning level and reported to the
// error logger; nothing else changes. Answers for anything but the current
// interjection are ignored. The interjection that stops being current runs its
// then-do block with NO.
// Main thread only.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/application/MVInterjection.h"
#include "libmerovane/application/MVInterjectionInterface.h"
#include "libmerovane/bridge/MVCommand.h"
#include "platform/foundation/NotificationCenter.h"

class MVActivityIndicationOverlayInterface;
class MVCommandHandler;

class MVInterjectionHandler : public MVInterjectionInterface,
                              public std::enable_shared_from_this<MVInterjectionHandler> {
  public:
    // Called with the token's bytes and its text (two lower-case hexadecimal digits a byte).
    using RegistrationBlock =
        std::function<void(const std::string& tokenBytes, const std::string& tokenText)>;
    using Overlay = MVActivityIndicationOverlayInterface;

    static constexpr double kOverlayFadeDuration = 0.3;

    // The one handler, created on first use; it installs itself as the shared
    // MVInterjectionInterface.
    static std::shared_ptr<MVInterjectionHandler> sharedHandler();
    ~MVInterjectionHandler() override;

    void openInterjection(const std::shared_ptr<MVInterjection>& interjection, bool silent,
                          const std::optional<MVCommand>& sendingCommand);
    void performInterjectionResponseForInterjectionRepresentation(
        const std::shared_ptr<MVInterjection>& representation,
        std::optional<nlohmann::json> commandList,
        const std::shared_ptr<MVCommandHandler>& commandHandler);
    void interjectionResponseFinishedForInterjectionRepresentation(
        const std::shared_ptr<MVInterjection>& representation);
    void showWaitingForInterjectionOverlayViewWithMessage(const std::string& message);
    void hideWaitingForInterjectionOverlayView();
    // Runs the interjection's then-do block, once.
    static void performThenDoBlockOf(MVInterjection& interjection, bool completed);
    // {"sendingCommand": name, "parameters": parameters}; {} for none.
    static nlohmann::json errorDataForSendingCommand(const MVCommand* command);

    // Pushed notifications.
    void openPushNotificationWithID(const std::string& notificationId) override;
    // Action and category are sent only when both are given (not empty).
    void openPushNotificationWithId(const std::string& notificationId,
                                    const std::string& actionIdentifier,
                                    const std::string& category,
                                    std::function<void()> completionHandler) override;
    void showPushNotificationInAppDisplayWithId(const std::string& notificationId) override;
    // With the shared handler of version 2.1.
    void performPushResponseWithNotificationId(const std::string& notificationId,
                                               std::optional<nlohmann::json> commandList);
    void performPushResponseWithNotificationId(
        const std::string& notificationId, std::optional<nlohmann::json> commandList,
        const std::shared_ptr<MVCommandHandler>& commandHandler);
    void pushNotificationResponseFinishedForNotificationID(const std::string& notificationId);
    void registerNotificationSettings(const nlohmann::json& settings);
    // Makes the block (when given) the pending one, in place of an earlier one, and
    // registers; the block runs once with the token.
    void registerForPushNotificationOnSuccess(RegistrationBlock block);
    void didRegisterUserNotificationSettings(const nlohmann::json& settings) override;
    // `token`: the device token's bytes; empty drops the queued blocks.
    void didRegisterForRemoteNotificationsWithDeviceToken(const std::string& token) override;

    // Deep links.
    void openDeepLinkWithID(const std::string& linkId, const std::string& parameters,
                            bool silent) override;
    void performDeepLinkResponseWithLinkSerial(int64_t linkSerial,
                                               std::optional<nlohmann::json> commandList);
    void performDeepLinkResponseWithLinkSerial(
        int64_t linkSerial, std::optional<nlohmann::json> commandList,
        const std::shared_ptr<MVCommandHandler>& commandHandler);
    void deepLinkResponseFinishedForLinkSerial(int64_t linkSerial);

    // Every byte as two lower-case hexadecimal digits.
    static std::string tokenText(const std::string& tokenBytes);

    std::shared_ptr<MVInterjection> currentInterjection() const { return currentInterjection_; }
    std::shared_ptr<MVInterjection> lastReceivedResponseInterjection() const {
        return lastReceivedResponseInterjection_;
    }
    std::shared_ptr<Overlay> waitingForInterjectionOverlayView() const { return overlay_; }
    bool bootAppCommandIsBeingPerformed() const { return bootAppCommandIsBeingPerformed_; }
    const std::optional<std::string>& openingPushNotificationInAppDisplayId() const {
        return openingPushNotificationInAppDisplayId_;
    }

  private:
    MVInterjectionHandler() = default;
    void observe();
    void splashScreenWillHide();
    void bootAppWillBegin();
    void bootAppDidEnd();
    // Makes the interjection current (or none); the one it replaces runs its block.
    void setCurrentInterjection(std::shared_ptr<MVInterjection> interjection);
    bool isCurrent(const MVInterjection& representation) const;
    bool isCurrentPushNotification(const std::string& notificationId) const;
    // Fades the overlay out and lets it go; `then` runs when the fade has finished.
    void fadeOutOverlay(std::function<void()> then);

    std::shared_ptr<Overlay> overlay_;
    std::shared_ptr<MVInterjection> currentInterjection_;
    std::shared_ptr<MVInterjection> lastReceivedResponseInterjection_;
    bool bootAppCommandIsBeingPerformed_ = false;
    bool isWaitingForRegisteringNotificationSettings_ = false;
    std::optional<std::string> openingPushNotificationInAppDisplayId_;
    std::vector<RegistrationBlock> didRegisterForPushNotificationServiceSuccessfullyBlocks_;
    // The settings the application last registered; none yet.
    std::optional<nlohmann::json> notificationSettings_;
    std::vector<platform::ObserverRegistration> observers_;
};
