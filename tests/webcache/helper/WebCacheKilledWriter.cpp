// Helper of the killed-writer test: opens the web cache below a root folder and sets the
// shared keys' values until killed, writing one byte to standard output after each step.
// Even rounds first move files: the start of a refreshing shadow period brings shadowed
// files back, then the rows of two keys are shadowed again. The sets come in bursts of
// one key; the last set of most bursts waits for its file and its row to be on disc and
// reports "C" instead of "+": it is confirmed.
//
//   webcache_killed_writer <root folder> <round>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVPersistentStorageHost.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/foundation/FileManager.h"
#include "tests/webcache/helper/WebCacheKilledWriterValues.h"

namespace {

class Host : public MVPersistentStorageHost {
  public:
    Host(std::string caches, std::string bundle)
        : caches_(std::move(caches)), bundle_(std::move(bundle)) {}
    std::string pathForCaches() override { return caches_; }
    void removeCachedBootApp() override {}
    std::string libmerovaneBundlePath() override { return bundle_; }

  private:
    std::string caches_, bundle_;
};

void report(const char* step = "+") {
    if (::write(STDOUT_FILENO, step, 1) != 1) std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <root folder> <round>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const int round = std::atoi(argv[2]);
    auto& fm = platform::FileManager::defaultManager();
    fm.setRootDirectoryForTesting(root);
    MVRegisterPersistentEntities();
    // As the test's storage fixture has it.
    MVPersistentStorage::setHost(std::make_shared<Host>(fm.cachesDirectory() + "/libmerovane",
                                                        root + "/libmerovane.bundle"));
    auto& cache = MVWebCache::sharedCache();
    report();
    const auto& keys = killedWriterKeys();
    if (round % 2 == 0) {
        cache.beginShadowModeWithRefreshingEnabled(true);
        report();
        MVWebCacheResourceObject::changeEntries([&] {
            for (size_t k = 0; k < 2; ++k)
                if (auto row = MVWebCacheResourceObject::dbObjectWithID(keys[k]))
                    row->setIsShadowed(true);
        });
        report();
        cache.endShadowMode();
    }
    const nlohmann::json info = {{MVWebCacheDataInfoMaximumLifetime, 1e9},
                                 {MVWebCacheDataInfoMimeType, "text/plain"}};
    for (int set = 0;; ++set) {
        const auto [k, confirmed] = killedWriterSet(round, set);
        const std::string value = killedWriterValue(k, round, set);
        cache.setData(std::make_shared<const std::vector<uint8_t>>(value.begin(), value.end()),
                      keys[k], info);
        // Some sets wait for their file and row, so that kills find the file queue both
        // caught up and behind.
        if (confirmed) {
            MVWebCache::waitForFileOperations();
            MVPersistentStorage::sharedStorage().waitUntilWrittenToDisc();
            report("C");
        } else {
            report();
        }
    }
}
