#pragma once
// A named exception for programmer misuse, like the platform's named exceptions.
// Assertion failures throw name "NSInternalInconsistencyException" so tests can see them.

#include <stdexcept>
#include <string>

namespace platform {

class Exception : public std::runtime_error {
  public:
    Exception(std::string name, std::string reason)
        : std::runtime_error(name + ": " + reason),
          name_(std::move(name)),
          reason_(std::move(reason)) {}
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }

  private:
    std::string name_;
    std::string reason_;
};

inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";

// Throws an assertion failure when `condition` is false.
inline void assertThat(bool condition, const std::string& description) {
    if (!condition) throw Exception(kInternalInconsistencyException, description);
}

}  // namespace platform
