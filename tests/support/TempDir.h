#pragma once
// A fresh temporary folder for one test, removed with everything in it afterwards.
// While it lives it is the application's root: FileManager, UserDefaults and Keychain
// keep their files below it.
//
//   TempDir home;
//   platform::UserDefaults::standard().setObject("k", 1);  // lands in home.path()

#include <string>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string file(const std::string& relative) const { return path_ + "/" + relative; }
    // Writes `bytes` to path() + "/" + relative, creating the folders on the way.
    void write(const std::string& relative, const std::string& bytes) const;
    // The permission bits of `path` (0 when it does not exist).
    static unsigned permissions(const std::string& path);

  private:
    std::string path_;
};
