#include <arpa/inet.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/ViewDrawing.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/GLibMainContextWaiter.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/RecordingWebViewDelegate.h"
#include "tests/support/ServingURLProtocol.h"
#include "tests/support/TestPageLibrary.h"
#include "tests/support/TestPageResources.h"

using platform::NavigationType;
using platform::URL;
using platform::WebKitGtkWebEngine;
using platform::WebView;

namespace {

// Real pages load in real time: generous bounds, never sleeps.
constexpr double kPatience = 30.0;
const char* kBase = "http://shop.invalid/page";

class WebKitGtkWebEngineTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        auto engine = std::make_unique<WebKitGtkWebEngine>();
        engine_ = engine.get();
        view_ = WebView::create(std::move(engine), {0, 0, 200, 100});
        delegate_ = std::make_shared<RecordingWebViewDelegate>();
        view_->setDelegate(delegate_);
    }

    // Loads `html` with the shop's base URL and waits until WebKit reports the finish.
    void load(const std::string& html, const char* base = kBase) {
        const int before = delegate_->finishes + delegate_->failures;
        view_->loadHTMLString(html, URL::parse(base));
        ASSERT_TRUE(platform::runUntil(
            [&] { return delegate_->finishes + delegate_->failures > before; }, kPatience));
        ASSERT_EQ(delegate_->failures, 0)
            << (delegate_->lastError ? delegate_->lastError->localizedDescription() : "");
    }

    std::string js(const std::string& script) {
        return view_->stringByEvaluatingJavaScriptFromString(script);
    }

    // Whatever WebKit reported before a script round trip has reached the delegate.
    void settle() {
        js("0");
        platform::runUntilIdle();
    }

    size_t decisionsFor(const std::string& scheme) {
        size_t n = 0;
        for (const auto& d : delegate_->decisions)
            n += d.request.url().schemeLowercased() == scheme;
        return n;
    }

    WebKitGtkWebEngine* engine_ = nullptr;
    std::shared_ptr<WebView> view_;
    std::shared_ptr<RecordingWebViewDelegate> delegate_;
};

TEST_F(WebKitGtkWebEngineTest, DestroyingAnEngineReleasesItsWebKitView) {
    const size_t live = WebKitGtkWebEngine::liveViewCount();
    load("<p>shown</p>");
    view_.reset();
    EXPECT_EQ(WebKitGtkWebEngine::liveViewCount(), live - 1);
}

TEST_F(WebKitGtkWebEngineTest, OwnLoadIsDecidedOnceThenStartsAndFinishesOnLaterTurns) {
    view_->loadHTMLString("<title>T1</title><p>hi</p>", URL::parse(kBase));
    EXPECT_TRUE(delegate_->events.empty());  // nothing inside the call
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->finishes == 1; }, kPatience));
    EXPECT_EQ(delegate_->events,
              (std::vector<std::string>{std::string("allow ") + kBase, "start", "finish"}));
    EXPECT_EQ(delegate_->decisions[0].type, NavigationType::Other);
    // WebKit tells the title apart from the load.
    EXPECT_TRUE(platform::runUntil([&] { return view_->title() == "T1"; }, kPatience))
        << view_->title();
    ASSERT_TRUE(view_->request());
    EXPECT_EQ(view_->request()->url().absoluteString(), kBase);
    EXPECT_FALSE(view_->isLoading());
}

TEST_F(WebKitGtkWebEngineTest, RefusedLoadIsNeverLoaded) {
    load("<p id='first'>first</p>");
    delegate_->rule = [](const platform::URLRequest& r, NavigationType) {
        return r.url().absoluteString() != "http://refused.invalid/";
    };
    view_->loadHTMLString("<p id='second'>second</p>", URL::parse("http://refused.invalid/"));
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->decisions.size() == 2; }, kPatience));
    // Give WebKit every chance to load it anyway: a later script round trip.
    settle();
    EXPECT_EQ(js("document.getElementById('first') ? 'first' : 'other'"), "first");
    EXPECT_EQ(js("location.href"), kBase);
    EXPECT_EQ(delegate_->starts, 1);
    EXPECT_EQ(delegate_->failures, 0);  // our own refusal is no failure
}

// A top navigation by a link waits for the page's task that started it to end, but not
// for a page whose task hangs: it is decided at the engine's bound while the page still
// runs, and the page's late answer decides nothing again.
TEST_F(WebKitGtkWebEngineTest, ALinkOfAPageThatHangsIsDecidedWithoutThePage) {
    const std::string kNext = "http://shop.invalid/next";
    delegate_->rule = [kNext](const platform::URLRequest& r, NavigationType) {
        return r.url().absoluteString() != kNext;
    };
    load("<a id='go' href='" + kNext + "'>go</a>");
    auto decisionsForNext = [&] {
        return std::count_if(delegate_->decisions.begin(), delegate_->decisions.end(),
                             [&](const auto& d) { return d.url() == kNext; });
    };
    // The page's task goes on for 6 s after its click, three times the bound.
    js("setTimeout(function () { document.getElementById('go').click();"
       " var end = Date.now() + 6000; while (Date.now() < end) {} }, 0)");
    ASSERT_TRUE(platform::runUntil([&] { return decisionsForNext() == 1; }, kPatience));
    EXPECT_TRUE(logged("decides a navigation without the page"));
    EXPECT_EQ(js("String(document.getElementById('go') !== null)"), "true");
    settle();
    EXPECT_EQ(decisionsForNext(), 1);
    EXPECT_EQ(loggedCount("decides a navigation without the page"), 1u);
    EXPECT_EQ(js("location.href"), kBase);
}

TEST_F(WebKitGtkWebEngineTest, PageCommandNavigationIsDecidedAndRefusedNeverLoaded) {
    delegate_->refuseSchemes({"mvcmd", "mvapi"});
    load(testpage::pageWithLibrary("<p>shop</p>"));
    EXPECT_EQ(js("String(MVEvent.isDocumentReady())"), "true");
    js(R"(mvSendCommands({"ver":"2.0","cmds":[{"c":"sendDataRequest","p":{"q":"a b/ü"},"s":0}]}))");
    ASSERT_TRUE(platform::runUntil([&] { return decisionsFor("mvcmd") == 1; }, kPatience));
    const auto& decision = delegate_->decisions.back();
    EXPECT_FALSE(decision.allowed);
    EXPECT_EQ(decision.type, NavigationType::Other);
    const std::string url = decision.url();
    EXPECT_EQ(url.rfind("mvcmd:%7B%22ver%22%3A%222.0%22", 0), 0u) << url;
    EXPECT_NE(url.find("a%20b%2F%C3%BC"), std::string::npos) << url;

    js("location.href = 'mvapi:home'");
    ASSERT_TRUE(platform::runUntil([&] { return decisionsFor("mvapi") == 1; }, kPatience));
    settle();
    // The page stays: same document, same library state, nothing started.
    EXPECT_EQ(js("location.href"), kBase);
    EXPECT_EQ(js("typeof MVEvent"), "object");
    EXPECT_EQ(delegate_->starts, 1);
    EXPECT_EQ(delegate_->failures, 0);
}

TEST_F(WebKitGtkWebEngineTest, NavigationTypesAreMappedFromWebKit) {
    load(R"(<a id="link" href="http://shop.invalid/next">next</a>
            <form id="form" action="http://shop.invalid/form" method="get"><input name="q" value="1"></form>)");
    delegate_->rule = [](const platform::URLRequest& r, NavigationType) {
        return r.url().absoluteString() == kBase;
    };
    struct Row {
        const char* script;
        const char* url;
        NavigationType type;
    } rows[] = {
        {"document.getElementById('link').click()", "http://shop.invalid/next",
         NavigationType::LinkClicked},
        {"document.getElementById('form').submit()", "http://shop.invalid/form?q=1",
         NavigationType::FormSubmitted},
        {"location.href = 'http://shop.invalid/script'", "http://shop.invalid/script",
         NavigationType::Other},
        {"location.reload()", kBase, NavigationType::Reload},  // allowed, last
    };
    for (const auto& row : rows) {
        const size_t before = delegate_->decisions.size();
        js(row.script);
        ASSERT_TRUE(
            platform::runUntil([&] { return delegate_->decisions.size() > before; }, kPatience))
            << row.script;
        EXPECT_EQ(delegate_->decisions.back().url(), row.url) << row.script;
        EXPECT_EQ(delegate_->decisions.back().type, row.type) << row.script;
    }
}

TEST_F(WebKitGtkWebEngineTest, SynchronousScriptsAnswerText) {
    load("<title>Shop</title><p>x</p>");
    struct Row {
        const char* script;
        const char* expected;
    } rows[] = {
        {"1 + 2", "3"},
        {"'abc'", "abc"},
        {"'é ✓ \"quoted\"'", "é ✓ \"quoted\""},
        {"true", "true"},
        {"undefined", ""},  // no value
        {"null", ""},
        {"throw new Error('broken')", ""},  // script errors answer nothing
        {"document.title", "Shop"},
        {"[1, 2].join(',')", "1,2"},
        {"var kept = 41; kept + 1", "42"},  // top-level state stays in the page
        {"kept", "41"},
    };
    for (const auto& row : rows) EXPECT_EQ(js(row.script), row.expected) << row.script;
}

TEST_F(WebKitGtkWebEngineTest, AsynchronousScriptsAnswerOnALaterTurnWithErrors) {
    load("<p>x</p>");
    std::vector<std::string> results;
    std::optional<platform::Error> error;
    view_->evaluateJavaScript("6 * 7",
                              [&](const std::string& r, const std::optional<platform::Error>& e) {
                                  results.push_back(r);
                                  EXPECT_FALSE(e);
                              });
    view_->evaluateJavaScript("nosuchfunction()",
                              [&](const std::string& r, const std::optional<platform::Error>& e) {
                                  results.push_back(r);
                                  error = e;
                              });
    EXPECT_TRUE(results.empty());
    ASSERT_TRUE(platform::runUntil([&] { return results.size() == 2; }, kPatience));
    EXPECT_EQ(results, (std::vector<std::string>{"42", ""}));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "WebKitJavascriptError");
}

TEST_F(WebKitGtkWebEngineTest, SynchronousScriptGivesUpAfterItsTimeOutAndLogs) {
    load("<p>x</p>");
    engine_->setSynchronousTimeout(0.2);
    EXPECT_EQ(js("var t = Date.now(); while (Date.now() - t < 1500) {} 'late'"), "");
    EXPECT_TRUE(logged("WebKitGtkWebEngine gave up waiting 0.2 s for a script"));
    engine_->setSynchronousTimeout(10);
    // The late answer is not taken for the next one.
    EXPECT_EQ(js("'after'"), "after");
}

// The engine's processes, children of this one.
std::vector<pid_t> engineProcesses() {
    std::vector<pid_t> found;
    const std::string self = std::to_string(::getpid());
    GDir* proc = g_dir_open("/proc", 0, nullptr);
    while (const char* name = proc ? g_dir_read_name(proc) : nullptr) {
        gchar* text = nullptr;
        const std::string path = std::string("/proc/") + name + "/stat";
        if (!g_ascii_isdigit(name[0]) ||
            !g_file_get_contents(path.c_str(), &text, nullptr, nullptr))
            continue;
        const std::string stat = text;
        g_free(text);
        const size_t close = stat.rfind(')');
        if (close != std::string::npos && stat.compare(close + 4, self.size() + 1, self + " ") == 0)
            found.push_back(std::stoi(name));
    }
    if (proc) g_dir_close(proc);
    return found;
}

// Told that the engine's processes are stopped (before a call or while it waits), a
// synchronous script waits for nothing; it runs once they continue.
TEST_F(WebKitGtkWebEngineTest, ScriptsWaitForNoStoppedEngineAndRunOnceItContinues) {
    load("<title>before</title>");
    engine_->setSynchronousTimeout(5);
    for (const int toldAfter : {-1, 0, 200}) {  // ms after the call begins; -1: before
        const auto processes = engineProcesses();
        ASSERT_FALSE(processes.empty());
        for (const pid_t pid : processes) ::kill(pid, SIGSTOP);
        if (toldAfter < 0) WebKitGtkWebEngine::setProcessesStopped(true);
        std::thread told([toldAfter] {
            if (toldAfter < 0) return;
            // The moment is the case itself, not a wait for a timer.
            std::this_thread::sleep_for(std::chrono::milliseconds(toldAfter));
            WebKitGtkWebEngine::setProcessesStopped(true);
        });
        const auto start = std::chrono::steady_clock::now();
        const std::string title = "after " + std::to_string(toldAfter);
        EXPECT_EQ(js("document.title = '" + title + "'; 'done'"), "");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        told.join();
        EXPECT_LT(seconds, 1 + std::max(0, toldAfter) / 1000.0) << toldAfter;
        EXPECT_TRUE(WebKitGtkWebEngine::processesStopped());
        for (const pid_t pid : processes) ::kill(pid, SIGCONT);
        WebKitGtkWebEngine::setProcessesStopped(false);
        EXPECT_TRUE(platform::runUntil([&] { return view_->title() == title; }, kPatience))
            << toldAfter;
        EXPECT_EQ(js("'again'"), "again");
    }
}

TEST_F(WebKitGtkWebEngineTest, TheUserAgentIsAnsweredFromTheSettingsAsPagesReadIt) {
    // A fresh view answers at once: a script would wait for a web process to start.
    engine_->setSynchronousTimeout(0.001);
    const std::string agent = view_->userAgent();
    EXPECT_NE(agent.find("Mozilla/5.0"), std::string::npos) << agent;
    EXPECT_FALSE(logged("WebKitGtkWebEngine gave up waiting"));
    engine_->setSynchronousTimeout(10);
    EXPECT_EQ(js("navigator.userAgent"), agent);
    load("<p>x</p>", "https://shop.example/page");
    EXPECT_EQ(js("navigator.userAgent"), agent);
}

TEST_F(WebKitGtkWebEngineTest, DecisionArrivingDuringSynchronousScriptIsDeliveredAfterItReturns) {
    delegate_->refuseSchemes({"mvcmd"});
    load(testpage::pageWithLibrary(""));
    const size_t before = engine_->deferredSignalCount();
    // A clicked link asks for its decision at once, while the script still runs.
    const std::string answer = js(R"(
        var a = document.createElement('a');
        a.href = 'mvcmd:%7B%7D';
        document.body.appendChild(a);
        a.click();
        'clicked')");
    EXPECT_EQ(answer, "clicked");
    EXPECT_EQ(decisionsFor("mvcmd"), 0u);  // nothing re-entered the caller
    EXPECT_GT(engine_->deferredSignalCount(), before);
    ASSERT_TRUE(platform::runUntil([&] { return decisionsFor("mvcmd") == 1; }, kPatience));
    EXPECT_EQ(delegate_->decisions.back().type, NavigationType::LinkClicked);
    EXPECT_FALSE(delegate_->decisions.back().allowed);
}

// A page that sends commands faster than the main loop takes them (here: while a
// synchronous script holds it) leaves a bounded queue; the rest are dropped, and what
// comes once the queue has drained is taken again.
TEST_F(WebKitGtkWebEngineTest, PageCommandsWaitingForTheClientAreBounded) {
    delegate_->refuseSchemes({"mvcmd"});
    load(testpage::pageWithLibrary(""));
    const size_t bound = WebKitGtkWebEngine::kMaximumWaitingRefusals;
    const auto click = [&](size_t n) {
        return js("for (var i = 0; i < " + std::to_string(n) + R"(; ++i) {
                var a = document.createElement('a');
                a.href = 'mvcmd:%7B%22n%22%3A' + i + '%7D';
                a.click();
            }
            'clicked')");
    };
    for (const size_t sent : {bound / 2, bound + 500}) {
        const size_t before = decisionsFor("mvcmd");
        ASSERT_EQ(click(sent), "clicked");
        // Every decision WebKit asked has reached us once a later script returns.
        settle();
        settle();
        ASSERT_TRUE(platform::runUntil(
            [&] { return decisionsFor("mvcmd") - before >= std::min(sent, bound); }, kPatience));
        settle();
        if (sent < bound) {
            EXPECT_EQ(decisionsFor("mvcmd") - before, sent);
        } else {
            EXPECT_EQ(decisionsFor("mvcmd") - before, bound);
        }
    }
    EXPECT_EQ(js("location.href"), kBase);
}

TEST_F(WebKitGtkWebEngineTest, DataLoadsKeepTheirTypeAndEncoding) {
    const int before = delegate_->finishes;
    view_->loadData("caf\xe9 <b>plain</b>", "text/plain", "iso-8859-1",
                    URL::parse("http://shop.invalid/data.txt"));
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->finishes > before; }, kPatience));
    EXPECT_EQ(js("document.body.textContent"), "café <b>plain</b>");
    EXPECT_EQ(js("document.contentType"), "text/plain");
    EXPECT_EQ(js("location.href"), "http://shop.invalid/data.txt");
}

TEST_F(WebKitGtkWebEngineTest, PagesHandedOverAsHTMLKeepTheirSessionHistory) {
    // Without a session-history item a page's pushState would keep no state and no entry
    // to step back to.
    const struct Row {
        const char* what;
        std::function<void(WebView&)> load;
    } rows[] = {
        {"HTML string", [](WebView& v) { v.loadHTMLString("<p>x</p>", URL::parse(kBase)); }},
        {"UTF-8 HTML data",
         [](WebView& v) {
             v.loadData("<p>caf\xc3\xa9</p>", "text/html", "UTF-8", URL::parse(kBase));
         }},
        {"HTML data without encoding, ASCII only",
         [](WebView& v) { v.loadData("<p>x</p>", "text/html", "", URL::parse(kBase)); }},
    };
    for (const auto& row : rows) {
        const int before = delegate_->finishes;
        row.load(*view_);
        ASSERT_TRUE(platform::runUntil([&] { return delegate_->finishes > before; }, kPatience))
            << row.what;
        EXPECT_EQ(delegate_->decisions.back().url(), kBase) << row.what;  // decided first
        js("history.pushState({n: 1}, '', '/page/two')");
        EXPECT_EQ(js("JSON.stringify(history.state)"), R"({"n":1})") << row.what;
        js("history.back()");
        EXPECT_TRUE(platform::runUntil([&] { return js("location.href") == kBase; }, kPatience))
            << row.what;
    }
    EXPECT_EQ(js("document.body.textContent"), "x");
    EXPECT_EQ(delegate_->failures, 0);
}

TEST_F(WebKitGtkWebEngineTest, HTMLLoadSupersededBeforeItsDecisionIsNeverAskedNorLoaded) {
    view_->loadHTMLString("<p>old</p>", URL::parse("http://shop.invalid/old"));
    view_->loadHTMLString("<p>new</p>", URL::parse("http://shop.invalid/new"));
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->finishes == 1; }, kPatience));
    settle();
    EXPECT_EQ(delegate_->events,
              (std::vector<std::string>{"allow http://shop.invalid/new", "start", "finish"}));
    EXPECT_EQ(js("document.body.textContent"), "new");
}

// The sources attached to GLib's default main context.
size_t liveGLibSources() {
    GSource* probe = g_idle_source_new();
    const guint newest = g_source_attach(probe, nullptr);
    g_source_destroy(probe);
    g_source_unref(probe);
    size_t live = 0;
    for (guint id = 1; id < newest; ++id)
        live += g_main_context_find_source_by_id(nullptr, id) != nullptr;
    return live;
}

TEST_F(WebKitGtkWebEngineTest, PageNavigatingAgainWhileTheClientDecidesLeavesWebKitNothingBehind) {
    load(testpage::pageWithLibrary(""));
    // As a page command does: deciding runs a script in which the page sends the next.
    int decided = 0;
    delegate_->rule = [&](const platform::URLRequest& request, NavigationType) {
        if (request.url().schemeLowercased() != "mvcmd") return true;
        ++decided;
        js("if (--window.chain > 0) mvSendCommands({ver: '2.0', cmds: []})");
        return false;
    };
    auto chain = [&](int trips) {
        const int start = decided;
        js("window.chain = " + std::to_string(trips) + "; mvSendCommands({ver: '2.0', cmds: []})");
        return platform::runUntil([&] { return decided == start + trips; }, kPatience);
    };
    ASSERT_TRUE(chain(20));
    const size_t before = liveGLibSources();
    ASSERT_TRUE(chain(200));
    settle();
    // WebKit used to keep a timer for good per trip.
    EXPECT_LT(liveGLibSources(), before + 20);
    EXPECT_EQ(delegate_->starts, 1);
    EXPECT_EQ(delegate_->failures, 0);
}

TEST_F(WebKitGtkWebEngineTest, AllowedNavigationToASchemeWebKitCannotLoadFailsAsUnsupported) {
    load("<p id='stay'>stay</p>");
    js("location.href = 'mvcmd:%7B%7D'");
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->failures == 1; }, kPatience));
    settle();
    EXPECT_EQ(
        std::vector<std::string>(delegate_->events.end() - 3, delegate_->events.end()),
        (std::vector<std::string>{"allow mvcmd:%7B%7D", "start",
                                  "fail " + std::to_string(platform::kURLErrorUnsupportedURL)}));
    EXPECT_EQ(delegate_->failures, 1);
    EXPECT_EQ(js("document.getElementById('stay') ? 'stay' : 'gone'"), "stay");
}

// A loopback port nobody listens on (bound, then released).
int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST_F(WebKitGtkWebEngineTest, FailedLoadsAreReportedOnceWithoutFinish) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/";
    const struct Row {
        std::string url;
        long code;
    } rows[] = {
        {refused, platform::kURLErrorCannotConnectToHost},
        {"nosuchscheme://x", platform::kURLErrorUnsupportedURL},  // nothing can show it
    };
    for (const auto& row : rows) {
        const int before = delegate_->failures;
        view_->loadRequest(platform::URLRequest(*URL::parse(row.url)));
        ASSERT_TRUE(
            platform::runUntil([&] { return delegate_->failures == before + 1; }, kPatience))
            << row.url << " " << testing::PrintToString(delegate_->events);
        settle();
        EXPECT_EQ(delegate_->failures, before + 1) << row.url;
        EXPECT_EQ(delegate_->lastError->domain(), platform::kURLErrorDomain) << row.url;
        EXPECT_EQ(delegate_->lastError->code(), row.code) << row.url;
    }
    EXPECT_EQ(delegate_->finishes, 0);
    EXPECT_EQ(delegate_->starts, 2);
}

TEST_F(WebKitGtkWebEngineTest, DataPageLoadsItsResourcesThroughOurURLProtocolsNotTheNetwork) {
    HttpTestServer network;  // the page's own origin: it must hear nothing
    ServingURLProtocol site("mvtest");
    testpage::servePageResources(site);
    const std::string base = network.url("/api/page");
    const int before = delegate_->finishes;
    view_->loadData(std::string("<html><head>") + testpage::kResourceScriptTag + "</head><body>" +
                        testpage::kResourceImageTag + "</body></html>",
                    "text/html", "utf-8", URL::parse(base));
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->finishes > before; }, kPatience));
    testpage::expectPageResourcesLoaded(site, base, [&](const std::string& s) { return js(s); });
    EXPECT_EQ(network.requestCount(), 0u);
}

TEST_F(WebKitGtkWebEngineTest, PageSubresourcesOverHttpAreRoutedThroughURLLoadingButNotItsXHR) {
    HttpTestServer origin;  // the page's own server: resources must not reach it, XHR must
    origin.respond("/xhr", HttpTestServer::Response::text(200, "from server"));
    ServingURLProtocol site("http");
    site.serve(origin.url("/res/app.js"), "text/javascript", "window.ranScript = 'yes';");
    site.serve(origin.url("/res/pic.svg"), "image/svg+xml",
               "<svg xmlns='http://www.w3.org/2000/svg' width='3' height='2'></svg>");
    const int before = delegate_->finishes;
    view_->loadData(R"(<html><head><script src="/res/app.js"></script></head>)"
                    R"(<body><img id="pic" src="/res/pic.svg"></body></html>)",
                    "text/html", "utf-8", URL::parse(origin.url("/page")));
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->finishes > before; }, kPatience));
    EXPECT_EQ(js("window.ranScript"), "yes");
    EXPECT_EQ(js("document.getElementById('pic').naturalWidth"), "3");
    EXPECT_EQ(site.requestCount(origin.url("/res/app.js")), 1u);
    EXPECT_EQ(site.requestCount(origin.url("/res/pic.svg")), 1u);
    EXPECT_EQ(origin.requestCount(), 0u);

    js("var x = new XMLHttpRequest(); x.open('GET', '/xhr');"
       "x.onload = function() { window.answer = x.responseText; }; x.send(); 0");
    EXPECT_TRUE(
        platform::runUntil([&] { return js("window.answer") == "from server"; }, kPatience));
    EXPECT_EQ(origin.requestCount("/xhr"), 1u);
    EXPECT_EQ(site.requestCount(origin.url("/xhr")), 0u);
}

TEST_F(WebKitGtkWebEngineTest, PlainHttpPageOfAnotherHostGetsOnlyImagesAndStylesRouted) {
    ServingURLProtocol site("http");
    site.serve("http://shop.invalid/res/pic.svg", "image/svg+xml",
               "<svg xmlns='http://www.w3.org/2000/svg' width='3' height='2'></svg>");
    site.serve("http://shop.invalid/res/look.css", "text/css", "body { margin: 7px; }");
    site.serve("http://shop.invalid/res/app.js", "text/javascript", "window.ranScript = 'yes';");
    load(R"(<link rel="stylesheet" href="/res/look.css"><img id="pic" src="/res/pic.svg">)"
         R"(<script src="/res/app.js"></script>)",
         "http://shop.invalid/page");
    EXPECT_TRUE(platform::runUntil(
        [&] { return js("document.getElementById('pic').naturalWidth") == "3"; }, kPatience));
    EXPECT_EQ(js("getComputedStyle(document.body).marginLeft"), "7px");
    // Told apart from XHR by nothing WebKit sends here: left to the network.
    EXPECT_EQ(site.requestCount("http://shop.invalid/res/app.js"), 0u);
    EXPECT_NE(js("window.ranScript"), "yes");
}

TEST_F(WebKitGtkWebEngineTest, DocumentOfOurSchemeLoadsThroughItsProtocol) {
    ServingURLProtocol site("mvtest");
    site.serve("mvtest://res/page.html", "text/html", "<title>Served</title><p id='p'>served</p>");
    view_->loadRequest(platform::URLRequest(*URL::parse("mvtest://res/page.html")));
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->finishes == 1; }, kPatience));
    EXPECT_EQ(js("document.getElementById('p').textContent"), "served");
    EXPECT_EQ(js("location.href"), "mvtest://res/page.html");
    // An address the protocol does not know is its 404 page, still a page.
    view_->loadRequest(platform::URLRequest(*URL::parse("mvtest://res/none")));
    ASSERT_TRUE(platform::runUntil([&] { return delegate_->finishes == 2; }, kPatience));
    EXPECT_EQ(js("document.body.textContent"), "not found");
    EXPECT_EQ(site.requests().size(), 2u);
}

TEST_F(WebKitGtkWebEngineTest, SnapshotShowsThePageColours) {
    load("<html><body style='margin:0; background: rgb(0, 128, 255)'></body></html>");
    const platform::Image picture = view_->snapshot();
    ASSERT_EQ(picture.width(), 200);
    ASSERT_EQ(picture.height(), 100);
    const platform::Image::Pixel colour{0, 128, 255, 255};
    EXPECT_EQ(picture.pixel(10, 10), colour);
    EXPECT_EQ(picture.pixel(199, 99), colour);
    // Drawing the view, as a screenshot does, draws the page.
    EXPECT_EQ(platform::imageOfViewHierarchy(*view_, 1).pixel(100, 50), colour);
}

TEST_F(WebKitGtkWebEngineTest, BackgroundColourShowsWherePageDrawsNothing) {
    view_->setBackgroundColor(platform::Color::rgba(0, 1, 0, 0.5));
    view_->setOpaque(true);  // an opaque view ignores alpha
    load("<html><body style='margin:0'></body></html>");
    EXPECT_EQ(view_->snapshot().pixel(5, 5), (platform::Image::Pixel{0, 255, 0, 255}));
}

TEST_F(WebKitGtkWebEngineTest, DestroyingTheViewWithADecisionPendingIsSafe) {
    load(testpage::pageWithLibrary(""));
    js("mvSendCommands({ver: '2.0', cmds: []})");
    // Let WebKit ask, but do not let the decision reach the (soon gone) delegate.
    auto& main = platform::RunLoop::main();
    ASSERT_TRUE(platform::iterateGLibUntil(
        [&] { return !main.isIdleAt(platform::Clock::monotonicNanos()); }, kPatience));
    view_.reset();
    platform::runUntilIdle();
    EXPECT_EQ(decisionsFor("mvcmd"), 0u);
}

}  // namespace
