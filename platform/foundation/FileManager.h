#pragma once
// Files and the application's folders.
//
//   auto& fm = platform::FileManager::defaultManager();
//   platform::Error error;
//   if (!fm.createDirectory(fm.cachesDirectory() + "/libmerovane", true, &error)) ...
//   fm.writeFileAtomically(path, bytes, &error);
//
// Every application keeps its files below one root: $MEROVANE_HOME when set, else
// "<XDG data folder>/<application identifier>" ($XDG_DATA_HOME or ~/.local/share).
// Below it: Documents, Library/Caches, Library/Preferences (user defaults) and
// Library/Keychains. Tests point the root at a fresh temporary folder.
//
// Failures never throw: operations answer false or none and, when an error pointer is
// given, write a platform::Error there: kCocoaErrorDomain with kFileWriteFileExistsError
// (516) or kFileNoSuchFileError (4), else kPOSIXErrorDomain with the errno. An absent
// error pointer is never written. Thread-safe.
//
// readFile takes a regular file only, never through a symbolic link, and no larger
// than its bound; a FIFO never blocks it and a growing file is read no further than the
// bound. What lies at the path otherwise is refused with kFileReadCorruptFileError (a
// link, a folder, a FIFO, a device) or kFileReadTooLargeError: a store treats these as
// a damaged file of its own (isDamagedFileError).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"

namespace platform {

inline constexpr long kFileNoSuchFileError = 4;
inline constexpr long kFileWriteFileExistsError = 516;
inline constexpr long kFileReadCorruptFileError = 259;
inline constexpr long kFileReadTooLargeError = 263;

struct FileAttributes {
    uint64_t size = 0;
    Date modificationDate;
    bool isDirectory = false;
};

class FileManager {
  public:
    static FileManager& defaultManager();

    // The main bundle's identifier, or the program's file name when it has none; names
    // the application's folder and its user-defaults file.
    static std::string applicationIdentifier();
    // The running program's file.
    static std::string executablePath();

    // Whether a value read from a file may name one file or folder: not empty, no "/",
    // "\\", ".." or NUL.
    static bool isSafePathComponent(std::string_view name);

    // The root of the application's files (not created here).
    std::string rootDirectory() const;
    // <root>/Documents and <root>/Library/Caches, created when missing.
    std::string documentsDirectory() const;
    std::string cachesDirectory() const;
    // <root>/Library (user defaults and keychain live below it), not created here.
    std::string libraryDirectory() const;

    bool fileExists(const std::string& path, bool* isDirectory = nullptr) const;
    // With intermediates an existing directory is success; without, any existing item
    // is kFileWriteFileExistsError.
    bool createDirectory(const std::string& path, bool withIntermediates, Error* error = nullptr);
    // Removes a file or a whole folder tree.
    bool removeItem(const std::string& path, Error* error = nullptr);
    // Fails with kFileWriteFileExistsError when `to` exists.
    bool moveItem(const std::string& from, const std::string& to, Error* error = nullptr);
    bool copyItem(const std::string& from, const std::string& to, Error* error = nullptr);
    // Names (not paths) of the folder's entries, sorted; none when it cannot be read.
    std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path,
                                                                Error* error = nullptr) const;
    // At most `maxBytes` bytes; the second form allows kDefaultMaxReadBytes.
    std::optional<std::string> readFile(const std::string& path, size_t maxBytes,
                                        Error* error = nullptr) const;
    std::optional<std::string> readFile(const std::string& path, Error* error = nullptr) const;
    static constexpr size_t kDefaultMaxReadBytes = size_t{64} << 20;
    // Whether readFile refused what lies at the path rather than failing to read it.
    static bool isDamagedFileError(const Error& error);
    // Writes a temporary file beside `path`, flushes it to disc and renames it over
    // `path`, so readers see the old or the new bytes, never a mix. `mode` is the new
    // file's permission bits (before the umask). The folder must exist.
    bool writeFileAtomically(const std::string& path, std::string_view bytes,
                             Error* error = nullptr, unsigned mode = 0644);
    std::optional<FileAttributes> attributes(const std::string& path, Error* error = nullptr) const;
    // Moves a broken file and its companions ("<path><suffix>") aside to
    // "<path>.corrupt-<UTC time>" (plus the suffix), never over an earlier aside, and
    // removes all but the `keep` newest asides. Answers the aside's path.
    std::optional<std::string> moveAside(const std::string& path,
                                         const std::vector<std::string>& companionSuffixes = {},
                                         size_t keep = 3, Error* error = nullptr);

    // Test hook: a fixed root instead of the environment's; empty restores it. Resets of
    // the shared instances leave it.
    void setRootDirectoryForTesting(std::string root);

  private:
    FileManager() = default;
};

}  // namespace platform
