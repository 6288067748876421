#pragma once
// The commands one handler version class defines itself, by name. A command is its
// parameter specification, the function that performs it and whether its "performing"
// log line is raised to information level. Command groups fill a version's table from
// one registration function each, called at start-up:
//
//   void registerURLsCommands() {
//       MVCommandHandler_1_0::commandTable().add(
//           "openPage", {MVSpec{{"src", MVSpec::NSString}}, &openPage, true});
//   }
//
// Thread-safe: lookups on any thread may meet a registration.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/core/MVSpec.h"

class MVCommandHandler;
class MVWebView;

// Performs one command on the main thread. `handler` is the shared handler of the
// collection's version (so an inherited command reports the running version);
// `parameters` are the command's parameters, stripped of nulls and validated, or null
// when the command carried none; `webView` is the sending web view, or null for
// commands from the server and other native sources.
using MVCommandFunction = std::function<void(MVCommandHandler& handler, nlohmann::json* parameters,
                                             const std::shared_ptr<MVWebView>& webView)>;

struct MVCommandDefinition {
    // None: the command is known but never performed. An empty dictionary: its
    // parameters are not checked.
    std::optional<MVSpec> specification;
    MVCommandFunction perform;
    bool raisedLogLevel = false;
    // Parameters whose values the "performing" line hides (credentials).
    std::vector<std::string> maskedInLog = {};
};

class MVCommandTable {
  public:
    explicit MVCommandTable(std::string className);
    MVCommandTable(const MVCommandTable&) = delete;
    MVCommandTable& operator=(const MVCommandTable&) = delete;

    const std::string& className() const { return className_; }

    // Adds the command, or replaces the one of that name, so that registering a group
    // again changes nothing. A definition without a perform function is a programming
    // error.
    void add(const std::string& name, MVCommandDefinition definition);
    // The command of that name defined in this table itself, or null.
    std::shared_ptr<const MVCommandDefinition> find(std::string_view name) const;
    size_t size() const;
    // The names of this table's own commands, in order.
    std::vector<std::string> names() const;
    void clear();

  private:
    const std::string className_;
    mutable std::shared_mutex mutex_;
    std::map<std::string, std::shared_ptr<const MVCommandDefinition>, std::less<>>
        commands_;  // guarded by mutex_
};
