// Helper of the crash-safety test: writes numbered batches of web storage entries into
// the store in a caches folder and prints each batch's number on its own line once its
// disc write is acknowledged. The test kills it at random moments.
//
//   storage_crash_writer <caches folder> <first batch> <batches> <rows per batch>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVPersistentStorageHost.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "platform/foundation/Date.h"

namespace {

class Host : public MVPersistentStorageHost {
  public:
    explicit Host(std::string caches) : caches_(std::move(caches)) {}
    std::string pathForCaches() override { return caches_; }
    void removeCachedBootApp() override {}
    std::string libmerovaneBundlePath() override { return caches_ + "/no-bundle"; }

  private:
    std::string caches_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <caches folder> <first batch> <batches> <rows per batch>\n",
                     argv[0]);
        return 2;
    }
    const long first = std::strtol(argv[2], nullptr, 10);
    const long count = std::strtol(argv[3], nullptr, 10);
    const long rows = std::strtol(argv[4], nullptr, 10);
    MVRegisterPersistentEntities();
    MVPersistentStorage::setHost(std::make_shared<Host>(argv[1]));
    auto& storage = MVPersistentStorage::sharedStorage();
    const std::string padding(300, 'p');
    for (long batch = first; batch < first + count; ++batch) {
        storage.lockedAccess([&] {
            for (long row = 0; row < rows; ++row) {
                auto entry = MVWebStorageVariable::dbObjectCreate();
                entry->setId("b" + std::to_string(batch) + "-" + std::to_string(row));
                entry->setCreationDate(platform::Date::now());
                const nlohmann::json value = {{"batch", batch}, {"row", row}, {"padding", padding}};
                entry->setDataValue(&value);
            }
        });
        if (!storage.waitUntilWrittenToDisc()) return 1;
        const std::string line = std::to_string(batch) + "\n";
        if (::write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return 1;
    }
    return 0;
}
