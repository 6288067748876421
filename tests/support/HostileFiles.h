#pragma once
// What may lie where a store keeps its file, none of which the store may read, and a way
// to run a test whose failure would block for ever or fill the memory.
//
//   TEST_F(StoreTest, RefusesWhatIsNoRegularFile) {
//       if (!inBoundedChild()) return;  // here: checks that the child passed
//       for (const auto& hostile : hostileFiles(Store::kMaxFileBytes, outside)) {
//           ASSERT_TRUE(hostile.plant(path));
//           ...                        // in the child: open, expect hostile.reason logged
//       }
//   }

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct HostileFile {
    const char* what;
    // Plants it at `path`, whose folder exists and where nothing lies; false on failure.
    std::function<bool(const std::string& path)> plant;
    // How the reason the read gives begins.
    std::string reason;
    // What an lstat of it gives (S_IFLNK, S_IFIFO, S_IFDIR, S_IFREG).
    mode_t type;
};

// A link to an endless device, a link to `linkTarget` (a file the store could read), a
// FIFO nobody writes, a folder, and a file one byte over `maxBytes` (sparse).
std::vector<HostileFile> hostileFiles(size_t maxBytes, const std::string& linkTarget);

// The type bits of an lstat of `path`; 0 when nothing is there.
mode_t fileTypeAt(const std::string& path);

// Runs the current test again in a child process, which stops at `seconds` and cannot
// take more than `dataBytes` of memory, and answers false here after checking it passed;
// answers true in the child, which goes on with the test.
bool inBoundedChild(unsigned seconds = 60, size_t dataBytes = size_t{2} << 30);
