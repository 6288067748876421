#include "app/DesktopSession.h"

#include <fmt/format.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/HandedOverLinks.h"
#include "app/LogText.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"

namespace {

// FNV-1a: the same name for the same folder, whatever built the shell.
uint64_t stableHash(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// GLib would try to start a bus of its own without one of these.
bool hasSessionBus() {
    if (const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return true;
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    return runtime && *runtime && ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 &&
           S_ISSOCK(info.st_mode);
}

// How often a later start looks again for a running shell not yet on the bus.
constexpr gulong kNoShellYetRetryMicros = 100 * 1000;

// The action through which a later start hands its URL to a shell that cannot answer
// OpenLink: the bytes as given, where a file's URI ("open") would be normalised on the way.
constexpr const char* kOpenLinkAction = "open-link";

// The method through which a later start hands over its URL and learns what became of it.
constexpr const char* kLinksXml =
    "<node><interface name='com.merovane.HandedOverLinks'><method name='OpenLink'>"
    "<arg type='ay' name='url' direction='in'/><arg type='s' name='fate' direction='out'/>"
    "</method></interface></node>";
// How long the quitting shell waits for the bus to let go of its name, and how many turns
// it then gives what was already on its way.
constexpr gint kReleaseNameMillis = 2000;
constexpr int kDrainTurns = 1000;

const char* fateName(HandedOverLinks::Fate fate) {
    switch (fate) {
        case HandedOverLinks::Fate::Taken:
            return "taken";
        case HandedOverLinks::Fate::Refused:
            return "refused";
        case HandedOverLinks::Fate::Dropped:
            return "dropped";
        case HandedOverLinks::Fate::Quitting:
            break;
    }
    return "quitting";
}

// Errors of a call to a running shell that has no OpenLink.
bool noSuchMethod(const GError* error) {
    return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE);
}

// Errors of a call to a shell that left the bus before it answered.
bool leftTheBus(const GError* error) {
    return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY);
}

}  // namespace

struct DesktopSession::Impl {
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    std::thread thread;
    // Used on the GLib thread only.
    GApplication* application = nullptr;
    GMemoryMonitor* monitor = nullptr;
    gulong warnedHandler = 0;
    GDBusNodeInfo* linksInfo = g_dbus_node_info_new_for_xml(kLinksXml, nullptr);
    GDBusConnection* linksBus = nullptr;
    guint linksObject = 0;
    std::string runningAs;  // the bus name, once this is the running shell
    // For a later start: whether the shell it looks for still holds the home folder.
    std::function<bool()> homeStillHeld;
    // Made on the main thread with the session, before the library's boot block runs.
    HandedOverLinks links;

    struct Call {
        const std::function<void()>* work;
        std::promise<void> done;
    };
    // Calls go over under a lock of ours, not only GLib's, which ThreadSanitizer cannot see.
    std::mutex handoverMutex;
    std::deque<Call*> handedOver;

    // Runs `work` on the GLib thread and waits for it; after `bound`, when given, cancels
    // `cancellable` and waits for the work to see it.
    void call(const std::function<void()>& work,
              std::optional<std::chrono::milliseconds> bound = std::nullopt,
              GCancellable* cancellable = nullptr) {
        Call pending{&work, {}};
        auto finished = pending.done.get_future();
        {
            const std::lock_guard<std::mutex> lock(handoverMutex);
            handedOver.push_back(&pending);
        }
        g_main_context_invoke(
            context,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<Impl*>(data);
                Call* c = nullptr;
                {
                    const std::lock_guard<std::mutex> lock(self->handoverMutex);
                    c = self->handedOver.front();
                    self->handedOver.pop_front();
                }
                (*c->work)();
                c->done.set_value();
                return G_SOURCE_REMOVE;
            },
            this);
        if (bound && finished.wait_for(*bound) == std::future_status::timeout)
            g_cancellable_cancel(cancellable);
        finished.wait();
    }

    // Other programs may still open a URI the GApplication way.
    static void opened(GApplication*, GFile** files, gint count, gchar*, gpointer data) {
        for (gint i = 0; i < count; ++i) {
            gchar* uri = g_file_get_uri(files[i]);
            static_cast<Impl*>(data)->links.receive(uri);
            g_free(uri);
        }
    }

    static void linkGiven(GSimpleAction*, GVariant* parameter, gpointer data) {
        gsize size = 0;
        const auto* bytes =
            static_cast<const char*>(g_variant_get_fixed_array(parameter, &size, sizeof(char)));
        static_cast<Impl*>(data)->links.receive(std::string(bytes ? bytes : "", size));
    }

    static void linkCalled(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        GVariant* url = g_variant_get_child_value(parameters, 0);
        gsize size = 0;
        const auto* bytes =
            static_cast<const char*>(g_variant_get_fixed_array(url, &size, sizeof(char)));
        std::string text(bytes ? bytes : "", size);
        g_variant_unref(url);
        static_cast<Impl*>(data)->links.receive(text, [invocation](HandedOverLinks::Fate fate) {
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", fateName(fate)));
        });
    }

    // OpenLink, on the bus connection GApplication takes too, before it takes the name.
    void exportLinks(const std::string& id) {
        static const GDBusInterfaceVTable vtable = {linkCalled, nullptr, nullptr, {}};
        GError* error = nullptr;
        linksBus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (linksBus)
            linksObject = g_dbus_connection_register_object(linksBus, linksPath(id).c_str(),
                                                            linksInfo->interfaces[0], &vtable, this,
                                                            nullptr, &error);
        if (!linksObject) {
            MVLogWarn("Later starts cannot learn what becomes of their links: {}",
                      error ? error->message : "");
            g_clear_object(&linksBus);
        }
        g_clear_error(&error);
    }

    void unexportLinks() {
        if (linksObject) g_dbus_connection_unregister_object(linksBus, linksObject);
        linksObject = 0;
        g_clear_object(&linksBus);
    }

    // Lets go of the name before the home folder, with what was already on its way to it
    // answered "quitting".
    void leaveTheBus() {
        GDBusConnection* bus = application && !runningAs.empty()
                                   ? g_application_get_dbus_connection(application)
                                   : nullptr;
        if (bus) {
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "ReleaseName", g_variant_new("(s)", runningAs.c_str()), G_VARIANT_TYPE("(u)"),
                G_DBUS_CALL_FLAGS_NONE, kReleaseNameMillis, nullptr, &error);
            if (reply) g_variant_unref(reply);
            if (error) MVLogWarn("The shell could not leave the session bus: {}", error->message);
            g_clear_error(&error);
            // The calls that reached it before it let go are waiting on this context.
            for (int turn = 0; turn < kDrainTurns && g_main_context_iteration(context, FALSE);
                 ++turn) {
            }
        }
        unexportLinks();
        g_clear_object(&application);
    }

    // A later start's URL to the running shell, and what became of it.
    Claim handLink(const std::string& id, const std::string& url) {
        GDBusConnection* bus = g_application_get_dbus_connection(application);
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus, id.c_str(), linksPath(id).c_str(), kLinksInterface, "OpenLink",
            g_variant_new(
                "(@ay)", g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, url.data(), url.size(), 1)),
            G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
            static_cast<gint>(std::chrono::milliseconds(kAnswerTime).count()), nullptr, &error);
        Claim result = Claim::Unanswered;
        if (reply) {
            const gchar* fate = nullptr;
            g_variant_get(reply, "(&s)", &fate);
            const std::string_view said = fate;
            if (said == "taken") {
                MVLogInfo("The shell runs already over this home folder: handed it {}",
                          logText(url));
                result = Claim::HandedOver;
            } else if (said == "dropped" || said == "refused") {
                MVLogError("The shell runs already over this home folder and {} {}{}",
                           said == "dropped" ? "dropped" : "refused", logText(url),
                           said == "dropped" ? ": too many links wait there" : "");
                result = Claim::Dropped;
            } else if (said == "quitting") {
                MVLogInfo(
                    "The shell over this home folder quits before opening {}: this start "
                    "waits for it to end",
                    logText(url));
                result = Claim::Quitting;
            } else {
                MVLogError("The running shell answered \"{}\" for {}", logText(std::string(said)),
                           logText(url));
            }
            g_variant_unref(reply);
        } else if (noSuchMethod(error)) {
            // An older shell: the old road, which tells nothing.
            g_action_group_activate_action(
                G_ACTION_GROUP(application), kOpenLinkAction,
                g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, url.data(), url.size(), 1));
            g_clear_error(&error);
            if (!g_dbus_connection_flush_sync(bus, nullptr, &error)) {
                MVLogError("The running shell may not have {}: {}", logText(url),
                           error ? error->message : "");
            } else {
                MVLogWarn(
                    "The shell runs already over this home folder: handed it {}, but that "
                    "shell does not tell what became of it",
                    logText(url));
                result = Claim::HandedOver;
            }
        } else if (leftTheBus(error)) {
            MVLogInfo(
                "The shell over this home folder left the session bus before it took {}: this "
                "start waits for it to end",
                logText(url));
            result = Claim::Quitting;
        } else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
            MVLogError("The running shell did not tell within {} s what became of {}",
                       kAnswerTime.count(), logText(url));
        } else {
            MVLogError("The running shell did not tell what became of {}: {}", logText(url),
                       error ? error->message : "");
        }
        g_clear_error(&error);
        return result;
    }

    static void activated(GApplication*, gpointer) {
        MVLogInfo("Another start over this home folder found the shell running");
    }

    static void warned(GMemoryMonitor*, GMemoryMonitorWarningLevel level, gpointer) {
        lowMemoryWarning(static_cast<int>(level));
    }

    // Registers as `id`: as the running shell or, with `later`, only as a later start that
    // reaches one; that start waits for a running shell to come on the bus until `later`
    // is cancelled.
    bool registerOnBus(const std::string& id, GCancellable* later) {
        GError* error = nullptr;
        for (;;) {
            application = g_application_new(
                id.c_str(),
                later ? GApplicationFlags(G_APPLICATION_HANDLES_OPEN | G_APPLICATION_IS_LAUNCHER)
                      : G_APPLICATION_HANDLES_OPEN);
            g_signal_connect(application, "open", G_CALLBACK(opened), this);
            g_signal_connect(application, "activate", G_CALLBACK(activated), nullptr);
            GSimpleAction* openLink =
                g_simple_action_new(kOpenLinkAction, G_VARIANT_TYPE_BYTESTRING);
            g_signal_connect(openLink, "activate", G_CALLBACK(linkGiven), this);
            g_action_map_add_action(G_ACTION_MAP(application), G_ACTION(openLink));
            g_object_unref(openLink);
            if (g_application_register(application, later, &error)) return true;
            g_clear_object(&application);
            const bool noShellYet =
                g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
            if (!later || !noShellYet) break;
            if (homeStillHeld && !homeStillHeld()) {
                MVLogInfo("The shell over this home folder has ended before this start reached it");
                g_clear_error(&error);
                return false;
            }
            g_usleep(kNoShellYetRetryMicros);
            if (g_cancellable_is_cancelled(later)) break;
            g_clear_error(&error);
        }
        if (!later)
            MVLogWarn("The shell runs alone: it could not register as {} on the session bus: {}",
                      id, error ? error->message : "");
        else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
            MVLogError("The running shell does not answer on the session bus as {}", id);
        else
            MVLogError("No running shell takes this start on the session bus as {}: {}", id,
                       error ? error->message : "");
        g_clear_error(&error);
        return false;
    }

    // `later`: a later start over a home folder that another process holds.
    Claim claim(const std::string& id, const std::optional<std::string>& url,
                GCancellable* later = nullptr) {
        if (!hasSessionBus()) {
            MVLogInfo("No session bus: this start does not look for a running shell");
            return Claim::Alone;
        }
        if (!g_application_id_is_valid(id.c_str())) {
            MVLogError("\"{}\" is no application name for the session bus", logText(id));
            return Claim::Alone;
        }
        g_clear_object(&application);
        if (!later) exportLinks(id);
        if (!registerOnBus(id, later)) {
            unexportLinks();
            return Claim::Alone;
        }
        if (!g_application_get_is_remote(application)) {
            MVLogInfo("The shell runs as {} on the session bus", id);
            runningAs = id;
            return Claim::Running;
        }
        unexportLinks();
        const auto check = url ? HandedOverLinks::check(*url) : HandedOverLinks::Check::NoURL;
        if (check == HandedOverLinks::Check::Taken) return handLink(id, *url);
        g_application_activate(application);
        GError* error = nullptr;
        if (GDBusConnection* bus = g_application_get_dbus_connection(application);
            bus && !g_dbus_connection_flush_sync(bus, nullptr, &error)) {
            MVLogError("The running shell may not have been shown: {}",
                       error ? error->message : "");
            g_clear_error(&error);
        }
        if (check == HandedOverLinks::Check::TooLong) {
            MVLogError(
                "The shell runs already over this home folder and takes no URL of {} bytes "
                "(at most {}): shown without it",
                url->size(), HandedOverLinks::kMaxURLLength);
        } else {
            MVLogInfo("The shell runs already over this home folder: {}",
                      url ? "shown without \"" + logText(*url) + "\", which is no URL"
                          : std::string("shown"));
        }
        return Claim::HandedOver;
    }
};

DesktopSession::DesktopSession() : impl_(std::make_unique<Impl>()) {
    impl_->thread = std::thread([impl = impl_.get()] {
        g_main_context_push_thread_default(impl->context);
        g_main_loop_run(impl->loop);
        g_main_context_pop_thread_default(impl->context);
    });
}

DesktopSession::~DesktopSession() {
    end();
    g_dbus_node_info_unref(impl_->linksInfo);
    g_main_loop_unref(impl_->loop);
    g_main_context_unref(impl_->context);
}

void DesktopSession::quit() {
    impl_->links.quit();
}

void DesktopSession::end() {
    if (!impl_->thread.joinable()) return;
    quit();
    impl_->call([impl = impl_.get()] {
        if (impl->monitor) g_signal_handler_disconnect(impl->monitor, impl->warnedHandler);
        g_clear_object(&impl->monitor);
        impl->leaveTheBus();
        g_main_loop_quit(impl->loop);
    });
    impl_->thread.join();
}

std::string DesktopSession::applicationId(const std::string& bundleIdentifier,
                                          const std::string& home) {
    if (home.empty()) return bundleIdentifier;
    std::error_code error;
    const auto absolute = std::filesystem::absolute(home, error);
    const auto canonical = error ? absolute : std::filesystem::weakly_canonical(absolute, error);
    std::string folder = error ? home : canonical.string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return fmt::format("{}.h{:016x}", bundleIdentifier, stableHash(folder));
}

std::string DesktopSession::linksPath(const std::string& applicationId) {
    std::string path = "/" + applicationId + "/links";
    for (char& c : path) {
        if (c == '.') c = '/';
        if (c == '-') c = '_';
    }
    return path;
}

DesktopSession::Claim DesktopSession::claimHome(const std::string& applicationId,
                                                const std::optional<std::string>& url) {
    Claim result = Claim::Alone;
    impl_->call([&] { result = impl_->claim(applicationId, url); });
    return result;
}

DesktopSession::Claim DesktopSession::handOver(const std::string& applicationId,
                                               const std::optional<std::string>& url,
                                               std::chrono::milliseconds bound,
                                               std::function<bool()> homeStillHeld) {
    impl_->homeStillHeld = std::move(homeStillHeld);
    GCancellable* cancellable = g_cancellable_new();
    Claim result = Claim::Alone;
    impl_->call([&] { result = impl_->claim(applicationId, url, cancellable); }, bound,
                cancellable);
    g_object_unref(cancellable);
    return result;
}

void DesktopSession::watchMemoryWarnings() {
    impl_->call([impl = impl_.get()] {
        if (impl->monitor) return;
        impl->monitor = g_memory_monitor_dup_default();
        impl->warnedHandler = g_signal_connect(impl->monitor, "low-memory-warning",
                                               G_CALLBACK(Impl::warned), nullptr);
    });
}

void DesktopSession::lowMemoryWarning(int level) {
    platform::RunLoop::main().post([level] {
        MVLogWarn("The system is low on memory (level {}): memory warning", level);
        platform::Application::shared().receiveMemoryWarning();
    });
}
