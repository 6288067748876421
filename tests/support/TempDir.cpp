#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/UserDefaults.h"

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "merovane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
        return;
    }
    path_ = pattern;
    platform::FileManager::defaultManager().setRootDirectoryForTesting(path_);
    platform::UserDefaults::standard().resetForTesting();
}

TempDir::~TempDir() {
    platform::UserDefaults::standard().resetForTesting();
    platform::FileManager::defaultManager().setRootDirectoryForTesting({});
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& relative, const std::string& bytes) const {
    std::filesystem::path p = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

unsigned TempDir::permissions(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 0777;
}
