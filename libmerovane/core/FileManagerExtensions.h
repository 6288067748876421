#pragma once
// Makes sure a directory exists, creating missing folders on the way.
//
//   platform::Error error;
//   if (!makeSurePathExists(cacheFolder, &error)) MVLogError("{}", error.localizedDescription());

#include <string>

namespace platform {
class Error;
}

// True when a directory stands at `path` afterwards. A plain file in its place is
// removed first. A directory that appears meanwhile (another thread made it) counts as
// success, with a warning. On failure the error is written to `error` when given.
bool makeSurePathExists(const std::string& path, platform::Error* error = nullptr);
