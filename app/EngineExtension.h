#pragma once
// The real engine's web-process extension, which hands a page's images, style sheets and
// scripts to the web cache, is installed beside the program, in webkit-extensions/ (the
// build keeps a copy there too), so that an installed shell never reaches into the build
// tree. Names that folder to the engine before the first engine is made; without the
// extension there, pages load those resources themselves, and an error line says so.
//
//   EngineExtension::useFolderBeside(platform::FileManager::executablePath());
//
// Main thread.

#include <string>

namespace EngineExtension {

inline constexpr const char* kFolderName = "webkit-extensions";

// The extension's path for the program at `executable`.
std::string pathBeside(const std::string& executable);
// False, after the error line, when the extension is not a file there.
bool useFolderBeside(const std::string& executable);

}  // namespace EngineExtension
