#pragma once
// One shell per home folder, with or without a session bus: the shell locks the file
// <home>/shell.lock (an open file description lock) before it opens anything else in the
// home folder and holds it until the process ends, whatever becomes of the object; the
// system drops the lock with the process, however it ends, so a crash never leaves it
// behind. The file holds the holder's process id for the message of a later start. Its
// descriptor is closed on exec, so the engine's processes never hold the lock. A lock
// file that is a link, hard or symbolic, or no regular file is never written.
//
//   HomeFolderLock home(platform::FileManager::defaultManager().rootDirectory());
//   if (home.state() == HomeFolderLock::State::HeldElsewhere) ... home.holder() ...
//   home.waitForHolder(std::chrono::seconds(10));   // the holder is quitting
//
// Main thread.

#include <sys/types.h>

#include <chrono>
#include <string>

class HomeFolderLock {
  public:
    static constexpr const char* kFileName = "shell.lock";

    enum class State {
        Held,           // this process holds the home folder
        HeldElsewhere,  // another process holds it
        Failed,         // the lock file could not be made, opened or locked: problem()
    };

    // Creates the folder when it is missing.
    explicit HomeFolderLock(const std::string& folder);
    HomeFolderLock(const HomeFolderLock&) = delete;
    HomeFolderLock& operator=(const HomeFolderLock&) = delete;

    // HeldElsewhere: tries again at once and, while another holds it, until `bound` has
    // passed; answers whether this process holds the folder now.
    bool waitForHolder(std::chrono::milliseconds bound);

    // Whether another process holds the folder now, without taking it. Any thread.
    bool heldElsewhere() const;

    State state() const { return state_; }
    // HeldElsewhere: the holder's process id as its file tells it; 0 when it does not.
    pid_t holder() const { return holder_; }
    const std::string& problem() const { return problem_; }
    const std::string& path() const { return path_; }

  private:
    void take();

    std::string path_;
    State state_ = State::Failed;
    pid_t holder_ = 0;
    std::string problem_;
};
