#pragma once
// A command group for round trips through pages, registered into the 2.0 table like
// the real groups: "testAnswer" ({"event": NSString, "+params": NSArray}) records that it
// ran and answers the sending web view with that event; "testOnload" (no parameters)
// tells the sending web view that the page has loaded, as the page's onload command does.
//
//   registerCommandHandlerClasses();
//   registerPageRoundTripCommands();
//   // the page: mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'pong'}}]})
//   pageRoundTrips().back().webView;   // the sender, which got MVEvent.__call("pong",[])

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class MVWebView;

struct PageRoundTrip {
    MVWebView* webView = nullptr;  // the sender; null for native senders
    std::string event;
    nlohmann::json params;  // always an array
    // testAnswer commands running while this one ran, itself included: 1 unless a
    // command re-entered another.
    int depth = 0;
};

void registerPageRoundTripCommands();
std::vector<PageRoundTrip>& pageRoundTrips();
