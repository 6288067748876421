#include "libmerovane/storage/MVWebCacheResourceObject.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>

#include "libmerovane/core/ErrorDescription.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"

const MVEntityDescription& MVWebCacheResourceObject::entityDescription() {
    static const auto* entity =
        new MVEntityDescription("MVWebCacheResourceObject",
                                {{"id", MVAttributeType::String},
                                 {"mimeType", MVAttributeType::String},
                                 {"lastUpdate", MVAttributeType::Date},
                                 {"maximumLifetime", MVAttributeType::Double},
                                 {"infoDictionary", MVAttributeType::Transformable},
                                 {"localSerial", MVAttributeType::Integer64},
                                 {"shadowed", MVAttributeType::Boolean}},
                                &MVWebCacheResourceObject::make);
    return *entity;
}

std::shared_ptr<MVPersistentObject> MVWebCacheResourceObject::make() {
    return std::shared_ptr<MVPersistentObject>(new MVWebCacheResourceObject());
}

namespace {
std::mutex gSerialMutex;
std::optional<int64_t> gNextSerial;
bool gSerialResetRegistered = false;

// Kept for the process: a file operation may still read them while it ends.
std::mutex gFoldersMutex;
std::string& gWebCacheFolder = *new std::string;
std::string& gShadowCacheFolder = *new std::string;

// Set by the process's stop.
std::atomic<bool> gFileOperationsEnded{false};

constexpr int64_t kFirstSerial = 100000;
}  // namespace

void MVWebCacheResourceObject::resetSerialsForTesting() {
    std::lock_guard lock(gSerialMutex);
    gNextSerial.reset();
}

MVWebCacheResourceObject::Ptr MVWebCacheResourceObject::dbObjectCreate() {
    std::lock_guard lock(gSerialMutex);
    if (!gSerialResetRegistered) {
        gSerialResetRegistered = true;
        platform::registerSharedInstanceReset("MVWebCacheResourceObject serials",
                                              &MVWebCacheResourceObject::resetSerialsForTesting);
    }
    if (!gNextSerial) {
        const auto highest = dbObjectsWithPredicate(MVPredicate(), {{"localSerial", false}}, 0, 1);
        const auto serial = highest.empty() ? std::nullopt : highest.front()->localSerial();
        gNextSerial = serial && *serial >= kFirstSerial ? *serial + 1 : kFirstSerial;
    }
    auto object = MVPersistentEntity<MVWebCacheResourceObject>::dbObjectCreate();
    object->setLocalSerial((*gNextSerial)++);
    object->setShadowed(false);
    return object;
}

void MVWebCacheResourceObject::setFolders(std::string webCache, std::string shadowCache) {
    std::lock_guard lock(gFoldersMutex);
    gWebCacheFolder = std::move(webCache);
    gShadowCacheFolder = std::move(shadowCache);
}

std::string MVWebCacheResourceObject::pathForWebCache() {
    {
        std::lock_guard lock(gFoldersMutex);
        if (!gWebCacheFolder.empty()) return gWebCacheFolder;
    }
    return platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane/webcache";
}

std::string MVWebCacheResourceObject::pathForShadowCache() {
    {
        std::lock_guard lock(gFoldersMutex);
        if (!gShadowCacheFolder.empty()) return gShadowCacheFolder;
    }
    return platform::FileManager::defaultManager().documentsDirectory() +
           "/libmerovane/shadowcache";
}

std::string MVWebCacheResourceObject::localFilename() const {
    if (!localFilename_.empty()) return localFilename_;
    const auto serial = localSerial();
    if (!serial) return {};
    const std::string name = "webcache/" + std::to_string(*serial);
    if (shadowed()) {
        localFilename_ = pathForShadowCache() + "/" + name;
    } else {
        // The web cache folder is "webcache" in the caches folder.
        localFilename_ = pathForWebCache() + "/" + std::to_string(*serial);
    }
    return localFilename_;
}

bool MVWebCacheResourceObject::needsRefresh() const {
    const auto updated = lastUpdate().value_or(platform::Date::distantPast());
    return updated.addingTimeInterval(maximumLifetime().value_or(0)) < platform::Date::now();
}

namespace {

void reportFileError(const std::string& text, const char* summary) {
    MVLogError("{}", text);
    MVErrorLogger::logError(summary, text);
}

void moveEntryFile(const std::string& oldPath, const std::string& newPath) {
    auto& fm = platform::FileManager::defaultManager();
    if (!fm.fileExists(oldPath)) return;
    const std::string folder = std::filesystem::path(newPath).parent_path().string();
    platform::Error error;
    if (!fm.createDirectory(folder, true, &error)) {
        return reportFileError(
            fmt::format("MVWebCacheResourceObject could not create path [ {} ] {}", folder,
                        errorDescription(error)),
            "MVWebCacheResourceObject could not create path");
    }
    // Files here are rebuilt from the server; the platform has no backup flag to set.
    if (fm.fileExists(newPath) && !fm.removeItem(newPath, &error)) {
        return reportFileError(
            fmt::format("MVWebCacheResourceObject could not remove file [ {} ] {}", newPath,
                        errorDescription(error)),
            "MVWebCacheResourceObject could not remove file");
    }
    if (!fm.moveItem(oldPath, newPath, &error)) {
        reportFileError(fmt::format("MVWebCacheResourceObject could not move file [ {} => {} ] {}",
                                    oldPath, newPath, errorDescription(error)),
                        "MVWebCacheResourceObject could not move file");
    }
}

}  // namespace

platform::DispatchQueue& MVWebCacheResourceObject::fileQueue() {
    static auto* queue = new std::shared_ptr<platform::DispatchQueue>(
        platform::DispatchQueue::makeSerial("MVWebCache files"));
    return **queue;
}

void MVWebCacheResourceObject::queueFileOperation(AtTheStop atTheStop,
                                                  std::function<void()> operation) {
    // What is queued once the stop has begun never runs.
    const bool runsAtTheStop = atTheStop == AtTheStop::Lands && !gFileOperationsEnded.load();
    fileQueue().async([runsAtTheStop, operation = std::move(operation)] {
        if (gFileOperationsEnded.load() && !runsAtTheStop) return;
        operation();
    });
}

bool MVWebCacheResourceObject::endFileOperations(double bound) {
    static std::once_flag registered;
    std::call_once(registered, [] {
        platform::registerSharedInstanceReset("MVWebCacheResourceObject file operations",
                                              [] { gFileOperationsEnded = false; });
    });
    gFileOperationsEnded = true;
    // Shared with the queue's last task, which may outlive the wait.
    auto done = std::make_shared<std::promise<void>>();
    auto ended = done->get_future();
    fileQueue().async([done] { done->set_value(); });
    if (ended.wait_for(std::chrono::duration<double>(bound)) == std::future_status::ready)
        return true;
    MVLogError("MVWebCache file operations still run {} s after the stop began", bound);
    return false;
}

void MVWebCacheResourceObject::changeEntries(const std::function<void()>& block) {
    // Locked access alone lets two threads change one row at once, the later save
    // winning; this keeps the rows' order and the file queue's order one.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    MVPersistentStorage::sharedStorage().lockedAccess(block);
}

void MVWebCacheResourceObject::setIsShadowed(bool value) {
    if (value == shadowed()) return;
    const std::string oldPath = localFilename();
    localFilename_.clear();
    setShadowed(value);
    const std::string newPath = localFilename();
    if (oldPath.empty() || newPath.empty()) return;
    // Behind every write and removal queued for the old path so far.
    queueFileOperation(AtTheStop::Skipped, [oldPath, newPath] { moveEntryFile(oldPath, newPath); });
}
