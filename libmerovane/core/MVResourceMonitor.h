#pragma once
// Lets a step wait until everything it set loading has loaded. A capture counts every
// web view and web view controller that starts loading while it is open (and, through
// nested captures, everything those loads start in turn) in a capture group; the
// group's final block runs when the count drops to zero, or when its time-out expires.
//
//   MVResourceMonitor::sharedResourceMonitor().captureResources(
//       [] { performCommands(); }, 20.0, [] { cacheBootScript(); });
//
// The monitor learns of loads only from the loading notifications (object: the
// resource). Resources are counted by identity and never kept alive. A "began" counts
// at once in the innermost open group; an "ended" is handled one main-loop turn later,
// so a resource that starts and ends within one turn is still counted. A group that
// opens inside another one is a resource of it until its final block has started.
//
// Main thread only (notifications posted elsewhere are moved there); each group's
// state is also guarded by a lock of its own.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

// Posted by a capture group when its capture opens and when it has finished waiting
// (object: the group). The names are kept as the pages' scripts and logs know them.
inline constexpr const char* MVRecourceMonitorCaptureGroupDidStartNotification =
    "MVRecourceMonitorCaptureGroupDidStartNotification";
inline constexpr const char* MVRecourceMonitorCaptureGroupDidFinishNotification =
    "MVRecourceMonitorCaptureGroupDidEndWaitingNotification";

class MVResourceMonitorCaptureGroup
    : public std::enable_shared_from_this<MVResourceMonitorCaptureGroup> {
  public:
    // A resource: the identity of the object that posted a loading notification.
    using Resource = const void*;
    using FinalBlock = std::function<void()>;

    static std::shared_ptr<MVResourceMonitorCaptureGroup> create(
        std::shared_ptr<MVResourceMonitorCaptureGroup> parentGroup);
    // Serials count from 1000, process-wide.
    int64_t serial() const { return serial_; }

    // Counts one more load of the resource; null is ignored.
    void addObservedObject(Resource resource);
    // Counts one load of the resource less, then ends the group when it can.
    void removeObservedObject(Resource resource);
    // Opens the group: posts its start notification.
    void beginTracking();
    // Closes the group: it ends now when nothing is left, else waits (with its time-out).
    void endTracking();
    // Ends the group when it is closed, not yet ended and has nothing left; answers
    // whether it ended now.
    bool performFinalBlockIfPossible();
    // Queues the final block inside a reopened parent, then posts the finish notification.
    void performFinalBlock();
    void didTimeOut();

    void setFinalBlock(FinalBlock finalBlock);
    // Seconds; 0 or less (or NaN): no time-out.
    void setTimeoutInterval(double seconds);
    std::shared_ptr<MVResourceMonitorCaptureGroup> parentGroup() const;
    bool hasEnded() const;
    bool isTracking() const;
    // Distinct resources still loading.
    size_t resourceCount() const;

    // Starts the serials again at 1000.
    static void resetSerialsForTesting();

  private:
    explicit MVResourceMonitorCaptureGroup(
        std::shared_ptr<MVResourceMonitorCaptureGroup> parentGroup);
    void postNotification(const char* name);

    const int64_t serial_;
    mutable std::mutex mutex_;
    // Guarded by mutex_.
    std::map<Resource, size_t> resources_;
    double timeoutInterval_ = 0;
    platform::TimerHandle timerForTimeout_;
    std::shared_ptr<MVResourceMonitorCaptureGroup> parentGroup_;
    FinalBlock finalBlock_;
    bool hasEnded_ = false;
    bool isTracking_ = false;
};

class MVResourceMonitor : public std::enable_shared_from_this<MVResourceMonitor> {
  public:
    using Group = MVResourceMonitorCaptureGroup;
    using GroupPtr = std::shared_ptr<MVResourceMonitorCaptureGroup>;
    using Block = std::function<void()>;

    // The one monitor, observing from its creation on.
    static MVResourceMonitor& sharedResourceMonitor();

    // startCapturing, the block, stopCapturingThenDo (also when the block throws).
    void captureResources(const Block& block, double timeout, Block finalBlock);
    // Opens a group inside the innermost open one (a resource of it).
    GroupPtr startCapturing();
    // Closes the innermost open group with its final block and time-out; with none open
    // it warns and does nothing.
    void stopCapturingThenDo(Block finalBlock, double timeout);
    // Reopens an existing group around the block; with none just runs the block. Groups
    // that are open meanwhile are set aside and opened again afterwards.
    void captureResources(const Block& block, const GroupPtr& parentGroup);

    void beganLoadingResource(Group::Resource resource);
    void endedLoadingResource(Group::Resource resource);
    void notificationReceived(const platform::Notification& notification);

    // Every group not yet dropped, oldest first; the open ones, innermost last.
    const std::vector<GroupPtr>& captureGroups() const { return captureGroups_; }
    const std::vector<GroupPtr>& captureHierarchyGroups() const { return captureHierarchyGroups_; }

    ~MVResourceMonitor();

  private:
    MVResourceMonitor() = default;
    void observe();
    void startCapturingForParent(const GroupPtr& parentGroup);
    void stopCapturingForParent(const GroupPtr& parentGroup);

    std::vector<GroupPtr> captureGroups_;
    std::vector<GroupPtr> captureHierarchyGroups_;
    std::vector<platform::ObserverRegistration> observers_;
};
