#pragma once
// A folder of the fuzz target's run, the application's root while it runs, removed at
// exit once the library's file work has ended: the user defaults written, the web
// cache's file operations landed or skipped, the store's writer closed. Nothing on the
// way out throws: a folder that cannot be removed is left, with a line on stderr.
//
//   const std::string& root = fuzzing::runFolder("/tmp/fuzz-x-XXXXXX");

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>

#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/UserDefaults.h"

namespace fuzzing {

// How long the stop waits for the web cache's file operations, in seconds.
inline constexpr double kFileWorkBound = 30;
// A file that appears while the folder goes (a writer that outlived the stop) is taken by
// a later attempt.
inline constexpr int kRemovalAttempts = 20;
inline constexpr std::chrono::milliseconds kRemovalPause{10};

namespace detail {

inline void attempt(const char* what, const std::function<void()>& step) noexcept {
    try {
        step();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s failed at the run's end: %s\n", what, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s failed at the run's end\n", what);
    }
}

}  // namespace detail

// The library's stop for its files, as the application's end makes it.
inline void endLibraryFileWork() noexcept {
    detail::attempt("Writing the user defaults",
                    [] { platform::UserDefaults::standard().synchronize(); });
    detail::attempt("Ending the web cache's file operations",
                    [] { MVWebCacheResourceObject::endFileOperations(kFileWorkBound); });
    detail::attempt("Ending the store's writing", [] { MVPersistentStorage::endWriting(); });
}

// Runs `endFileWork`, then removes `folder` with all it holds. False, with a line on
// stderr, when the folder could not be removed; an absent folder counts as removed.
inline bool removeRunFolder(const std::string& folder,
                            const std::function<void()>& endFileWork) noexcept {
    if (endFileWork) detail::attempt("Ending the file work", endFileWork);
    std::error_code error;
    try {
        for (int round = 0; round < kRemovalAttempts; ++round) {
            if (round > 0) std::this_thread::sleep_for(kRemovalPause);
            error.clear();
            std::filesystem::remove_all(folder, error);
            if (!error) return true;
            if (error != std::errc::directory_not_empty) break;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "The run folder %s could not be removed: %s\n", folder.c_str(),
                     e.what());
        return false;
    }
    std::fprintf(stderr, "The run folder %s could not be removed: %s\n", folder.c_str(),
                 error.message().c_str());
    return false;
}

// The run's folder, made from `pattern` (ending in "XXXXXX", as mkdtemp takes it) on the
// first call, or the pattern without its "-XXXXXX" when that fails; later calls answer
// it whatever they pass. The path outlives every static.
inline const std::string& runFolder(const char* pattern) {
    static const std::string* const path = [pattern] {
        std::string folder = pattern;
        std::string fallback = folder.substr(0, folder.rfind("-XXXXXX"));
        auto* made = new std::string(::mkdtemp(folder.data()) ? folder : fallback);
        platform::FileManager::defaultManager().setRootDirectoryForTesting(*made);
        std::atexit([] { removeRunFolder(runFolder(""), endLibraryFileWork); });
        return made;
    }();
    return *path;
}

}  // namespace fuzzing
