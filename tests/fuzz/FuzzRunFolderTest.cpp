// The fuzz targets' run folder at exit: it goes once the file work has ended, and its
// removal never throws, whatever is in the way.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/FuzzRunFolder.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "platform/foundation/DispatchQueue.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

using FuzzRunFolderTest = PlatformTest;

// A write that has begun and waits to land: its files appear once it is let go.
class InFlightWrite {
  public:
    InFlightWrite(std::string folder, std::vector<std::string> files)
        : writer_([this, folder = std::move(folder), files = std::move(files)] {
              std::unique_lock lock(mutex_);
              released_.wait(lock, [this] { return go_; });
              for (const auto& file : files) {
                  const fs::path path = folder + "/" + file;
                  std::error_code error;
                  fs::create_directories(path.parent_path(), error);
                  if (file.back() != '/') std::ofstream(path) << "bytes";
              }
          }) {}
    ~InFlightWrite() { land(); }

    // Lets the write go and waits for it to end.
    void land() {
        {
            std::lock_guard lock(mutex_);
            go_ = true;
        }
        released_.notify_all();
        if (writer_.joinable()) writer_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool go_ = false;
    std::thread writer_;
};

TEST_F(FuzzRunFolderTest, TheFolderGoesOnceTheWriteInFlightHasLanded) {
    struct Row {
        const char* what;
        std::vector<std::string> held;     // in the folder before
        std::vector<std::string> written;  // by the write in flight
    };
    std::vector<std::string> many;
    for (int i = 0; i < 200; ++i) many.push_back("Library/Caches/webcache/" + std::to_string(i));
    const Row rows[] = {
        {"a file at the top", {}, {"defaults.json"}},
        {"a journal beside the store",
         {"Library/general.sqlite"},
         {"Library/general.sqlite-journal"}},
        {"a file in folders made on the way", {"App/Info.json"}, {"Library/Caches/a/b/c.bin"}},
        {"a folder alone", {"App/Info.json"}, {"Library/Preferences/"}},
        {"many files", {"Library/Caches/webcache/x"}, many},
        {"into an empty folder", {}, {"Library/Keychains/keychain.json"}},
    };
    TempDir home;
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string name = "run-" + std::to_string(n++);
        const std::string folder = home.file(name);
        fs::create_directories(folder);
        for (const auto& file : row.held) home.write(name + "/" + file, "x");
        InFlightWrite write(folder, row.written);
        bool removed = false;
        EXPECT_NO_THROW(removed = fuzzing::removeRunFolder(folder, [&] { write.land(); }));
        write.land();
        EXPECT_TRUE(removed);
        EXPECT_FALSE(fs::exists(folder));
    }
}

TEST_F(FuzzRunFolderTest, TheRemovalNeverThrows) {
    TempDir home;
    home.write("plain", "x");
    home.write("full/a/b/c", "x");
    struct Row {
        const char* what;
        std::string folder;
        bool removed;
    };
    const Row rows[] = {
        {"an absent folder", home.file("absent"), true},
        {"a folder with folders in it", home.file("full"), true},
        {"a name longer than the system takes", home.file(std::string(300, 'n')), false},
        {"a path below a plain file", home.file("plain/run"), false},
        {"a plain file", home.file("plain"), true},
    };
    bool endedEvery = true;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        bool ended = false;
        bool removed = !row.removed;
        testing::internal::CaptureStderr();
        EXPECT_NO_THROW(removed = fuzzing::removeRunFolder(row.folder, [&] { ended = true; }));
        const std::string said = testing::internal::GetCapturedStderr();
        endedEvery = endedEvery && ended;
        EXPECT_EQ(removed, row.removed);
        EXPECT_FALSE(row.removed && fs::exists(row.folder));
        EXPECT_EQ(said.find(row.folder) != std::string::npos, !row.removed) << said;
    }
    EXPECT_TRUE(endedEvery);
}

TEST_F(FuzzRunFolderTest, FileWorkThatFailsOrOutlivesTheStopCannotMakeItThrow) {
    TempDir home;
    const std::string folder = home.file("run");
    // A writer that goes on after the stop: the removal may lose to it, but never throws.
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            std::error_code error;
            fs::create_directories(folder + "/d" + std::to_string(i % 8), error);
            std::ofstream(folder + "/d" + std::to_string(i % 8) + "/" + std::to_string(i)) << i;
            ++written;
        }
    });
    while (written < 100) std::this_thread::yield();
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(fuzzing::removeRunFolder(folder, [] { throw std::runtime_error("stuck"); }));
    stop = true;
    writer.join();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("stuck"), std::string::npos);
    EXPECT_TRUE(fuzzing::removeRunFolder(folder, nullptr));
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(FuzzRunFolderTest, TheLibrarysFileOperationsLandBeforeTheFolderGoes) {
    TempDir home;
    const std::string folder = home.file("run");
    for (int i = 0; i < 50; ++i) {
        MVWebCacheResourceObject::queueFileOperation(
            MVWebCacheResourceObject::AtTheStop::Lands, [folder, i] {
                std::error_code error;
                fs::create_directories(folder + "/webcache", error);
                std::ofstream(folder + "/webcache/" + std::to_string(i)) << i;
            });
    }
    EXPECT_TRUE(fuzzing::removeRunFolder(folder, fuzzing::endLibraryFileWork));
    MVWebCacheResourceObject::fileQueue().sync([] {});
    EXPECT_FALSE(fs::exists(folder));
}

}  // namespace
