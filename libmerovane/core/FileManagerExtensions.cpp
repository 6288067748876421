#include "libmerovane/core/FileManagerExtensions.h"

#include <cerrno>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"

bool makeSurePathExists(const std::string& path, platform::Error* error) {
    auto& files = platform::FileManager::defaultManager();
    bool isDirectory = false;
    if (files.fileExists(path, &isDirectory)) {
        if (isDirectory) return true;
        files.removeItem(path);  // a failure shows in the creation below
    }
    MVLogVerbose("Making sure path exists: \"{}\"", path);
    platform::Error failure;
    if (files.createDirectory(path, true, &failure)) return true;
    const bool alreadyThere =
        (failure.domain() == platform::kCocoaErrorDomain &&
         failure.code() == platform::kFileWriteFileExistsError) ||
        (failure.domain() == platform::kPOSIXErrorDomain && failure.code() == EEXIST);
    if (alreadyThere) {
        MVLogWarn("Tried to create directory, but it has been already been created: {}", path);
        return true;
    }
    if (error) *error = failure;
    return false;
}
