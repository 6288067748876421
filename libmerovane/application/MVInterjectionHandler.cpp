#include "libmerovane/application/MVInterjectionHandler.h"

#include <utility>

#include "libmerovane/application/MVServerCommands.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVInstalledInstance.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "platform/foundation/JsonValue.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

namespace {

// The misuse texts: what is logged, and what is reported.
constexpr const char* kOpenWithoutInterjectionLine =
    "MVInterjectionHandler.openInterjection() without interjection instance. OpenInterjection "
    "won't be performed";
constexpr const char* kOpenWithoutInterjectionReport =
    "MVInterjectionHandler.openInterjection() without interjection instance.";
constexpr const char* kOpenWithoutCommandLine =
    "MVInterjectionHandler.openInterjection() without sending command. OpenInterjection won't "
    "be performed: {}";
constexpr const char* kOpenWithoutCommandReport =
    "MVInterjectionHandler.openInterjection() without sending command.";
constexpr const char* kOpenRepresentation =
    "In MVInterjectionHandler.openInterjection(), an interjection representation can't be used. "
    "Use a full instance of an interjection sublass instead";
constexpr const char* kResponseWithoutInterjectionLine =
    "MVInterjectionHandler.performInterjectionResponseForInterjectionRepresentation() without "
    "interjection instance. PerformInterjectionResponse won't be performed";
constexpr const char* kResponseWithoutInterjectionReport =
    "MVInterjectionHandler.performInterjectionResponseForInterjectionRepresentation() without "
    "interjection instance.";
constexpr const char* kResponseWithoutListLine =
    "MVInterjectionHandler.performInterjectionResponseForInterjectionRepresentation() without "
    "command list to perform. PerformInterjectionResponse won't be performed";
constexpr const char* kResponseWithoutListReport =
    "MVInterjectionHandler.performInterjectionResponseForInterjectionRepresentation() without "
    "interjection  command list to perform.";
constexpr const char* kResponseFullInstanceLine =
    "In MVInterjectionHandler.performInterjectionResponseForInterjectionRepresentation(), a full "
    "interjection instance can't be used. Use an interjection representation instance of an "
    "interjection sublass instead";
constexpr const char* kResponseFullInstanceReport =
    "MVInterjectionHandler.performInterjectionResponseForInterjectionRepresentation(),a full "
    "interjection instance can't be used. Use an interjection representation instance of an "
    "interjection sublass instead";
constexpr const char* kFinishedWithoutInterjection =
    "MVInterjectionHandler.interjectionResponseFinishedForInterjectionRepresentation() without "
    "interjection instance.";
constexpr const char* kFinishedFullInstanceLine =
    "In MVInterjectionHandler.interjectionResponseFinishedForInterjectionRepresentation(), a full "
    "interjection instance can't be used. Use an interjection representation instance of an "
    "interjection sublass instead";
constexpr const char* kFinishedFullInstanceReport =
    "MVInterjectionHandler.interjectionResponseFinishedForInterjectionRepresentation(),a full "
    "interjection instance can't be used. Use an interjection representation instance of an "
    "interjection sublass instead";

// Badge, sound and alert.
constexpr int kNotificationTypes = 7;

using HandlerSlot = MVInstalledInstance<MVInterjectionHandler>;
constexpr const char* kHandlerSlot = "MVInterjectionHandler";

void warnAndReport(const std::string& line, const std::string& report, const nlohmann::json* data) {
    MVLogWarn("{}", line);
    if (data)
        MVErrorLogger::logError(report, *data);
    else
        MVErrorLogger::logError(report);
}

// A non-empty list of commands, the only answer that runs.
bool isRunnableList(const std::optional<nlohmann::json>& list) {
    return list && list->is_array() && !list->empty();
}

void performList(nlohmann::json&& list, std::shared_ptr<MVCommandHandler> commandHandler) {
    if (!commandHandler) commandHandler = MVCommandHandler::sharedHandler();
    if (commandHandler) commandHandler->performCommands(std::move(list), nullptr);
}

}  // namespace

std::shared_ptr<MVInterjectionHandler> MVInterjectionHandler::sharedHandler() {
    if (auto handler = HandlerSlot::get(kHandlerSlot)) return handler;
    auto created = std::shared_ptr<MVInterjectionHandler>(new MVInterjectionHandler);
    HandlerSlot::install(created, kHandlerSlot);
    created->observe();
    MVInterjectionInterface::setShared(created);
    return created;
}

MVInterjectionHandler::~MVInterjectionHandler() = default;

void MVInterjectionHandler::observe() {
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVInterjectionHandler> weak = weak_from_this();
    auto add = [&](const char* name, void (MVInterjectionHandler::*method)()) {
        observers_.emplace_back(
            center,
            center.addObserver(name, nullptr, [weak, method](const platform::Notification&) {
                if (auto handler = weak.lock()) (handler.get()->*method)();
            }));
    };
    add(MVSplashScreenWillHideNotification, &MVInterjectionHandler::splashScreenWillHide);
    add(MVLibraryApplicationReceivedBootAppCommand, &MVInterjectionHandler::bootAppWillBegin);
    add(MVLibraryApplicationPerformedBootAppCommand, &MVInterjectionHandler::bootAppDidEnd);
}

nlohmann::json MVInterjectionHandler::errorDataForSendingCommand(const MVCommand* command) {
    if (!command) return nlohmann::json::object();
    return {{"sendingCommand", command->name()},
            {"parameters", command->parameters() ? *command->parameters() : nlohmann::json()}};
}

void MVInterjectionHandler::performThenDoBlockOf(MVInterjection& interjection, bool completed) {
    auto thenDo = std::move(interjection.thenDo);
    interjection.thenDo = nullptr;
    if (thenDo) thenDo(completed);
}

void MVInterjectionHandler::setCurrentInterjection(std::shared_ptr<MVInterjection> interjection) {
    auto previous = std::exchange(currentInterjection_, std::move(interjection));
    // The block runs here, on the main thread, once the replacement is in place.
    if (previous && previous != currentInterjection_) performThenDoBlockOf(*previous, false);
}

bool MVInterjectionHandler::isCurrent(const MVInterjection& representation) const {
    return currentInterjection_ &&
           representation.hasEqualClassAsInterjection(currentInterjection_.get()) &&
           representation.isEqualToInterjection(currentInterjection_.get());
}

bool MVInterjectionHandler::isCurrentPushNotification(const std::string& notificationId) const {
    return currentInterjection_ &&
           dynamic_cast<const MVPushNotificationInterjection*>(currentInterjection_.get()) &&
           currentInterjection_->id() == notificationId;
}

// Opening, answers and finishing

void MVInterjectionHandler::openInterjection(const std::shared_ptr<MVInterjection>& interjection,
                                             bool silent,
                                             const std::optional<MVCommand>& sendingCommand) {
    const MVCommand* command = sendingCommand ? &*sendingCommand : nullptr;
    if (!interjection) {
        const auto data = errorDataForSendingCommand(command);
        warnAndReport(kOpenWithoutInterjectionLine, kOpenWithoutInterjectionReport, &data);
        return;
    }
    if (!command) {
        const auto data = interjection->errorData();
        warnAndReport(fmt::format(kOpenWithoutCommandLine, data.dump()), kOpenWithoutCommandReport,
                      &data);
        return;
    }
    if (interjection->isRepresentation()) {
        const nlohmann::json data{{"interjection", interjection->errorData()},
                                  {"sendingCommand", errorDataForSendingCommand(command)}};
        warnAndReport(kOpenRepresentation, kOpenRepresentation, &data);
    }
    setCurrentInterjection(interjection);
    if (!silent)
        showWaitingForInterjectionOverlayViewWithMessage(interjection->overlayMessage());
    else
        hideWaitingForInterjectionOverlayView();
    MVApiConnection::sharedConnection().sendCommands({*command});
}

void MVInterjectionHandler::performInterjectionResponseForInterjectionRepresentation(
    const std::shared_ptr<MVInterjection>& representation,
    std::optional<nlohmann::json> commandList,
    const std::shared_ptr<MVCommandHandler>& commandHandler) {
    if (!representation) {
        warnAndReport(kResponseWithoutInterjectionLine, kResponseWithoutInterjectionReport,
                      commandList ? &*commandList : nullptr);
        return;
    }
    if (!commandList) {
        const auto data = representation->errorData();
        warnAndReport(kResponseWithoutListLine, kResponseWithoutListReport, &data);
        return;
    }
    if (!representation->isRepresentation()) {
        const nlohmann::json data{{"interjection", representation->errorData()},
                                  {"commandList", *commandList}};
        warnAndReport(kResponseFullInstanceLine, kResponseFullInstanceReport, &data);
        return;
    }
    if (!isCurrent(*representation) || !isRunnableList(commandList)) return;
    if (bootAppCommandIsBeingPerformed_) {
        // A later answer replaces an earlier one.
        currentInterjection_->commandList = std::move(commandList);
        currentInterjection_->commandHandler = commandHandler;
        return;
    }
    performList(std::move(*commandList), commandHandler);
}

void MVInterjectionHandler::interjectionResponseFinishedForInterjectionRepresentation(
    const std::shared_ptr<MVInterjection>& representation) {
    if (!representation) {
        warnAndReport(kFinishedWithoutInterjection, kFinishedWithoutInterjection, nullptr);
        return;
    }
    if (!representation->isRepresentation()) {
        const nlohmann::json data{{"interjection", representation->errorData()}};
        warnAndReport(kFinishedFullInstanceLine, kFinishedFullInstanceReport, &data);
        return;
    }
    if (!isCurrent(*representation)) return;
    if (MVSplashScreenInterface::isSplashScreenVisible()) {
        lastReceivedResponseInterjection_ = currentInterjection_;
        return;
    }
    lastReceivedResponseInterjection_ = nullptr;
    // The overlay goes first: the ending interjection's block may open the next one.
    hideWaitingForInterjectionOverlayView();
    setCurrentInterjection(nullptr);
}

// The waiting overlay

void MVInterjectionHandler::showWaitingForInterjectionOverlayViewWithMessage(
    const std::string& message) {
    if (overlay_) {
        overlay_->setTitle(message);
        return;
    }
    std::shared_ptr<platform::View> viewToBlur;
    if (systemVersionEqualOrAbove(UISystemVersionMake(8, 0, 0))) {
        if (auto window = platform::Application::shared().keyWindow();
            window && !window->subviews().empty())
            viewToBlur = window->subviews().back();
    }
    overlay_ = Overlay::overlayWithFullScreenAndViewToBlur(viewToBlur, false, message);
    overlay_->fadeInWithDuration(kOverlayFadeDuration, nullptr);
}

void MVInterjectionHandler::hideWaitingForInterjectionOverlayView() {
    fadeOutOverlay(nullptr);
}

void MVInterjectionHandler::fadeOutOverlay(std::function<void()> then) {
    // Let go at once: an overlay shown during the fade is a new one.
    auto overlay = std::move(overlay_);
    overlay_ = nullptr;
    if (!overlay) {
        if (then) then();
        return;
    }
    overlay->fadeOutWithDuration(kOverlayFadeDuration, [overlay, then = std::move(then)](bool) {
        if (then) then();
    });
}

// Observed notifications

void MVInterjectionHandler::splashScreenWillHide() {
    if (!currentInterjection_ || !lastReceivedResponseInterjection_ ||
        !currentInterjection_->hasEqualClassAsInterjection(
            lastReceivedResponseInterjection_.get()) ||
        !currentInterjection_->isEqualToInterjection(lastReceivedResponseInterjection_.get()))
        return;
    lastReceivedResponseInterjection_ = nullptr;
    std::weak_ptr<MVInterjectionHandler> weak = weak_from_this();
    std::weak_ptr<MVInterjection> finished = currentInterjection_;
    fadeOutOverlay([weak, finished] {
        auto handler = weak.lock();
        auto interjection = finished.lock();
        if (handler && interjection && handler->currentInterjection_ == interjection)
            handler->setCurrentInterjection(nullptr);
    });
}

void MVInterjectionHandler::bootAppWillBegin() {
    bootAppCommandIsBeingPerformed_ = true;
}

void MVInterjectionHandler::bootAppDidEnd() {
    bootAppCommandIsBeingPerformed_ = false;
    if (!currentInterjection_ || !currentInterjection_->commandHandler ||
        !currentInterjection_->commandList)
        return;
    auto list = std::move(*currentInterjection_->commandList);
    auto commandHandler = std::move(currentInterjection_->commandHandler);
    currentInterjection_->commandList.reset();
    currentInterjection_->commandHandler = nullptr;
    performList(std::move(list), std::move(commandHandler));
}

// Pushed notifications

void MVInterjectionHandler::openPushNotificationWithID(const std::string& notificationId) {
    openPushNotificationWithId(notificationId, {}, {}, nullptr);
}

void MVInterjectionHandler::openPushNotificationWithId(const std::string& notificationId,
                                                       const std::string& actionIdentifier,
                                                       const std::string& category,
                                                       std::function<void()> completionHandler) {
    if (isCurrentPushNotification(notificationId)) {
        // Already being opened.
        if (completionHandler) completionHandler();
        return;
    }
    if (openingPushNotificationInAppDisplayId_ == notificationId)
        openingPushNotificationInAppDisplayId_.reset();
    std::optional<std::string> action, inCategory;
    if (!actionIdentifier.empty() && !category.empty()) {
        action = actionIdentifier;
        inCategory = category;
    }
    MVInterjection::ThenDo thenDo;
    if (completionHandler)
        thenDo = [completionHandler = std::move(completionHandler)](bool) { completionHandler(); };
    auto interjection = MVInterjection::interjectionWithId<MVPushNotificationInterjection>(
        notificationId, std::move(thenDo));
    openInterjection(
        interjection, false,
        MVCommandApiGeneral::openPushNotification(notificationId, false, action, inCategory));
}

void MVInterjectionHandler::showPushNotificationInAppDisplayWithId(
    const std::string& notificationId) {
    if (openingPushNotificationInAppDisplayId_ == notificationId ||
        isCurrentPushNotification(notificationId))
        return;
    openingPushNotificationInAppDisplayId_ = notificationId;
    MVApiConnection::sharedConnection().sendCommands({MVCommandApiGeneral::openPushNotification(
        notificationId, true, std::nullopt, std::nullopt)});
}

void MVInterjectionHandler::performPushResponseWithNotificationId(
    const std::string& notificationId, std::optional<nlohmann::json> commandList) {
    performPushResponseWithNotificationId(notificationId, std::move(commandList),
                                          MVCommandHandler::sharedHandler());
}

void MVInterjectionHandler::performPushResponseWithNotificationId(
    const std::string& notificationId, std::optional<nlohmann::json> commandList,
    const std::shared_ptr<MVCommandHandler>& commandHandler) {
    if (openingPushNotificationInAppDisplayId_ == notificationId &&
        !isCurrentPushNotification(notificationId)) {
        // The in-app notification's answer: it becomes current without overlay or command.
        setCurrentInterjection(
            MVInterjection::interjectionWithId<MVPushNotificationInterjection>(notificationId));
        openingPushNotificationInAppDisplayId_.reset();
    }
    performInterjectionResponseForInterjectionRepresentation(
        MVInterjection::representationForId<MVPushNotificationInterjection>(notificationId),
        std::move(commandList), commandHandler);
}

void MVInterjectionHandler::pushNotificationResponseFinishedForNotificationID(
    const std::string& notificationId) {
    interjectionResponseFinishedForInterjectionRepresentation(
        MVInterjection::representationForId<MVPushNotificationInterjection>(notificationId));
}

// Remote-notification registration

void MVInterjectionHandler::registerNotificationSettings(const nlohmann::json& settings) {
    if (systemVersionEqualOrAbove(UISystemVersionMake(8, 0, 0)))
        platform::Application::shared().registerUserNotificationSettings(settings);
}

void MVInterjectionHandler::registerForPushNotificationOnSuccess(RegistrationBlock block) {
    // One pending request: a newer one takes its place, so requests that failed, or that
    // wait for a token that never comes, neither pile up nor send the token again.
    if (block) didRegisterForPushNotificationServiceSuccessfullyBlocks_.assign(1, std::move(block));
    auto& application = platform::Application::shared();
    if (!systemVersionEqualOrAbove(UISystemVersionMake(8, 0, 0))) {
        application.registerForRemoteNotifications();
        return;
    }
    // No settings yet, or settings with no types and no categories.
    bool unset = true;
    if (notificationSettings_ && notificationSettings_->is_object()) {
        const auto* categories = platform::json::find(*notificationSettings_, "categories");
        unset = platform::json::integerValue(*notificationSettings_, "types") == 0 &&
                !(categories && categories->is_array() && !categories->empty());
    }
    if (unset) {
        isWaitingForRegisteringNotificationSettings_ = true;
        registerNotificationSettings(
            {{"types", kNotificationTypes}, {"categories", nlohmann::json::array()}});
    } else {
        application.registerForRemoteNotifications();
    }
}

void MVInterjectionHandler::didRegisterUserNotificationSettings(const nlohmann::json& settings) {
    notificationSettings_ = settings;
    if (!isWaitingForRegisteringNotificationSettings_) return;
    isWaitingForRegisteringNotificationSettings_ = false;
    platform::Application::shared().registerForRemoteNotifications();
}

void MVInterjectionHandler::didRegisterForRemoteNotificationsWithDeviceToken(
    const std::string& token) {
    auto blocks = std::move(didRegisterForPushNotificationServiceSuccessfullyBlocks_);
    didRegisterForPushNotificationServiceSuccessfullyBlocks_.clear();
    if (token.empty()) return;
    const std::string text = tokenText(token);
    for (const auto& block : blocks) block(token, text);
}

std::string MVInterjectionHandler::tokenText(const std::string& tokenBytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(tokenBytes.size() * 2);
    for (unsigned char byte : tokenBytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0f]);
    }
    return text;
}

// Deep links

void MVInterjectionHandler::openDeepLinkWithID(const std::string& linkId,
                                               const std::string& parameters, bool silent) {
    auto interjection = MVInterjection::interjectionWithId<MVDeepLinkInterjection>(linkId);
    openInterjection(interjection, silent,
                     MVCommandApiGeneral::openDeepLink(linkId, interjection->serialId(),
                                                       nlohmann::json(parameters)));
}

void MVInterjectionHandler::performDeepLinkResponseWithLinkSerial(
    int64_t linkSerial, std::optional<nlohmann::json> commandList) {
    performDeepLinkResponseWithLinkSerial(linkSerial, std::move(commandList),
                                          MVCommandHandler::sharedHandler());
}

void MVInterjectionHandler::performDeepLinkResponseWithLinkSerial(
    int64_t linkSerial, std::optional<nlohmann::json> commandList,
    const std::shared_ptr<MVCommandHandler>& commandHandler) {
    performInterjectionResponseForInterjectionRepresentation(
        MVInterjection::representationForSerialId<MVDeepLinkInterjection>(linkSerial),
        std::move(commandList), commandHandler);
}

void MVInterjectionHandler::deepLinkResponseFinishedForLinkSerial(int64_t linkSerial) {
    interjectionResponseFinishedForInterjectionRepresentation(
        MVInterjection::representationForSerialId<MVDeepLinkInterjection>(linkSerial));
}
