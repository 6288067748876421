#pragma once
// The host's ties to the desktop through GIO, on a GLib context and thread of their own
// (whichever engine runs the main loop):
// - one running shell per home folder: the shell, which holds the home folder (see
//   HomeFolderLock), registers on the session bus under applicationId(); a later start
//   over the same home hands its URL, as given, to the running one and learns what
//   became of it: the method OpenLink (its bytes) answered "taken" once the running shell
//   delivered it as the platform's open-URL call (see HandedOverLinks), "dropped" or
//   "refused" at once, or "quitting"; a shell without that method gets the GApplication
//   action "open-link" and tells nothing;
// - the system's low-memory warnings (GMemoryMonitor's "low-memory-warning") become the
//   platform's memory warning.
// Without a session bus a later start reaches no running shell.
//
//   DesktopSession desktop;
//   if (homeHeldElsewhere)
//       switch (desktop.handOver(id, url, DesktopSession::kHandOverTime)) ...
//   if (desktop.claimHome(DesktopSession::applicationId(bundleId, home), url) ==
//       DesktopSession::Claim::HandedOver)
//       return 0;
//   desktop.watchMemoryWarnings();
//   ... the main loop ...
//   desktop.quit();
//
// What reaches the application is posted to the main run loop. Main thread; make it
// before the library's launch.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/HandedOverLinks.h"

class DesktopSession {
  public:
    enum class Claim {
        Alone,       // no session bus, no registration or no running shell: nothing is shared
        Running,     // this start is the home's running shell
        HandedOver,  // another shell runs over the home and took this start's URL (or, an
                     // older one, was handed it), or was shown without one
        Dropped,     // another shell runs over the home and dropped or refused the URL
        Quitting,    // the shell over the home quits, or left the bus, before it took the URL
        Unanswered,  // the running shell did not tell what became of the URL
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
    // Where the running shell answers OpenLink (bytes in, its answer out), beside the
    // application's own objects.
    static constexpr const char* kLinksInterface = "com.merovane.HandedOverLinks";
    static std::string linksPath(const std::string& applicationId);

    // For the start that holds the home folder. Waits for the session bus at most as long
    // as its calls take (their time-out).
    Claim claimHome(const std::string& applicationId, const std::optional<std::string>& url);
    // For a later start while another process holds the home folder: hands the URL (or,
    // without one, a call to show itself) to the shell running as `applicationId`, never
    // taking its place on the bus, and logs what became of it. Alone when no running shell
    // was reached within `bound`: no session bus, none on it, or one that does not answer
    // (stopped or stuck); a reached shell has kAnswerTime to tell what became of the URL.
    // While none is on the bus, `homeStillHeld` (any thread) tells whether to look on.
    static constexpr std::chrono::seconds kHandOverTime{3};
    static constexpr std::chrono::seconds kAnswerTime{20};
    Claim handOver(const std::string& applicationId, const std::optional<std::string>& url,
                   std::chrono::milliseconds bound, std::function<bool()> homeStillHeld = {});
    void watchMemoryWarnings();
    // The running shell quits (its main loop has ended): URLs handed over from now on, and
    // those not yet opened, are answered "quitting". Also done when the session goes,
    // before the shell leaves the bus.
    void quit();
    // Quits, leaves the bus and ends the session's thread, as the destructor does; the
    // session does nothing more. For a run that ends without returning from main.
    void end();

    // What the memory monitor's signal does: the platform's memory warning, at the main
    // run loop's next turn. Any thread.
    static void lowMemoryWarning(int level);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};
