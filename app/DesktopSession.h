#pragma once
// The host's ties to the desktop through GIO, on a GLib context and thread of their own
// (whichever engine runs the main loop):
// - one running shell per home folder: the shell, which holds the home folder (see
//   HomeFolderLock), registers on the session bus under applicationId(); a later start
//   over the same home hands its URL, as given, to the running one (the GApplication
//   action "open-link", its bytes) and ends; the running shell delivers it as the
//   platform's open-URL call once the library can open links (see HandedOverLinks);
// - the system's low-memory warnings (GMemoryMonitor's "low-memory-warning") become the
//   platform's memory warning.
// Without a session bus a later start reaches no running shell.
//
//   DesktopSession desktop;
//   if (homeHeldElsewhere)
//       return desktop.handOver(id, url, DesktopSession::kHandOverTime) ? 0 : 1;
//   if (desktop.claimHome(DesktopSession::applicationId(bundleId, home), url) ==
//       DesktopSession::Claim::HandedOver)
//       return 0;
//   desktop.watchMemoryWarnings();
//
// What reaches the application is posted to the main run loop. Main thread; make it
// before the library's launch.

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "app/HandedOverLinks.h"

class DesktopSession {
  public:
    enum class Claim {
        Alone,       // no session bus or no registration: nothing is shared
        Running,     // this start is the home's running shell
        HandedOver,  // another shell runs over the home and has this start's URL
    };

    // URLs handed over by later starts: longer ones are refused, and while this many wait,
    // more are dropped.
    static constexpr size_t kMaxHandedOverURLLength = HandedOverLinks::kMaxURLLength;
    static constexpr int kMaxPendingURLs = HandedOverLinks::kMaxWaiting;

    DesktopSession();
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // The bus name of the shell: the bundle identifier for the default home folder;
    // for a home folder set apart (MEROVANE_HOME, `home` when not empty) the identifier
    // followed by ".h" and 16 hexadecimal digits of a hash of that folder's absolute
    // path, links resolved.
    static std::string applicationId(const std::string& bundleIdentifier, const std::string& home);

    // For the start that holds the home folder. Waits for the session bus at most as long
    // as its calls take (their time-out).
    Claim claimHome(const std::string& applicationId, const std::optional<std::string>& url);
    // For a later start while another process holds the home folder: hands the URL (or,
    // without one, a call to show itself) to the shell running as `applicationId`, never
    // taking its place on the bus. False, logged, when no running shell took it within
    // `bound`: no session bus, none on it, or one that does not answer (stopped or stuck).
    static constexpr std::chrono::seconds kHandOverTime{3};
    bool handOver(const std::string& applicationId, const std::optional<std::string>& url,
                  std::chrono::milliseconds bound);
    void watchMemoryWarnings();

    // What the memory monitor's signal does: the platform's memory warning, at the main
    // run loop's next turn. Any thread.
    static void lowMemoryWarning(int level);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};
