#include "tests/support/StorageFixture.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Device.h"

namespace {
bool setImmutable(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}
}  // namespace

void StorageTest::SetUp() {
    PlatformTest::SetUp();
    home_ = std::make_unique<TempDir>();
    root_ = home_->path();
    host_ = std::make_shared<RecordingStorageHost>();
    host_->caches = platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane";
    host_->bundle = (root_ / "libmerovane.bundle").string();
    MVPersistentStorage::setHost(host_);
}

void StorageTest::TearDown() {
    platform::resetSharedInstancesForTesting();
    for (auto& path : unremovable_) setImmutable(path, false);
    home_.reset();
    PlatformTest::TearDown();
}

void StorageTest::setDevice(const std::string& model, const std::string& machine) {
    platform::Device::current().setModel(model);
    platform::Device::current().setMachine(machine);
}

bool StorageTest::makeUnremovable(const std::string& path) {
    if (!setImmutable(path, true)) return false;
    unremovable_.push_back(path);
    return true;
}

void StorageTest::closeStorage() {
    platform::resetSharedInstancesForTesting();
    MVPersistentStorage::setHost(host_);
}

MVPersistentStorage& StorageTest::reopen() {
    closeStorage();
    return storage();
}

void StorageTest::writeFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}
