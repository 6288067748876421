// What a page command leaves in the shell, by each road, over the real engine: a page floods
// MVWebView with a command that does nothing but count, and the resident memory of the
// shell's process, and of each of the engine's, is read before, at the peak, and once the
// flood has settled. The roads:
//   channel   the page library's channel (the baseline);
//   location  top-frame navigations to "mvcmd:", each once the one before was taken (as a
//             page without the library sends, a heartbeat as much as a busy page);
//   burst     a top-frame navigation to "mvcmd:" every task, whatever became of the one
//             before: WebKit keeps a record of each one a newer one overtook before its
//             refusal reached the page, for as long as the view lives;
//   webkit    the burst in a bare engine view without the shell, each navigation refused at
//             once: the engine's own share.
//
//   bench_webkit_command_memory [--commands=N] [--roads=channel,location,burst,webkit]
//   (100,000 commands a road by default)
//
// Needs a display: scripts/test runs it through tests/platform/webkit/with-display.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BenchRateReporter.h"
#include "bench/ResidentMemory.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "platform/foundation/TestDriver.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/PollingWait.h"

namespace {

constexpr double kPatience = 600.0;
bool engineAvailable = false;
long gCommands = 100000;
long gCounted = 0;
// The navigation road sends its next command once told that the one before was taken.
bool gPaced = false;
std::vector<std::string> gRoads = {"channel", "location", "burst", "webkit"};

void setUp() {
    engineAvailable = platform::WebKitGtkWebEngine::isAvailable();
}

// The page: flood(road, n) sends n commands numbered from its next serial; by the channel
// a thousand a task, by a navigation one a task, the next once the one before was taken
// up (WebKit follows one navigation of the top frame a task).
constexpr const char* kPage = R"(<!DOCTYPE html><html><body><script>
var serial = 0;
function address() {
  return 'mvcmd:' + encodeURIComponent(JSON.stringify({ver: '2.0', cmds: [{c: 'benchCount', s: serial++}]}));
}
var waiting = 0;
window.taken = function () { waiting = 0; };
function flood(road, n) {
  var left = n;
  window.floodLeft = left;
  var channel = new MessageChannel();
  channel.port1.onmessage = function () {
    if (left <= 0) return;
    if (road === 'channel') {
      for (var i = 0; i < 1000 && left > 0; i++, left--) __mvCommandChannel(address());
    } else if (road === 'burst') {
      left--;
      location.href = address();
    } else if (!waiting) {
      waiting = 1;
      left--;
      location.href = address();
    }
    window.floodLeft = left;
    channel.port2.postMessage(0);
  };
  channel.port2.postMessage(0);
}
</script></body></html>)";

struct Flood {
    std::shared_ptr<MVWebView> webView;
};

// The same page in a bare engine view, without the shell: each navigation to "mvcmd:" is
// refused at once and counted, nothing performed. What it keeps is the engine's own.
struct BareFlood {
    GtkWidget* window = nullptr;
    WebKitWebView* view = nullptr;
    long refused = 0;
};

gboolean refuseCommand(WebKitWebView*, WebKitPolicyDecision* decision,
                       WebKitPolicyDecisionType type, gpointer data) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (!uri || std::strncmp(uri, "mvcmd:", 6) != 0) return FALSE;
    ++static_cast<BareFlood*>(data)->refused;
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

// The page's answer to `script`, empty when it has none within kPatience.
std::string bareEvaluate(BareFlood& p, const std::string& script) {
    struct Answer {
        bool done = false;
        std::string text;
    };
    auto* answer = new Answer;
    webkit_web_view_evaluate_javascript(
        p.view, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* view, GAsyncResult* result, gpointer data) {
            auto* answer = static_cast<Answer*>(data);
            if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view),
                                                                             result, nullptr)) {
                char* text = jsc_value_to_string(value);
                answer->text = text ? text : "";
                g_free(text);
                g_object_unref(value);
            }
            answer->done = true;
        },
        answer);
    platform::runUntil([answer] { return answer->done; }, kPatience);
    std::string text = answer->done ? answer->text : std::string();
    // An answer still coming finds its record: it is kept for good then.
    if (answer->done) delete answer;
    return text;
}

BareFlood* bareFloodPage() {
    static BareFlood* shared = [] {
        auto* p = new BareFlood;
        p->window = gtk_offscreen_window_new();
        p->view = WEBKIT_WEB_VIEW(webkit_web_view_new());
        gtk_container_add(GTK_CONTAINER(p->window), GTK_WIDGET(p->view));
        gtk_widget_show_all(p->window);
        g_signal_connect(p->view, "decide-policy", G_CALLBACK(refuseCommand), p);
        webkit_web_view_load_html(p->view, kPage, "http://shop.invalid/");
        platform::runUntil([p] { return bareEvaluate(*p, "typeof flood") == "function"; }, 30);
        return p;
    }();
    return shared;
}

Flood* floodPage() {
    static Flood* shared = [] {
        registerCommandHandlerClasses();
        MVCommandHandler_2_0::commandTable().add(
            "benchCount", {MVSpec{}, [](MVCommandHandler&, nlohmann::json*,
                                        const std::shared_ptr<MVWebView>& webView) {
                               ++gCounted;
                               // The navigation road's next command goes once this one is taken.
                               if (webView && gPaced)
                                   webView->webView()->evaluateJavaScript("taken()");
                           }});
        platform::WebView::setEngineFactory(
            [] { return std::make_unique<platform::WebKitGtkWebEngine>(); });
        auto* p = new Flood;
        p->webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
        p->webView->loadHTMLString(kPage, platform::URL::parse("http://shop.invalid/"));
        runUntilPolled([p] { return !p->webView->isLoading(); }, 30);
        return p;
    }();
    return shared;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

size_t residentBytesOf(pid_t pid) {
    long pages = 0, resident = 0;
    const std::string path = "/proc/" + std::to_string(pid) + "/statm";
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// The engine's processes: every process below this one, with its name.
std::map<pid_t, std::string> engineProcesses() {
    std::map<pid_t, pid_t> parents;
    std::map<pid_t, std::string> names;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
            if (pid <= 0) continue;
            const std::string path = "/proc/" + std::to_string(pid) + "/stat";
            FILE* f = std::fopen(path.c_str(), "r");
            if (!f) continue;
            char line[512] = {};
            const size_t got = std::fread(line, 1, sizeof line - 1, f);
            std::fclose(f);
            const std::string_view text(line, got);
            const auto open = text.find('('), close = text.rfind(')');
            if (open == std::string_view::npos || close == std::string_view::npos) continue;
            parents[pid] = static_cast<pid_t>(std::atol(line + close + 4));
            names[pid] = std::string(text.substr(open + 1, close - open - 1));
        }
        closedir(proc);
    }
    std::map<pid_t, std::string> below;
    std::set<pid_t> reached = {getpid()};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [pid, parent] : parents)
            if (reached.count(parent) && reached.insert(pid).second) {
                below[pid] = names[pid];
                grew = true;
            }
    }
    return below;
}

// Resident memory of the shell's process and of each of the engine's.
struct Memory {
    size_t shell = 0;
    std::map<std::string, size_t> engine;

    static Memory now() {
        Memory m;
        m.shell = residentBytes();
        for (const auto& [pid, name] : engineProcesses()) m.engine[name] += residentBytesOf(pid);
        return m;
    }
    void keepPeak(const Memory& other) {
        shell = std::max(shell, other.shell);
        for (const auto& [name, bytes] : other.engine) engine[name] = std::max(engine[name], bytes);
    }
};

// Keeps the peak of resident memory, read every 0.2 s at most.
class PeakSampler {
  public:
    explicit PeakSampler(Memory& peak) : peak_(peak) {}
    void operator()() {
        if (seconds(sampled_) < 0.2) return;
        sampled_ = std::chrono::steady_clock::now();
        peak_.keepPeak(Memory::now());
    }

  private:
    Memory& peak_;
    std::chrono::steady_clock::time_point sampled_ = std::chrono::steady_clock::now();
};

// The bare view's burst: sent when the page has sent them all.
bool floodBare(BareFlood& p, long count, Memory& peak) {
    PeakSampler sample(peak);
    bareEvaluate(p, "flood('burst', " + std::to_string(count) + "); 0");
    const bool done = platform::runUntil(
        [&] {
            sample();
            return bareEvaluate(p, "floodLeft") == "0";
        },
        kPatience);
    peak.keepPeak(Memory::now());
    return done;
}

// Sends `count` commands by `road` and waits until they are counted, keeping the peak of
// resident memory meanwhile; false when they are not within kPatience.
bool floodBy(Flood& p, const std::string& road, long count, Memory& peak) {
    if (road == "webkit") return floodBare(*bareFloodPage(), count, peak);
    const long target = gCounted + count;
    gPaced = road == "location";
    auto& page = *p.webView->webView();
    page.stringByEvaluatingJavaScriptFromString("flood('" + road + "', " + std::to_string(count) +
                                                "); 0");
    PeakSampler sample(peak);
    // A burst sends a navigation every task, whether the one before was taken or not: WebKit
    // drops those a newer one replaces, so it ends when the page has sent them all.
    const bool done =
        road == "burst"
            ? platform::runUntil(
                  [&] {
                      sample();
                      return page.stringByEvaluatingJavaScriptFromString("floodLeft") == "0";
                  },
                  kPatience)
            : platform::runUntil(
                  [&] {
                      sample();
                      return gCounted >= target;
                  },
                  kPatience);
    peak.keepPeak(Memory::now());
    return done;
}

void idle(double forSeconds) {
    platform::runUntil([] { return false; }, forSeconds);
}

double mb(size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

std::string engineFigures(const Memory& before, const Memory& peak, const Memory& after) {
    std::string text;
    for (const auto& process : after.engine) {
        const std::string& name = process.first;
        char row[160];
        const auto at = [&name](const Memory& m) {
            auto it = m.engine.find(name);
            return it == m.engine.end() ? 0.0 : mb(it->second);
        };
        std::snprintf(row, sizeof row, "\n           %-22s %7.1f %7.1f %7.1f MB", name.c_str(),
                      at(before), at(peak), mb(process.second));
        text += row;
    }
    return text;
}

void BM_CommandMemoryByRoad(benchmark::State& state) {
    if (!engineAvailable) return state.SkipWithError("no display");
    auto* p = floodPage();
    std::map<std::string, double> kept;
    for (auto _ : state) {
        for (const std::string& road : gRoads) {
            Memory ignored;
            // A warm-up, so that what the first commands make for good is not counted.
            if (!floodBy(*p, road, 1000, ignored))
                return state.SkipWithError("the page stopped sending");
            idle(2);
            const long countedBefore = gCounted;
            const long refusedBefore = road == "webkit" ? bareFloodPage()->refused : 0;
            const Memory before = Memory::now();
            Memory peak = before;
            const auto start = std::chrono::steady_clock::now();
            if (!floodBy(*p, road, gCommands, peak))
                return state.SkipWithError("the page stopped sending");
            const double took = seconds(start);
            // Those the shell still takes up as the flood settles count too.
            idle(5);
            const long counted = road == "webkit" ? bareFloodPage()->refused - refusedBefore
                                                  : gCounted - countedBefore;
            const Memory after = Memory::now();
            const double left = mb(after.shell) - mb(before.shell);
            kept[road] = left;
            std::printf(
                "%-8s %ld commands sent, %ld performed, in %.1f s: shell resident %.1f MB "
                "before, %.1f MB at the peak, %.1f MB 5 s after (%+.1f MB, %.0f bytes a command)"
                "%s\n",
                road.c_str(), gCommands, counted, took, mb(before.shell), mb(peak.shell),
                mb(after.shell), left, left * 1024.0 * 1024.0 / static_cast<double>(gCommands),
                engineFigures(before, peak, after).c_str());
            std::fflush(stdout);
        }
    }
    // The channel is the baseline of the shell's roads, the bare view the engine's own share.
    if (kept.size() == 4)
        std::printf(
            "kept against the channel's: location %+.1f MB, burst %+.1f MB; a bare engine view's "
            "burst %+.1f MB\n",
            kept["location"] - kept["channel"], kept["burst"] - kept["channel"],
            kept["webkit"] - kept["channel"]);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--commands=")) gCommands = std::max(1L, std::atol(argv[i] + 11));
        if (arg.starts_with("--roads=")) {
            gRoads.clear();
            std::string_view left = arg.substr(8);
            while (!left.empty()) {
                const size_t comma = std::min(left.find(','), left.size());
                gRoads.emplace_back(left.substr(0, comma));
                left.remove_prefix(std::min(comma + 1, left.size()));
            }
        }
    }
    benchmark::RegisterBenchmark("BM_CommandMemoryByRoad", BM_CommandMemoryByRoad)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    runBenchmarksKeepingRates(argc, argv, &setUp);
    if (!engineAvailable)
        std::fprintf(stderr, "bench_webkit_command_memory: no display, nothing measured\n");
    benchmark::Shutdown();
    return 0;
}
