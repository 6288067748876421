#pragma once
// A small disc of its own (a tmpfs) mounted over a folder, for tests of a full disc:
//
//   SmallDisc disc(home.file("caches"), 4 << 20);
//   if (!disc.mounted()) GTEST_SKIP() << disc.problem();
//   ASSERT_TRUE(disc.fill());   // no block left
//
// Mounting needs the right to (root, as in CI); where it is missing the test skips with
// problem(). The disc goes (lazily, with what it holds) when the object does, so it must
// be destroyed before the folder's owner removes the folder.

#include <cstdint>
#include <string>

class SmallDisc {
  public:
    SmallDisc(std::string folder, uint64_t bytes);
    ~SmallDisc();
    SmallDisc(const SmallDisc&) = delete;
    SmallDisc& operator=(const SmallDisc&) = delete;

    bool mounted() const { return mounted_; }
    // Why the disc could not be mounted.
    const std::string& problem() const { return problem_; }
    // Fills the disc with the file "fill" until no more than `room` bytes are left free;
    // false when it could not. Again with more room gives some back.
    bool fill(uint64_t room = 0);
    // Removes the fill.
    void makeRoom();
    uint64_t freeBytes() const;

  private:
    std::string folder_;
    bool mounted_ = false;
    std::string problem_;
};
