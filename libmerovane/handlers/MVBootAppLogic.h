#pragma once
// The boot command's logic, after the command has removed the cached boot script:
// announces the boot (MVLibraryApplicationReceivedBootAppCommand), runs the list 1.0 s
// later inside a resource capture, and when its resources have loaded announces the
// end (MVLibraryApplicationPerformedBootAppCommand), fades the overlay out and, with an
// identifier, caches the list as the boot script for the next start and schedules
// shadow mode. A newer boot (a boot command with a list, or another call) stops what is
// left of an older one: the rest of its list, the lists it delayed, its end notification
// and its script. A boot command with an empty list stops nothing, but the boots before
// it cache no script.
//
//   bootAppLogicWithCommands(handler, list, "B", nullptr);
//
// Main thread, like the commands.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

class MVActivityIndicationOverlayInterface;
class MVCommandHandler;

inline constexpr double kBootAppDelay = 1.0;
inline constexpr double kBootAppOverlayFadeDuration = 0.3;

void bootAppLogicWithCommands(MVCommandHandler& handler, nlohmann::json commands,
                              const std::optional<std::string>& identifier,
                              std::shared_ptr<MVActivityIndicationOverlayInterface> overlay);
