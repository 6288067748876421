#pragma once
// The library's resource bundle, "libmerovane.bundle" in the main bundle, located once
// per process. It must be there and carry the library's version as its short version
// string; otherwise a packaging error is raised:
//
//   const platform::Bundle& bundle = libmerovaneBundle();   // or throws MVLibraryBundleException
//
// Thread-safe.

#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Exception.h"

inline constexpr const char* MVLibraryBundleNotFoundException = "MVLibraryBundleNotFoundException";
inline constexpr const char* MVLibraryBundleVersionMismatchException =
    "MVLibraryBundleVersionMismatchException";

// A packaging error: the exception's name and reason, and the text that tells the
// developer what to do.
class MVLibraryBundleException : public platform::Exception {
  public:
    MVLibraryBundleException(std::string name, std::string reason, std::string text)
        : platform::Exception(std::move(name), std::move(reason)), text_(std::move(text)) {}
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

const platform::Bundle& libmerovaneBundle();
