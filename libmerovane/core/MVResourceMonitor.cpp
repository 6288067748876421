#include "libmerovane/core/MVResourceMonitor.h"

#include <algorithm>
#include <utility>

#include "libmerovane/core/MVInstalledInstance.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSerialCounter.h"
#include "platform/foundation/Thread.h"

namespace {

constexpr const char* kWillWaitLine =
    "MVResourceMonitorCaptureGroup<{}> will wait for {} resource{}";
constexpr const char* kFinishedWaitingLine =
    "MVResourceMonitorCaptureGroup<{}> finished waiting for resources";
constexpr const char* kTimeoutLine = "MVResourceMonitor<{}> reached timeout for capture group";
constexpr const char* kNoActionLine = "MVResourceMonitor no action for \"{}\"";
constexpr const char* kNoneRecordingLine =
    "MVResourceMonitor tried stop a capture group, but none is recording (dismissing)";

enum class ResourceAction { Began, Ended };

// Runs its function when the scope ends, however it ends.
struct Closing {
    std::function<void()> close;
    ~Closing() { close(); }
};

// What each observed notification means for its object.
const std::map<std::string, ResourceAction>& resourceActions() {
    static const auto* actions = new std::map<std::string, ResourceAction>{
        {"MVWebViewDidStartLoadingNotification", ResourceAction::Began},
        {"MVWebViewDidFinishLoadingNotification", ResourceAction::Ended},
        {"MVWebViewDidCancelLoadingNotification", ResourceAction::Ended},
        {"MVWebViewDidFailLoadingNotification", ResourceAction::Ended},
        {"MVWebViewControllerDidStartLoadingNotification", ResourceAction::Began},
        {"MVWebViewControllerDidEndLoadingNotification", ResourceAction::Ended},
        {MVRecourceMonitorCaptureGroupDidStartNotification, ResourceAction::Began},
        {MVRecourceMonitorCaptureGroupDidFinishNotification, ResourceAction::Ended},
    };
    return *actions;
}

MVSerialCounter& groupSerials() {
    static auto* serials = new MVSerialCounter("MVResourceMonitorCaptureGroup serials", 1000);
    return *serials;
}

using MonitorSlot = MVInstalledInstance<MVResourceMonitor>;
constexpr const char* kMonitorSlot = "MVResourceMonitor";

}  // namespace

// MVResourceMonitorCaptureGroup

std::shared_ptr<MVResourceMonitorCaptureGroup> MVResourceMonitorCaptureGroup::create(
    std::shared_ptr<MVResourceMonitorCaptureGroup> parentGroup) {
    return std::shared_ptr<MVResourceMonitorCaptureGroup>(
        new MVResourceMonitorCaptureGroup(std::move(parentGroup)));
}

MVResourceMonitorCaptureGroup::MVResourceMonitorCaptureGroup(
    std::shared_ptr<MVResourceMonitorCaptureGroup> parentGroup)
    : serial_(groupSerials().next()), parentGroup_(std::move(parentGroup)) {}

void MVResourceMonitorCaptureGroup::resetSerialsForTesting() {
    groupSerials().reset();
}

void MVResourceMonitorCaptureGroup::postNotification(const char* name) {
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{name, static_cast<const void*>(this), weak_from_this(), {}});
}

void MVResourceMonitorCaptureGroup::addObservedObject(Resource resource) {
    if (!resource) return;
    std::lock_guard lock(mutex_);
    ++resources_[resource];
}

void MVResourceMonitorCaptureGroup::removeObservedObject(Resource resource) {
    if (!resource) return;
    {
        std::lock_guard lock(mutex_);
        auto found = resources_.find(resource);
        if (found != resources_.end() && --found->second == 0) resources_.erase(found);
    }
    performFinalBlockIfPossible();
}

void MVResourceMonitorCaptureGroup::beginTracking() {
    {
        std::lock_guard lock(mutex_);
        if (isTracking_) return;
        isTracking_ = true;
    }
    postNotification(MVRecourceMonitorCaptureGroupDidStartNotification);
}

void MVResourceMonitorCaptureGroup::endTracking() {
    size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        if (!isTracking_) return;
        count = resources_.size();
        isTracking_ = false;
    }
    MVLogVerbose(kWillWaitLine, serial_, count, count > 1 ? "s" : "");
    if (performFinalBlockIfPossible()) return;
    std::lock_guard lock(mutex_);
    // A reopened group that already ended (timed out) waits for nothing.
    if (hasEnded_ || !(timeoutInterval_ > 0)) return;
    auto* loop = platform::RunLoop::current();
    if (!loop) loop = &platform::RunLoop::main();
    std::weak_ptr<MVResourceMonitorCaptureGroup> weak = weak_from_this();
    timerForTimeout_ = loop->postAfter(timeoutInterval_, [weak] {
        if (auto group = weak.lock()) group->didTimeOut();
    });
}

bool MVResourceMonitorCaptureGroup::performFinalBlockIfPossible() {
    {
        std::lock_guard lock(mutex_);
        if (isTracking_ || hasEnded_ || !resources_.empty()) return false;
        timerForTimeout_.cancel();
        timerForTimeout_ = {};
        hasEnded_ = true;
    }
    MVLogVerbose(kFinishedWaitingLine, serial_);
    performFinalBlock();
    return true;
}

void MVResourceMonitorCaptureGroup::performFinalBlock() {
    FinalBlock finalBlock;
    std::shared_ptr<MVResourceMonitorCaptureGroup> parentGroup;
    {
        std::lock_guard lock(mutex_);
        finalBlock.swap(finalBlock_);
        parentGroup.swap(parentGroup_);
    }
    if (finalBlock) {
        // Queued before the finish notification's "ended", so the parent still counts
        // this group while the final block starts its own loads.
        platform::RunLoop::main().post(
            [parentGroup = std::move(parentGroup), finalBlock = std::move(finalBlock)] {
                auto& monitor = MVResourceMonitor::sharedResourceMonitor();
                monitor.captureResources(
                    [&monitor, &finalBlock] { monitor.captureResources(finalBlock, 0, nullptr); },
                    parentGroup);
            });
    }
    postNotification(MVRecourceMonitorCaptureGroupDidFinishNotification);
}

void MVResourceMonitorCaptureGroup::didTimeOut() {
    {
        std::lock_guard lock(mutex_);
        if (hasEnded_) return;
    }
    performFinalBlock();
    MVLogWarn(kTimeoutLine, serial_);
    std::lock_guard lock(mutex_);
    timerForTimeout_.cancel();
    timerForTimeout_ = {};
    hasEnded_ = true;
}

void MVResourceMonitorCaptureGroup::setFinalBlock(FinalBlock finalBlock) {
    std::lock_guard lock(mutex_);
    finalBlock_ = std::move(finalBlock);
}

void MVResourceMonitorCaptureGroup::setTimeoutInterval(double seconds) {
    std::lock_guard lock(mutex_);
    timeoutInterval_ = seconds;
}

std::shared_ptr<MVResourceMonitorCaptureGroup> MVResourceMonitorCaptureGroup::parentGroup() const {
    std::lock_guard lock(mutex_);
    return parentGroup_;
}

bool MVResourceMonitorCaptureGroup::hasEnded() const {
    std::lock_guard lock(mutex_);
    return hasEnded_;
}

bool MVResourceMonitorCaptureGroup::isTracking() const {
    std::lock_guard lock(mutex_);
    return isTracking_;
}

size_t MVResourceMonitorCaptureGroup::resourceCount() const {
    std::lock_guard lock(mutex_);
    return resources_.size();
}

// MVResourceMonitor

MVResourceMonitor& MVResourceMonitor::sharedResourceMonitor() {
    if (auto monitor = MonitorSlot::get(kMonitorSlot)) return *monitor;
    auto created = std::shared_ptr<MVResourceMonitor>(new MVResourceMonitor);
    MonitorSlot::install(created, kMonitorSlot);
    created->observe();
    return *created;
}

MVResourceMonitor::~MVResourceMonitor() = default;

void MVResourceMonitor::observe() {
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVResourceMonitor> weak = weak_from_this();
    for (const auto& [name, action] : resourceActions()) {
        observers_.emplace_back(
            center, center.addObserver(name, nullptr, [weak](const platform::Notification& n) {
                if (auto monitor = weak.lock()) monitor->notificationReceived(n);
            }));
    }
}

void MVResourceMonitor::notificationReceived(const platform::Notification& notification) {
    const auto& actions = resourceActions();
    auto found = actions.find(notification.name);
    if (found == actions.end()) {
        MVLogWarn(kNoActionLine, notification.name);
        return;
    }
    const Group::Resource resource = notification.sender;
    const ResourceAction action = found->second;
    std::weak_ptr<MVResourceMonitor> weak = weak_from_this();
    if (action == ResourceAction::Began && platform::isMainThread()) {
        beganLoadingResource(resource);
        return;
    }
    platform::RunLoop::main().post([weak, resource, action] {
        auto monitor = weak.lock();
        if (!monitor) return;
        if (action == ResourceAction::Began)
            monitor->beganLoadingResource(resource);
        else
            monitor->endedLoadingResource(resource);
    });
}

void MVResourceMonitor::beganLoadingResource(Group::Resource resource) {
    if (captureHierarchyGroups_.empty()) return;
    captureHierarchyGroups_.back()->addObservedObject(resource);
}

void MVResourceMonitor::endedLoadingResource(Group::Resource resource) {
    // A removal may end a group, whose notifications only queue work: the list holds.
    const auto groups = captureGroups_;
    for (const auto& group : groups) group->removeObservedObject(resource);
    std::erase_if(captureGroups_, [](const GroupPtr& group) { return group->hasEnded(); });
}

MVResourceMonitor::GroupPtr MVResourceMonitor::startCapturing() {
    GroupPtr parent = captureHierarchyGroups_.empty() ? nullptr : captureHierarchyGroups_.back();
    auto group = Group::create(parent);
    captureGroups_.push_back(group);
    group->beginTracking();
    captureHierarchyGroups_.push_back(group);
    return group;
}

void MVResourceMonitor::stopCapturingThenDo(Block finalBlock, double timeout) {
    // The open groups decide: an ended group not yet dropped is no open one.
    if (captureHierarchyGroups_.empty()) {
        MVLogWarn(kNoneRecordingLine);
        return;
    }
    auto group = captureHierarchyGroups_.back();
    captureHierarchyGroups_.pop_back();
    group->setFinalBlock(std::move(finalBlock));
    group->setTimeoutInterval(timeout);
    group->endTracking();
}

void MVResourceMonitor::captureResources(const Block& block, double timeout, Block finalBlock) {
    startCapturing();
    // Closed also when the block throws.
    Closing closing{[&] { stopCapturingThenDo(std::move(finalBlock), timeout); }};
    if (block) block();
}

void MVResourceMonitor::captureResources(const Block& block, const GroupPtr& parentGroup) {
    if (!parentGroup) {
        if (block) block();
        return;
    }
    // Captures the server left open stay open, but outside the reopened parent.
    std::vector<GroupPtr> setAside;
    setAside.swap(captureHierarchyGroups_);
    startCapturingForParent(parentGroup);
    Closing closing{[&] {
        stopCapturingForParent(parentGroup);
        setAside.insert(setAside.end(), captureHierarchyGroups_.begin(),
                        captureHierarchyGroups_.end());
        captureHierarchyGroups_.swap(setAside);
    }};
    if (block) block();
}

void MVResourceMonitor::startCapturingForParent(const GroupPtr& parentGroup) {
    parentGroup->beginTracking();
    captureHierarchyGroups_.push_back(parentGroup);
}

void MVResourceMonitor::stopCapturingForParent(const GroupPtr& parentGroup) {
    // Groups the block opened and left open stay open; the parent closes wherever it is.
    auto found =
        std::find(captureHierarchyGroups_.rbegin(), captureHierarchyGroups_.rend(), parentGroup);
    if (found != captureHierarchyGroups_.rend())
        captureHierarchyGroups_.erase(std::next(found).base());
    parentGroup->endTracking();
}
