#pragma once
// Reading a file that may have been planted or damaged by someone else.
//
//   std::string whyNot;
//   auto bytes = platform::readRegularFile(path, kMaxBytes, &whyNot);
//   if (!bytes) log::warning("skipping {}: {}", log::escaped(path), whyNot);
//
// The file is opened without following a symbolic link at its last component and
// without blocking (a FIFO never stalls the reader); it must be a regular file of at
// most `maxBytes` bytes, and no more than `maxBytes` bytes are ever read, even from a
// file that grows while it is read. Anything else answers none with a short reason in
// `whyNot` and `*missing` set when no file is there at all. Never throws; thread-safe.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes,
                                           std::string* whyNot = nullptr, bool* missing = nullptr);

// The same read, telling why it gave no bytes.
struct RegularFileRead {
    enum Outcome {
        Read,
        Missing,     // nothing at the path
        Link,        // a symbolic link
        NotRegular,  // a folder, FIFO, device or socket
        TooLarge,    // more than the bytes allowed, or grew past them while read
        Failed,      // opening, examining or reading failed with `errorNumber`
    };
    Outcome outcome = Read;
    std::string bytes;
    std::string whyNot;
    int errorNumber = 0;
};
RegularFileRead tryReadRegularFile(const std::string& path, size_t maxBytes);

// Opens `path` for a lock or a write in place, as the read above opens it, with `flags` added
// (the access mode, O_CREAT with `mode`). Only a regular file with this one name is kept: a
// second hard link would carry what is done to it to a file elsewhere. Answers the
// descriptor, which the caller closes, or -1 with a short reason in `whyNot`.
int openSingleRegularFile(const std::string& path, int flags, mode_t mode,
                          std::string* whyNot = nullptr);

}  // namespace platform
