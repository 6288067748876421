#pragma once
// What the tests of the web-view bars (menu bar, navigation header) share: the appearance
// events a bar page received, and the one animation run that a show or hide starts.
//
//   skipAppearances(*page);
//   ... hide ...
//   appearances(*page) == {"viewWillDisappear [true]", "viewDidDisappear [true]"}
//   EXPECT_TRUE(oneRunOrNone(0.4, "position"));

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Animation.h"
#include "tests/support/ContainerPageDriver.h"

class AppearanceRecord {
  public:
    // The appearance events the page received since the last skip, each with its
    // animated flag.
    std::vector<std::string> appearances(const ContainerPage& page) const {
        std::vector<std::string> found;
        const auto& events = page.events();
        const auto mark = marks_.find(&page);
        for (size_t i = mark == marks_.end() ? 0 : mark->second; i < events.size(); ++i)
            if (events[i].name.rfind("view", 0) == 0)
                found.push_back(events[i].name + " " + events[i].parameters.dump());
        return found;
    }
    void skipAppearances(const ContainerPage& page) { marks_[&page] = page.events().size(); }

  private:
    std::map<const ContainerPage*, size_t> marks_;
};

// The animation log holds one run of `duration` that changes only `keyPath` (any key path
// when null), or, without a duration, no run.
inline ::testing::AssertionResult oneRunOrNone(std::optional<double> duration,
                                               const char* keyPath = nullptr) {
    const auto runs = platform::animationLog();
    if (runs.size() != (duration ? 1u : 0u))
        return ::testing::AssertionFailure() << runs.size() << " runs";
    if (!duration) return ::testing::AssertionSuccess();
    if (runs[0].duration != *duration)
        return ::testing::AssertionFailure() << "a run of " << runs[0].duration << " s";
    if (keyPath && (runs[0].changes.size() != 1 || runs[0].changes[0].second != keyPath))
        return ::testing::AssertionFailure() << runs[0].changes.size() << " changes";
    return ::testing::AssertionSuccess();
}
