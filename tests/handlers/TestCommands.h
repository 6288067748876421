#pragma once
// A command group for tests, registered like the real ones, and a record of every
// command it performed.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

class MVWebView;

struct PerformedCommand {
    std::string command;
    std::string version;                       // the running handler's version
    std::optional<nlohmann::json> parameters;  // none: the command got none
    MVWebView* webView = nullptr;
    bool onMainThread = false;
};

// Adds to 1.0: "echo" (no checking), "needsSrc" ({"src": NSString, "+title": NSString}),
// "list" ({"items": [NSString]}),
// "neverRun" (no specification), "loud" (raised log level), "throws", "shadowed";
// to 1.1: "shadowed"; to 2.0: "onlyIn2"; to 3.0: nothing.
void registerTestCommands();

std::vector<PerformedCommand>& performedCommands();
