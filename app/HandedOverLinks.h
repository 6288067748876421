#pragma once
// The links later starts over the same home folder hand to the running shell (see
// DesktopSession): checked, bounded, held until the library can open links, then
// delivered as the platform's open-URL call, each once and in the order given. Each start
// that asks is answered what became of its link once that is known: taken once the
// library's command batch that carries it has left (the main loop's next turns after the
// delivery), quitting when the shell's stop comes before.
//
//   HandedOverLinks links;          // main thread, before the library's boot block runs
//   links.receive(text, [](HandedOverLinks::Fate fate) { ... });   // any thread
//   links.quit();                   // main thread, once the main loop has ended
//
// The library tells when it can open links (MVLibraryApplicationCanOpenLinksNotification);
// before, it would answer a link and leave it, taking it for the launch link.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"

class HandedOverLinks {
  public:
    // Longer texts are refused; while this many wait for the main loop or the library,
    // more are dropped.
    static constexpr size_t kMaxURLLength = 16 * 1024;
    static constexpr int kMaxWaiting = 64;
    // How long quit() waits for the connection to write links whose batch has left.
    static constexpr std::chrono::milliseconds kWriteTime{500};

    enum class Check { Taken, TooLong, NoURL };
    // What the running shell makes of `text`; a later start checks before it hands over.
    static Check check(std::string_view text);

    // What delivers a link: the platform's open-URL call unless given; answers whether
    // the application opened it.
    using Deliver = std::function<std::optional<bool>(const platform::URL&)>;
    explicit HandedOverLinks(Deliver deliver = {});
    ~HandedOverLinks();
    HandedOverLinks(const HandedOverLinks&) = delete;
    HandedOverLinks& operator=(const HandedOverLinks&) = delete;

    // What became of a link, for the start that handed it over.
    enum class Fate {
        Taken,     // delivered, and sent when the application opened it
        Refused,   // no URL, or too long
        Dropped,   // kMaxWaiting others wait
        Quitting,  // the shell quits before it could deliver it
    };
    // Called once, on any thread.
    using Answer = std::function<void(Fate)>;

    // Any thread: logs what becomes of `text` and answers `answer` once its fate is known:
    // at once when refused, dropped or handed over while the shell quits, else once
    // delivered or when the shell quits before. Answers whether it waits for delivery.
    bool receive(const std::string& text, Answer answer = {});
    // Main thread, once the shell's stop has begun: the links that wait, those delivered
    // whose batch has not left or is not written within kWriteTime, and those handed over
    // from now on are answered Quitting; no more are delivered.
    void quit();

    struct State;

  private:
    std::shared_ptr<State> state_;
};
