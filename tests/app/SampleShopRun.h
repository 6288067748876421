#pragma once
// The host application run against the sample API server as scripts/run runs it, for the
// tests of a run's record: the server as a child process, the shell as another one over
// a home and output folder the test keeps.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace sampleshop {

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits in real time for the children, which run on the real clock.
inline bool waitUntil(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// "<direction> <name>" of each line of a command log.
inline std::vector<std::string> commands(const std::string& log) {
    static const std::regex line(R"(^[0-9.]+ (up|down|page) [0-9.]+ (\w+)$)");
    std::vector<std::string> found;
    std::istringstream in(log);
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (std::regex_match(text, match, line))
            found.push_back(match[1].str() + " " + match[2].str());
    }
    return found;
}

// Whether `wanted` appear in `all` in this order, others between them allowed.
inline bool inOrder(const std::vector<std::string>& all, const std::vector<std::string>& wanted) {
    size_t next = 0;
    for (const auto& c : all)
        if (next < wanted.size() && c == wanted[next]) ++next;
    return next == wanted.size();
}

class SampleShopRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = std::make_unique<ChildProcess>(
            ChildProcess::Program{MV_SAMPLE_API_SERVER, {"--port", "0"}, out_.file("server.out")});
        ASSERT_TRUE(waitUntil([&] { return !apiUrl().empty(); }, 30))
            << readText(out_.file("server.out"));
    }
    std::string apiUrl() const {
        static const std::regex listening(R"(listening on (http://127\.0\.0\.1:[0-9]+/))");
        std::smatch match;
        const std::string text = readText(out_.file("server.out"));
        return std::regex_search(text, match, listening) ? match[1].str() : std::string();
    }
    // Runs the shell until the record is written, then ends it as scripts/run does.
    void runOnce(const std::string& log, const std::string& engine = "headless") {
        std::remove(out_.file("presented.json").c_str());
        ChildProcess app(
            {MV_APP_EXECUTABLE,
             {"-dev_workspace", apiUrl(), "-web_engine", engine, "-run_output", out_.path()},
             out_.file(log)},
            {{"MEROVANE_HOME", out_.file("home")}});
        ASSERT_TRUE(waitUntil([&] { return !readText(out_.file("presented.json")).empty(); }, 60))
            << readText(out_.file(log));
        app.kill(SIGTERM);
        EXPECT_EQ(app.wait(), 0) << readText(out_.file(log));
    }

    TempDir out_;
    std::unique_ptr<ChildProcess> server_;
};

}  // namespace sampleshop
