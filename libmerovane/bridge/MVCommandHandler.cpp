#include "libmerovane/bridge/MVCommandHandler.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVWebViewInterface.h"
#include "libmerovane/core/DictionaryExtensions.h"
#include "libmerovane/core/DictionaryValidation.h"
#include "libmerovane/core/MVCommandTrace.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/Thread.h"

namespace {

constexpr const char* kHandlerName = "MVCommandHandler(v{})";
constexpr const char* kHandlerClassName = "MVCommandHandler_{}_{}";
constexpr const char* kInstantiatedLine = "MVCommandHandler v{}.{} instanciated";
constexpr const char* kNotFoundLine = "💔 MVCommandHandler v{}.{} not found";

constexpr const char* kMalformedCollectionLine =
    "MVCommandHandler tried to handle malformed command collection dictionary{}.\n"
    "==== VALIDATION ====\n{}\n{}\n==== END VALIDATION ====";
constexpr const char* kMalformedCollectionReport =
    "MVCommandHandler tried to handle malformed command collection dictionary{}";
constexpr const char* kFromWebViewSuffix = " from MVWebView{}";
constexpr const char* kNoCommandLine =
    "MVCommandHandler skipped an element of cmds that names no command: {}";

constexpr const char* kUnknownCommandLine = "{} unknown command: {} (specification missing)";
constexpr const char* kUnknownCommandReport = "{} unknown command.";
constexpr const char* kContainerLine =
    "MVCommand <{}> doesn't contain right container for parameter";
constexpr const char* kContainerReport =
    "{} MVCommand doesn't contain right container for parameter";
constexpr const char* kValidationLine = "MVCommand validation {}<{}>\n{}";
constexpr const char* kValidationFailed = "failed ";
constexpr const char* kValidationReport = "{} MVCommand validation failed.";

constexpr const char* kPerformingLine = "{}{} performing MVCommand.{}{}{}";
constexpr const char* kPerformingWebView = "MVWebView{} => ";
constexpr const char* kPerformingParameters = "( {} )";
constexpr const char* kPerformingNoParameters = "()";
constexpr const char* kCancelled = " [cancelled]";
constexpr const char* kMaskedValue = "***";
constexpr const char* kCommandThrewLine = "{} MVCommand.{} failed: {}";
constexpr const char* kUnknownException = "unknown exception";

// Handler instances by version number (null: no class for it) and handler classes by
// name. Entries are kept for the life of the process.
struct Registry {
    std::mutex mutex;
    std::map<int, std::shared_ptr<MVCommandHandler>> handlers;  // guarded by mutex
    std::map<std::string, MVCommandHandler::Factory> classes;   // guarded by mutex
};

std::atomic<bool> gDroppingPageCommands{false};
std::atomic<uint64_t> gDroppedPageCommands{0};

Registry& registry() {
    static Registry* shared = [] {
        auto* created = new Registry;
        platform::registerSharedInstanceReset("MVCommandHandler", [created] {
            std::lock_guard lock(created->mutex);
            created->handlers.clear();
            created->classes.clear();
        });
        return created;
    }();
    return *shared;
}

const MVSpec& collectionSpecification() {
    static const MVSpec* spec = new MVSpec{{"ver", MVSpec::NSString}, {"cmds", MVSpec::NSArray}};
    return *spec;
}

bool isEmptySpecification(const MVSpec& spec) {
    return spec.kind() == MVSpec::Kind::Dictionary && spec.members().empty();
}

// The web view is read on the main thread only, so a report made elsewhere waits there.
void reportFailedValidation(std::string handlerName, std::string commandName, std::string log,
                            const MVCommandHandler::WebViewPtr& webView) {
    auto report = [handlerName = std::move(handlerName), commandName = std::move(commandName),
                   log = std::move(log), webView] {
        std::string url = webView ? webView->currentUrl().value_or("") : "";
        MVErrorLogger::logError(fmt::format(kValidationReport, handlerName),
                                {{"command", commandName}, {"log", log}, {"webView", url}});
    };
    if (!webView || platform::isMainThread())
        report();
    else
        platform::RunLoop::main().post(std::move(report));
}

}  // namespace

MVCommandHandler::~MVCommandHandler() = default;

std::string MVCommandHandler::name() const {
    return fmt::format(kHandlerName, commandHandlerVersion());
}

void MVCommandHandler::registerHandlerClass(const std::string& className, Factory factory) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.classes.emplace(className, std::move(factory));
}

std::shared_ptr<MVCommandHandler> MVCommandHandler::sharedHandler() {
    return sharedHandlerForVersion(21);
}

std::shared_ptr<MVCommandHandler> MVCommandHandler::sharedHandlerForVersion(int version) {
    const int major = version / 10;
    const int minor = version % 10;
    auto& r = registry();
    std::shared_ptr<MVCommandHandler> handler;
    {
        std::lock_guard lock(r.mutex);
        if (auto known = r.handlers.find(version); known != r.handlers.end()) return known->second;
        auto found = r.classes.find(fmt::format(kHandlerClassName, major, minor));
        if (found != r.classes.end()) handler = found->second();
        r.handlers.emplace(version, handler);
    }
    // Logged outside the lock; the entry above makes sure it happens once.
    if (handler)
        MVLogInfo(kInstantiatedLine, major, minor);
    else
        MVLogError(kNotFoundLine, major, minor);
    return handler;
}

int MVCommandHandler::versionNumberForString(std::string_view text) {
    // Leading white space and a sign, then the longest decimal number, as the
    // platform's float reading does; text without a number reads as 0.
    size_t start = text.find_first_not_of(" \t\n\r\f\v");
    if (start == std::string_view::npos) return 0;
    text.remove_prefix(start);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    float value = 0.0f;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) return 0;
    if (error != std::errc() || end == text.data()) return 0;
    if (negative) value = -value;
    // Single precision on purpose: 2.1f * 10.0f is 21, in double it would be 20.
    const float scaled = value * 10.0f;
    // The conversion below is defined only for finite values that fit.
    if (!std::isfinite(scaled) || scaled >= 2147483648.0f || scaled < -2147483648.0f) return 0;
    return static_cast<int>(scaled);
}

void MVCommandHandler::setDroppingPageCommands(bool dropping) {
    gDroppingPageCommands.store(dropping, std::memory_order_release);
}

uint64_t MVCommandHandler::droppedPageCommandCount() {
    return gDroppedPageCommands.load(std::memory_order_acquire);
}

void MVCommandHandler::performCommandsFromCommandCollection(nlohmann::json&& collection,
                                                            const WebViewPtr& webView) {
    if (webView && gDroppingPageCommands.load(std::memory_order_acquire)) {
        const auto* commands = platform::json::find(collection, "cmds");
        gDroppedPageCommands.fetch_add(commands && commands->is_array() ? commands->size() : 0);
        return;
    }
    std::string log;
    if (isValidBySpecification(collection, collectionSpecification(), &log)) {
        const auto* ver = platform::json::find(collection, "ver");
        const auto* text = ver ? ver->get_ptr<const std::string*>() : nullptr;
        const auto commands = collection.find("cmds");
        if (commands == collection.end()) return;
        if (auto handler = sharedHandlerForVersion(versionNumberForString(text ? *text : "")))
            handler->performCommands(std::move(*commands), webView);
        return;
    }
    const std::string debugName = webView ? webView->debugName() : "";
    const std::string suffix = webView ? fmt::format(kFromWebViewSuffix, debugName) : "";
    MVLogError(kMalformedCollectionLine, suffix, log,
               platform::log::escaped(platform::json::print(collection)));
    MVErrorLogger::logError(
        fmt::format(kMalformedCollectionReport, suffix),
        {{"commandCollection", collection.is_null() ? nlohmann::json("") : std::move(collection)},
         {"validation", log},
         {"webView", debugName}});
}

void MVCommandHandler::performCommands(nlohmann::json&& commands, const WebViewPtr& webView) {
    if (!commands.is_array()) return;
    for (auto& element : commands) {
        // The command takes its parameters out of the element rather than copying them.
        if (auto command = MVCommand::commandWithDictionary(std::move(element)))
            performCommand(std::move(*command), webView);
        else
            MVLogWarn(kNoCommandLine, platform::log::escaped(platform::json::print(element)));
    }
}

void MVCommandHandler::performCommands(const std::vector<MVCommand>& commands,
                                       const WebViewPtr& webView) {
    for (const auto& command : commands) performCommand(command, webView);
}

void MVCommandHandler::performCommand(const MVCommand& command, const WebViewPtr& webView) {
    performCommand(command, webView, false);
}

void MVCommandHandler::performCommand(MVCommand&& command, const WebViewPtr& webView) {
    performCommand(command, webView, true);
}

void MVCommandHandler::performCommand(const MVCommand& command, const WebViewPtr& webView,
                                      bool given) {
    auto definition = commandDefinition(command.name());
    if (!definition) {
        MVLogError(kUnknownCommandLine, name(), platform::log::escaped(command.name()));
        MVErrorLogger::logError(fmt::format(kUnknownCommandReport, name()), command.name());
        return;
    }
    const nlohmann::json* parameters = command.parameters();
    if (parameters && !parameters->is_object()) {
        MVLogWarn(kContainerLine, platform::log::escaped(command.name()));
        MVErrorLogger::logError(fmt::format(kContainerReport, name()),
                                {{"command", command.name()}, {"params", ""}});
        return;
    }
    // A given command's parameters are stripped only when it is performed.
    std::shared_ptr<nlohmann::json> stripped =
        parameters && !given
            ? std::make_shared<nlohmann::json>(dictionaryStrippedOfNullObjects(*parameters))
            : nullptr;

    std::string log;
    bool valid = false;
    if (!definition->specification) {
        valid = false;  // never performed, silently
    } else if (isEmptySpecification(*definition->specification)) {
        valid = true;
    } else {
        static const nlohmann::json kNoParameters = nlohmann::json::object();
        if (given && parameters)
            valid =
                isValidBySpecificationIgnoringNulls(*parameters, *definition->specification, &log);
        else
            valid = isValidBySpecification(stripped ? *stripped : kNoParameters,
                                           *definition->specification, &log);
    }
    if (!log.empty())
        MVLogWarn(kValidationLine, valid ? "" : kValidationFailed,
                  platform::log::escaped(command.name()), log);

    if (valid) {
        performDefinedCommand(std::move(definition), command, std::move(stripped), webView, given);
    } else if (!log.empty()) {
        reportFailedValidation(name(), command.name(), std::move(log), webView);
    }
}

void MVCommandHandler::performValidatedCommand(const MVCommand& command,
                                               std::shared_ptr<nlohmann::json> strippedParameters,
                                               const WebViewPtr& webView) {
    auto definition = commandDefinition(command.name());
    platform::assertThat(definition != nullptr, "[self respondsToSelector:commandSelector] == YES");
    performDefinedCommand(std::move(definition), command, std::move(strippedParameters), webView);
}

void MVCommandHandler::performDefinedCommand(std::shared_ptr<const MVCommandDefinition> definition,
                                             const MVCommand& command,
                                             std::shared_ptr<nlohmann::json> strippedParameters,
                                             const WebViewPtr& webView, bool stripGiven) {
    if (!platform::isMainThread()) {
        // The task keeps its arguments alive and dies on the main thread, so a web view
        // it holds last goes there too.
        auto self = shared_from_this();
        platform::RunLoop::main().post(
            [self, definition, command, strippedParameters, webView, stripGiven] {
                self->performDefinedCommand(definition, command, strippedParameters, webView,
                                            stripGiven);
            });
        return;
    }
    // Commands and delegates run inside run-loop and channel callbacks: a failure must
    // end here, not unwind through them.
    try {
        bool vetoed = false;
        if (webView) {
            auto answer = webView->delegateShouldPerformCommand(command);
            vetoed = answer.has_value() && !*answer;
        }
        auto parameterText = [&] {
            std::string listing;
            if (const nlohmann::json* given = command.parameters()) {
                if (definition->maskedInLog.empty() || !given->is_object()) {
                    listing = allKeyNamesAndValues(*given);
                } else {
                    nlohmann::json shown = *given;
                    for (const auto& key : definition->maskedInLog)
                        if (auto found = shown.find(key); found != shown.end())
                            *found = kMaskedValue;
                    listing = allKeyNamesAndValues(shown);
                }
            }
            return listing.empty()
                       ? std::string(kPerformingNoParameters)
                       : fmt::format(kPerformingParameters, platform::log::escaped(listing));
        };
        MV_LOG_AT(definition->raisedLogLevel ? platform::log::kInfo : platform::log::kVerbose,
                  kPerformingLine,
                  webView ? fmt::format(kPerformingWebView, webView->debugName()) : std::string(),
                  name(), platform::log::escaped(command.name()), parameterText(),
                  vetoed ? kCancelled : "");
        if (vetoed) return;
        MVCommandTrace::record(
            webView ? MVCommandTrace::Direction::FromPage : MVCommandTrace::Direction::FromServer,
            commandHandlerVersion(), command.name());
        nlohmann::json* parameters = strippedParameters.get();
        if (stripGiven && command.parameters()) {
            // After the veto and the log line, which show the parameters as they came.
            if (nlohmann::json* own = command.soleParameters()) {
                parameters = &stripNullObjects(*own);
            } else {
                strippedParameters = std::make_shared<nlohmann::json>(
                    dictionaryStrippedOfNullObjects(*command.parameters()));
                parameters = strippedParameters.get();
            }
        }
        definition->perform(*this, parameters, webView ? webView->asMVWebView() : nullptr);
    } catch (const platform::Exception& e) {
        // Ending the application is meant to unwind all the way.
        if (e.name() == MVLibraryApplicationHasBeenTerminatedException) throw;
        MVLogError(kCommandThrewLine, name(), command.name(), e.what());
    } catch (const std::exception& e) {
        MVLogError(kCommandThrewLine, name(), command.name(), e.what());
    } catch (...) {
        MVLogError(kCommandThrewLine, name(), command.name(), kUnknownException);
    }
}

std::shared_ptr<const MVCommandDefinition> MVCommandHandler::commandDefinition(
    std::string_view /*commandName*/) const {
    return nullptr;
}
