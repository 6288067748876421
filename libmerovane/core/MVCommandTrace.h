#pragma once
// Tells a host which commands the library performs and which it sends to the server, for
// a log of a run:
//
//   MVCommandTrace::setObserver([](MVCommandTrace::Direction direction,
//                                  std::string_view version, std::string_view name) {
//       ...  // any thread
//   });
//
// One observer for the process. It is called on the thread that performs or sends, so it
// must be thread-safe and quick; what it throws is logged and dropped. Without an
// observer a record costs one atomic load.

#include <functional>
#include <string_view>

class MVCommandTrace {
  public:
    enum class Direction {
        Sent,        // to the server, as its batch leaves
        FromServer,  // performed, from the server or from a command list of the server's
        FromPage,    // performed, from a web view
    };
    using Observer =
        std::function<void(Direction direction, std::string_view version, std::string_view name)>;

    // None stops the tracing.
    static void setObserver(Observer observer);
    static void record(Direction direction, std::string_view version, std::string_view name);
    // "up", "down", "page".
    static const char* directionName(Direction direction);
};
