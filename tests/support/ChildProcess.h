#pragma once
// Runs one test of the current test executable in a new process, for tests that need a
// second process (a relaunch, a competitor for a file). The child test finds its role
// with childRole() and skips itself when run on its own.
//
//   TEST(DefaultsChild, Write) {
//       if (childRole() != "write") GTEST_SKIP() << "runs as a child process only";
//       ...
//   }
//   ChildProcess child("DefaultsChild.Write", "write", {{"MEROVANE_HOME", home.path()}});
//   EXPECT_EQ(child.wait(), 0);

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

// The MV_TEST_CHILD role this process was started with; empty in a normal run.
std::string childRole();

class ChildProcess {
  public:
    using Environment = std::vector<std::pair<std::string, std::string>>;
    // Starts the executable itself with --gtest_filter=`test`, the role and `environment`
    // added to this process's environment.
    ChildProcess(const std::string& test, const std::string& role,
                 const Environment& environment = {});
    // Another program, with its arguments; its standard output and error go to
    // `outputFile` when one is named.
    struct Program {
        std::string path;
        std::vector<std::string> arguments;
        std::string outputFile;
    };
    explicit ChildProcess(const Program& program, const Environment& environment = {});
    ~ChildProcess();  // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Waits for the end: the exit status, or 128 + the signal that ended it; -1 when it
    // never started.
    int wait();
    // Whether it still runs; a child that ended is reaped, and wait() then answers -1.
    bool running();
    void kill(int signal);

  private:
    void spawn(const std::string& path, std::vector<std::string> arguments,
               const Environment& environment, const std::string& outputFile);

    pid_t pid_ = -1;
};
