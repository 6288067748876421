#pragma once
// What the shell's stop keeps on disc, written in order: the settings, the web cache's
// files its entries name (waited for up to a bound), then the store's saved changes. An
// entry whose file is not on disc then (its write failed, or still runs at the bound) is
// dropped before the store writes, so that no stored entry names a missing file.
//
//   const auto kept = KeptAtTheStop::write(bound, true);
//   if (!kept.everything()) MVLogError("... {}", kept.lost());

#include <cstddef>
#include <string>

class KeptAtTheStop {
  public:
    struct Outcome {
        bool settings = true;       // the settings file is written
        bool files = true;          // the web cache's file work ended within the bound
        size_t droppedEntries = 0;  // web cache entries dropped for want of their files
        bool store = true;          // the store wrote every change saved
        bool everything() const { return settings && files && droppedEntries == 0 && store; }
        // What was not kept, for the stop's line; empty when everything was.
        std::string lost() const;
    };

    // Main thread, or the stop's overrun thread; waits up to `fileBound` seconds for the
    // web cache's file work. The entries are checked only when the store has opened.
    static Outcome write(double fileBound, bool storeOpened);

    // Drops every web cache entry whose file lies in neither of its folders (a move
    // between them the stop skipped leaves it in the other one, where a read finds it);
    // answers how many went.
    static size_t dropEntriesWithoutFiles();
};
