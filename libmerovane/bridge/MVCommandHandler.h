#pragma once
// The one road from a command collection to the code that performs its commands:
//
//   MVCommandHandler::performCommandsFromCommandCollection(collection, webView);
//
// It chooses the handler of the collection's version ("ver" "2.0" -> class
// "MVCommandHandler_2_0"), checks the collection, and for each command finds its
// definition along the version's class chain, strips null values from the parameters,
// validates them against the command's specification, lets the sending web view's
// delegate veto the command, logs it and performs it on the main thread. Unknown,
// malformed and invalid commands are logged and reported to MVErrorLogger; nothing is
// answered to the sender, and the following commands still run.
//
// Handler classes are found by name in an explicit registry that the version classes
// fill at start-up (registerHandlerClass); there is one shared handler per version.
//
// Thread-safety: any thread may call the dispatcher. Lookup, validation and logging
// run on the calling thread; commands, the veto and everything else that reads the web
// view always run on the main thread (inline when called there, else posted to the
// main run loop).

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/bridge/MVCommandTable.h"

class MVCommand;
class MVWebViewInterface;

// The name of the platform::Exception that ends the application. The dispatcher lets it
// pass; any other failure of a command is logged and the next command runs.
inline constexpr const char* MVLibraryApplicationHasBeenTerminatedException =
    "MVLibraryApplicationHasBeenTerminatedException";

class MVCommandHandler : public std::enable_shared_from_this<MVCommandHandler> {
  public:
    using WebViewPtr = std::shared_ptr<MVWebViewInterface>;
    using Factory = std::function<std::shared_ptr<MVCommandHandler>()>;

    virtual ~MVCommandHandler();

    // The version this class serves: "1.0", "1.1", "2.0", "2.1" or "3.0".
    virtual std::string commandHandlerVersion() const = 0;
    // "MVCommandHandler(v<version>)", the handler's label in logs and reports.
    std::string name() const;

    // Registers a handler class under its name ("MVCommandHandler_2_0"). Registering a
    // name again keeps the first registration.
    static void registerHandlerClass(const std::string& className, Factory factory);

    // The handler of version 2.1.
    static std::shared_ptr<MVCommandHandler> sharedHandler();
    // The one handler of a version number (21 for "2.1"), created on first use; null
    // when no class exists for it, which is logged once per process.
    static std::shared_ptr<MVCommandHandler> sharedHandlerForVersion(int version);
    // "ver" read as the platform reads a float, times ten, truncated: "2.1" -> 21.
    // Text that is no finite number in the int range gives 0, a version without class.
    static int versionNumberForString(std::string_view version);

    // The entry point of every channel: checks the collection {"ver", "cmds"} and
    // hands its commands to the handler of its version. `webView` is the sender, or
    // null for the server and other native sources. The caller gives the collection up:
    // its commands take their parameters out of it, so nothing of it is copied (a
    // caller that keeps its collection copies it, visibly, at the call).
    static void performCommandsFromCommandCollection(nlohmann::json&& collection,
                                                     const WebViewPtr& webView);
    // While set (the application stops), collections from a web view are dropped
    // unperformed and their commands counted. Any thread.
    static void setDroppingPageCommands(bool dropping);
    // How many page commands were dropped so, over the process.
    static uint64_t droppedPageCommandCount();

    // Each element of the array, in order: a command dictionary ({"c", "p"}); elements
    // that name no command are skipped. Given up, like a collection.
    void performCommands(nlohmann::json&& commands, const WebViewPtr& webView);
    void performCommands(const std::vector<MVCommand>& commands, const WebViewPtr& webView);
    // Looks the command up, checks and validates its parameters and hands it on.
    void performCommand(const MVCommand& command, const WebViewPtr& webView);
    // The same for a command the caller gives up: its parameters are stripped of their
    // null objects in place instead of in a copy, when no copy of it shares them.
    void performCommand(MVCommand&& command, const WebViewPtr& webView);
    // Moves to the main thread, applies the delegate veto, logs and performs.
    // `strippedParameters` null: the command carried none.
    void performValidatedCommand(const MVCommand& command,
                                 std::shared_ptr<nlohmann::json> strippedParameters,
                                 const WebViewPtr& webView);

    // The command's definition along this handler's class chain; null when unknown.
    virtual std::shared_ptr<const MVCommandDefinition> commandDefinition(
        std::string_view commandName) const;

  protected:
    MVCommandHandler() = default;

  private:
    // Moves to the main thread, then applies the veto, logs and performs.
    void performCommand(const MVCommand& command, const WebViewPtr& webView, bool given);
    // `stripGiven`: the command was given up and validated ignoring nulls; its parameters
    // are stripped right before the call (in place when no copy shares them).
    void performDefinedCommand(std::shared_ptr<const MVCommandDefinition> definition,
                               const MVCommand& command,
                               std::shared_ptr<nlohmann::json> strippedParameters,
                               const WebViewPtr& webView, bool stripGiven = false);
};
