#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/FileManager.h"

extern char** environ;

namespace {
constexpr const char* kRoleVariable = "MV_TEST_CHILD";
}

std::string childRole() {
    const char* role = std::getenv(kRoleVariable);
    return role ? role : "";
}

ChildProcess::ChildProcess(const std::string& test, const std::string& role,
                           const Environment& environment) {
    Environment all = environment;
    all.emplace_back(kRoleVariable, role);
    spawn(platform::FileManager::executablePath(), {"--gtest_filter=" + test}, all, {});
}

ChildProcess::ChildProcess(const Program& program, const Environment& environment) {
    spawn(program.path, program.arguments, environment, program.outputFile);
}

void ChildProcess::spawn(const std::string& path, std::vector<std::string> arguments,
                         const Environment& all, const std::string& outputFile) {
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : all) replaced |= entry.rfind(name + "=", 0) == 0;
        if (!replaced) entries.push_back(std::move(entry));
    }
    for (const auto& [name, value] : all) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : entries) envp.push_back(e.data());
    envp.push_back(nullptr);

    std::string exe = path;
    std::vector<char*> argv{exe.data()};
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (!outputFile.empty()) {
        ::posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(),
                                           O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    int rc = ::posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "posix_spawn failed: " << std::strerror(rc);
        pid_ = -1;
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(SIGKILL);
        wait();
    }
}

int ChildProcess::wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
    if (ended == 0 || (ended < 0 && errno == EINTR)) return true;
    pid_ = -1;
    return false;
}

void ChildProcess::kill(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}
