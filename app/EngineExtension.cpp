#include "app/EngineExtension.h"

#include <filesystem>
#include <system_error>

#include "libmerovane/core/MVLog.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"

namespace EngineExtension {

std::string pathBeside(const std::string& executable) {
    return (std::filesystem::path(executable).parent_path() / kFolderName / MV_APP_WEBKIT_EXTENSION)
        .string();
}

bool useFolderBeside(const std::string& executable) {
    const std::filesystem::path extension = pathBeside(executable);
    platform::WebKitGtkWebEngine::setExtensionsDirectory(extension.parent_path().string());
    std::error_code error;
    if (std::filesystem::is_regular_file(extension, error)) return true;
    MVLogError(
        "The web engine's extension is missing ({}): pages load their images, style sheets "
        "and scripts themselves, not through the web cache",
        extension.string());
    return false;
}

}  // namespace EngineExtension
