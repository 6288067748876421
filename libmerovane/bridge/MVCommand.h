#pragma once
// One command: a name and its parameters. Pages, the API server and native code all
// speak in commands, which always travel in a command collection:
//
//   {"ver": "2.0", "cmds": [{"c": "openPage", "p": {"src": "..."}, "s": 0}]}
//
//   auto command = MVCommand::commandWithDictionary(element);  // none without a name
//   MVCommand appStart;  appStart.setName("appStart");  appStart.setParameters(params);
//
// The parameters are kept exactly as found: they may be absent, and when they came from
// input they may be something other than a dictionary (the dispatcher refuses those).
// A plain value; whoever builds one owns it. Copies share the parameters, which
// are never changed in place while shared.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

class MVCommand {
  public:
    // The command of a command dictionary ("c" the name, "p" the parameters; "s" and
    // other keys are not kept), or none when it names no command: not a dictionary,
    // or "c" missing or not a string.
    static std::optional<MVCommand> commandWithDictionary(const nlohmann::json& dictionary);
    // The same, taking the parameters out of a dictionary the caller gives up.
    static std::optional<MVCommand> commandWithDictionary(nlohmann::json&& dictionary);

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

    // Null when the command carries no parameters at all.
    const nlohmann::json* parameters() const { return parameters_.get(); }
    void setParameters(const nlohmann::json& parameters);
    void setParameters(nlohmann::json&& parameters);
    void removeParameters() { parameters_.reset(); }
    // The parameters to change in place, for whoever gave up this command, when no copy
    // of it shares them; null otherwise.
    nlohmann::json* soleParameters() const {
        return parameters_.use_count() == 1 ? const_cast<nlohmann::json*>(parameters_.get())
                                            : nullptr;
    }

  private:
    std::string name_;
    std::shared_ptr<const nlohmann::json> parameters_;
};
