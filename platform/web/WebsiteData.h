#pragma once
// What web pages keep beside the cookie store (web storage, IndexedDB, the engine's own
// caches): the engine in use registers how to remove it, and the application clears it
// with its stored state.
//
//   platform::WebsiteData::removeAll();
//
// Main thread only.

#include <functional>

namespace platform {

class WebsiteData {
  public:
    // Replaces the engine's remover; none: there is nothing to remove.
    static void setRemover(std::function<void()> remover);
    // Removes it all, the engine's work done on later turns; nothing without an engine.
    static void removeAll();
};

}  // namespace platform
