#pragma once
// The record of one run of the shell, kept in a folder (the developer setting
// "run_output") for scripts/run:
// - commands.log: every command performed or sent, one line each, as it happens:
//   "<seconds since start> <up|down|page> <handler version> <name>";
// - once the first page of the shown tab is shown (its load finished, no splash screen
//   over it, visible in the key window; a header or a menu's page does not count) and
//   the shell has then performed and sent nothing for a second (ten at most):
//   screenshot.png, the window as drawn, and presented.json, {"firstPageSeconds",
//   "url"}, written last.
//
//   auto recorder = RunRecorder::start("run", startNanos);   // null: logged
//
// Main thread, but for the command lines, which come from any thread.

#include <cstdint>
#include <memory>
#include <string>

class RunRecorder {
  public:
    static constexpr double kQuietSeconds = 1.0;
    static constexpr double kMostSettlingSeconds = 10.0;

    // Null, with a log line, when the folder cannot be made or the log not written.
    static std::shared_ptr<RunRecorder> start(const std::string& folder, int64_t startNanos);
    ~RunRecorder();

    struct State;

  private:
    explicit RunRecorder(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};
