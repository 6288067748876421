#pragma once
// Walks one controller's or page's appearance events through the order they may come in:
// will-appear, did-appear, will-disappear, did-disappear, where a will-event may turn the
// movement back before its did-event.
//
//   appearanceAfter({"viewWillAppear", "viewDidAppear"}) == "appeared"
//   appearanceAfter({"viewDidAppear"}) == "viewDidAppear while disappeared"
//
// Names with or without the "view" prefix ("willAppear") are read alike.

#include <map>
#include <string>
#include <utility>
#include <vector>

// The state the events leave behind, starting from `state` ("disappeared", "appearing",
// "appeared", "disappearing"); at the first event out of turn, that event and the state
// it came in.
inline std::string appearanceAfter(const std::vector<std::string>& events,
                                   std::string state = "disappeared") {
    static const std::map<std::pair<std::string, std::string>, std::string> next{
        {{"disappeared", "willAppear"}, "appearing"},
        {{"appearing", "didAppear"}, "appeared"},
        {{"appearing", "willDisappear"}, "disappearing"},
        {{"appeared", "willDisappear"}, "disappearing"},
        {{"disappearing", "didDisappear"}, "disappeared"},
        {{"disappearing", "willAppear"}, "appearing"},
    };
    for (const auto& event : events) {
        std::string name = event;
        if (name.rfind("view", 0) == 0 && name.size() > 4) {
            name = name.substr(4);
            name[0] = char(name[0] - 'A' + 'a');
        }
        const auto found = next.find({state, name});
        if (found == next.end()) return event + " while " + state;
        state = found->second;
    }
    return state;
}
