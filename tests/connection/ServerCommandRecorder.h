#pragma once
// A command of version 2.1 that server collections in tests carry, "recordServerCommand",
// and the record of every time it ran (on the main thread, by the dispatcher).
//
//   ServerCommandRecorder::install();
//   ... the peer sends {"ver":"2.1","cmds":[{"c":"recordServerCommand","p":{"n":1}}]} ...
//   EXPECT_EQ(ServerCommandRecorder::performed(), (std::vector<nlohmann::json>{{{"n", 1}}}));

#include <nlohmann/json.hpp>
#include <vector>

namespace ServerCommandRecorder {

inline constexpr const char* kName = "recordServerCommand";

// Registers the handler classes and the command; clears the record.
void install();
// The parameters of each run, in order (null for a run without parameters).
std::vector<nlohmann::json> performed();
size_t performedCount();
// A collection of one such command.
nlohmann::json collection(const nlohmann::json& parameters);

}  // namespace ServerCommandRecorder
