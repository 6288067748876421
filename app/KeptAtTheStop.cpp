#include "app/KeptAtTheStop.h"

#include <sys/stat.h>

#include <vector>

#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/UserDefaults.h"

namespace {

bool isFile(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string KeptAtTheStop::Outcome::lost() const {
    std::vector<std::string> parts;
    if (!settings) parts.emplace_back("the settings");
    if (!files) parts.emplace_back("web cache files still being written");
    if (droppedEntries > 0)
        parts.push_back(fmt::format("{} web cache entr{} without {} file{}", droppedEntries,
                                    droppedEntries == 1 ? "y" : "ies",
                                    droppedEntries == 1 ? "its" : "their",
                                    droppedEntries == 1 ? "" : "s"));
    if (!store) parts.emplace_back("changes to the store");
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text += i + 1 == parts.size() ? " and " : ", ";
        text += parts[i];
    }
    return text;
}

KeptAtTheStop::Outcome KeptAtTheStop::write(double fileBound, bool storeOpened) {
    Outcome outcome;
    outcome.settings = platform::UserDefaults::standard().synchronize();
    outcome.files = MVWebCacheResourceObject::endFileOperations(fileBound);
    try {
        if (storeOpened) outcome.droppedEntries = dropEntriesWithoutFiles();
    } catch (const std::exception& error) {
        MVLogError("The stop could not check the web cache's entries: {}", error.what());
        outcome.files = false;
    }
    outcome.store = MVPersistentStorage::endWriting();
    return outcome;
}

size_t KeptAtTheStop::dropEntriesWithoutFiles() {
    size_t dropped = 0;
    MVWebCacheResourceObject::changeEntries([&dropped] {
        for (auto& row : MVWebCacheResourceObject::dbObjectsWithPredicate(MVPredicate())) {
            const auto serial = row->localSerial();
            const std::string path = row->localFilename();
            if (!serial || path.empty() || isFile(path)) continue;
            const std::string name = std::to_string(*serial);
            const std::string other =
                row->isShadowed()
                    ? MVWebCacheResourceObject::pathForWebCache() + "/" + name
                    : MVWebCacheResourceObject::pathForShadowCache() + "/webcache/" + name;
            if (isFile(other)) continue;
            MVLogWarn("The stop drops the web cache entry ['{}' => '{}']: its file is not on disc",
                      platform::log::escaped(row->id().value_or("")), path);
            row->deleteFromStorage();
            ++dropped;
        }
    });
    return dropped;
}
