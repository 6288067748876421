// Native page loading: web URLs over the loopback HTTP server, redirects into the
// command and API schemes, API pages from the web cache, HTML strings.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVDocumentDownload.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "tests/bridge/MVWebViewFixture.h"
#include "tests/support/FakeLocalization.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDir.h"

namespace {

using Response = HttpTestServer::Response;
using LoadKind = platform::HeadlessWebEngine::LoadKind;

struct Performed {
    std::string command;
    nlohmann::json parameters;
    MVWebView* webView;
};

std::vector<Performed>& performed() {
    static std::vector<Performed> list;
    return list;
}

void record(const char* name, nlohmann::json* parameters, const std::shared_ptr<MVWebView>& w) {
    performed().push_back({name, parameters ? *parameters : nlohmann::json(), w.get()});
}

std::string errorPage(const std::string& text) {
    return "<html><head></head><body style=\"padding:0; margin:0;\"><div "
           "style=\"position:relative; margin: 0; width: 100%; height: 100%; text-align: "
           "center\"><div style=\"position:absolute;top: 50%; left:50%;-webkit-transform:"
           "translate3d(-50%,-50%,0);font-size: 24px;font-family: sans-serif\">" +
           text + "</div></div></body></html>";
}

class MVWebViewLoadingTest : public MVWebViewFixture {
  protected:
    void SetUp() override {
        MVWebViewFixture::SetUp();
        performed().clear();
        registerCommandHandlerClasses();
        MVCommandHandler_2_0::commandTable().add(
            "record",
            {MVSpec{}, [](MVCommandHandler&, nlohmann::json* p,
                          const std::shared_ptr<MVWebView>& w) { record("record", p, w); }});
        // The shared handler (2.1) reaches 2.0's own openPage.
        MVCommandHandler_2_0::commandTable().add(
            "openPage",
            {MVSpec{}, [](MVCommandHandler&, nlohmann::json* p,
                          const std::shared_ptr<MVWebView>& w) { record("openPage", p, w); }});
        localization = FakeLocalization::install();
    }

    // The pages the platform view was handed, by content.
    std::vector<std::string> shownContents() {
        std::vector<std::string> contents;
        for (const auto& load : page().loads())
            if (load.kind != LoadKind::Navigation) contents.push_back(load.content);
        return contents;
    }
    static std::string commandURL(const std::string& collection) {
        return "mvcmd:" + urlEncodedString(collection);
    }

    HttpTestServer server;
    std::shared_ptr<FakeLocalization> localization;
};

TEST_F(MVWebViewLoadingTest, APageIsFetchedAndHandedToThePlatformView) {
    server.respond("/shop/page", Response::text(200, "<p>shop</p>", "text/html; charset=utf-8"));
    const std::string url = server.url("/shop/page");
    webView->setViewTags({"ignored: no page yet"});
    webView->openUrl(url);
    EXPECT_TRUE(webView->isLoading());
    EXPECT_EQ(webView->historySize(), 1u);
    ASSERT_TRUE(waitUntilLoaded());

    const auto* shown = page().currentPage();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->kind, LoadKind::Data);
    EXPECT_EQ(shown->content, "<p>shop</p>");
    EXPECT_EQ(shown->mimeType, "text/html");
    EXPECT_EQ(shown->textEncodingName, "utf-8");
    EXPECT_EQ(shown->request.url().absoluteString(), url);
    EXPECT_EQ(webView->currentUrl(), url);
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish"}));
    EXPECT_TRUE(notes->objectsMatched);
    EXPECT_EQ(webView->webView()->alpha(), 1);
    EXPECT_TRUE(webView->webView()->isUserInteractionEnabled());

    ASSERT_EQ(owner->pageContexts.size(), 1u);
    EXPECT_EQ(owner->pageContexts[0].baseUrl, url);
    EXPECT_FALSE(owner->pageContexts[0].loadedFromCache);
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"pageContext", "didStartLoad",
                                                      "didFinishLoad", "didFinishRendering"}));
    EXPECT_TRUE(logged("MVWebView<1000> did start loading [" + url + "]"));
    EXPECT_TRUE(logged("MVWebView<1000> did finish rendering [" + url + "]"));
}

TEST_F(MVWebViewLoadingTest, TheHistoryEntryTakesTheAddressAfterRedirects) {
    server.respond("/old", Response::redirect(302, "/new#part"));
    server.respond("/new", Response::text(200, "<p>new</p>", "text/html"));
    webView->openUrl(server.url("/old"));
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(webView->currentUrl(), server.url("/new#part"));
    EXPECT_EQ(owner->pageContexts.at(0).baseUrl, server.url("/new"));
    EXPECT_EQ(page().currentPage()->content, "<p>new</p>");
    EXPECT_TRUE(logged("MVWebView<1000> was redirected to [" + server.url("/new#part") + "]"));
}

TEST_F(MVWebViewLoadingTest, ARedirectToTheCommandSchemeRunsItsCommands) {
    const std::string location =
        commandURL(R"({"ver":"2.0","cmds":[{"c":"record","p":{"x":1}},{"c":"record"}]})");
    server.respond("/cmd", Response::redirect(302, location));
    webView->openUrl(server.url("/cmd"));
    ASSERT_TRUE(waitUntilLoaded());

    ASSERT_EQ(performed().size(), 2u);
    EXPECT_EQ(performed()[0].parameters, (nlohmann::json{{"x", 1}}));
    EXPECT_EQ(performed()[0].webView, webView.get());
    EXPECT_EQ(performed()[1].webView, webView.get());
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish"}));
    EXPECT_TRUE(shownContents().empty());
    EXPECT_TRUE(logged("MVWebView<1000> was redirected to command scheme[" + location +
                       "] canceling connection"));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(MVWebViewLoadingTest, RedirectedCommandsMayStartTheNextLoad) {
    server.respond("/next", Response::text(200, "<p>next</p>", "text/html"));
    const std::string next = server.url("/next");
    MVCommandHandler_2_0::commandTable().add(
        "open", {MVSpec{}, [next](MVCommandHandler&, nlohmann::json*,
                                  const std::shared_ptr<MVWebView>& w) { w->openUrl(next); }});
    server.respond("/cmd",
                   Response::redirect(302, commandURL(R"({"ver":"2.0","cmds":[{"c":"open"}]})")));
    webView->openUrl(server.url("/cmd"));
    ASSERT_TRUE(settle([&] { return notes->names.size() == 4; }));
    ASSERT_TRUE(waitUntilLoaded());
    // Each start ends once: the redirected load by the next one's cancel.
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "cancel", "start", "finish"}));
    EXPECT_EQ(shownContents(), (std::vector<std::string>{"<p>next</p>"}));
    EXPECT_EQ(webView->currentUrl(), next);
}

TEST_F(MVWebViewLoadingTest, MalformedCommandRedirectsAreReportedAndEndTheLoad) {
    struct Row {
        const char* path;
        std::string location;
        const char* line;
        const char* report;
        nlohmann::json data;
    } rows[] = {
        {"/nojson",
         "mvcmd:nothing",
         "MVWebView<1000> redirect command scheme without JSON",
         "MVWebView redirect command scheme without JSON",
         {{"webview", "<1000>"}, {"redirectURL", "mvcmd:nothing"}}},
        // An escape that decodes to no UTF-8 reads as the empty text.
        {"/undecodable",
         "mvcmd:%FF%7B%7D",
         "MVWebView<1000> redirect command scheme without JSON",
         "MVWebView redirect command scheme without JSON",
         {{"webview", "<1000>"}, {"redirectURL", "mvcmd:%FF%7B%7D"}}},
        {"/badjson",
         commandURL("{oops"),
         "MVWebview<1000> could not read command collection:[{oops]",
         "MVWebview could not read command collection.",
         {{"webview", "<1000>"}, {"path", "{oops"}}},
        // As deep as a location header may carry (the client caps a header at 100 KiB).
        {"/deepjson",
         commandURL(R"({"v":)" + std::string(30'000, '[')),
         "MVWebview<1000> could not read command collection:[{\"v\":[[[",
         "MVWebview could not read command collection.",
         {{"webview", "<1000>"}, {"path", R"({"v":)" + std::string(30'000, '[')}}},
        {"/nolocation", "no location {",
         "MVWebView<1000> redirect did not contain a valid location header",
         "HTTP redirect did not contain a valid location header", "no location {"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        server.respond(row.path, Response::redirect(302, row.location));
        MVErrorLogger::clearReports();
        notes->names.clear();
        webView->openUrl(server.url(row.path));
        ASSERT_TRUE(waitUntilLoaded());
        EXPECT_TRUE(logged(row.line));
        const auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].description, row.report);
        ASSERT_NE(reports[0].data, nullptr);
        EXPECT_EQ(*reports[0].data, row.data);
        EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "fail"}));
    }
    EXPECT_TRUE(performed().empty());
    EXPECT_TRUE(shownContents().empty());
}

TEST_F(MVWebViewLoadingTest, ARedirectToAnApiPageOpensIt) {
    server.respond("/api", Response::redirect(301, "MVAPI:home"));
    webView->openUrl(server.url("/api"));
    ASSERT_TRUE(waitUntilLoaded());
    ASSERT_EQ(performed().size(), 1u);
    EXPECT_EQ(performed()[0].command, "openPage");
    EXPECT_EQ(performed()[0].parameters, (nlohmann::json{{"src", "MVAPI:home"}}));
    EXPECT_EQ(performed()[0].webView, webView.get());
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish"}));
    EXPECT_TRUE(logged("switching protocol to API"));
}

TEST_F(MVWebViewLoadingTest, AnErrorStatusLoadsItsBodyAsThePage) {
    server.respond("/missing", Response::text(404, "<p>gone</p>", "text/html"));
    webView->openUrl(server.url("/missing"));
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(shownContents(), (std::vector<std::string>{"<p>gone</p>"}));
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish"}));
    // A redirect into another web address that is not followed shows its body too.
    server.respond("/moved", Response::redirect(302, "/elsewhere", "<p>moved</p>"));
    server.respond("/elsewhere", Response::text(200, "<p>there</p>", "text/html"));
    webView->openUrl(server.url("/moved"));
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(shownContents().back(), "<p>there</p>");
}

TEST_F(MVWebViewLoadingTest, AFailedFetchPostsTheFailNotification) {
    HttpTestServer::RefusingPort refusing;
    const std::string url = refusing.url("/page");
    webView->openUrl(url);
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "fail"}));
    EXPECT_TRUE(logged("MVWebView<1000> did fail loading [" + url + "]"));
    EXPECT_TRUE(shownContents().empty());
    EXPECT_EQ(webView->webView()->alpha(), 0);  // hidden by the load, and stays so

    webView->openUrl("no url at all");
    platform::runUntilIdle();
    EXPECT_FALSE(webView->isLoading());
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "fail", "start", "fail"}));
}

// What a page fetches is held whole: past 64 MB the load fails and says so, whether a
// document or a download; a page document that downloads in a loop saves 20 and no more,
// the next document again.
TEST_F(MVWebViewLoadingTest, WhatAPageFetchesIsBounded) {
    server.respond("/shop", Response::text(200, "<p>shop</p>", "text/html"));
    const std::string huge((size_t{64} << 20) + 1, 'x');
    server.respond("/huge", Response::text(200, huge, "text/html"));
    Response hugeFile = Response::text(200, huge, "application/octet-stream");
    hugeFile.headers.set("Content-Disposition", "attachment; filename=\"huge.bin\"");
    server.respond("/huge.bin", hugeFile);
    Response invoice = Response::text(200, "%PDF-1.4", "application/pdf");
    invoice.headers.set("Content-Disposition", "attachment; filename=\"invoice.pdf\"");
    server.respond("/invoice", invoice);
    const auto follow = [&](const std::string& path) {
        webView->openUrl(server.url(path));
        return waitUntilLoaded();
    };
    const TempDir home;
    const std::string folder = downloadFolder();
    webView->openUrl(server.url("/shop"));
    ASSERT_TRUE(waitUntilLoaded());
    for (const char* path : {"/huge", "/huge.bin"}) {
        SCOPED_TRACE(path);
        notes->names.clear();
        ASSERT_TRUE(follow(path));
        EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "fail"}));
        EXPECT_TRUE(logged("MVWebView<1000> gave up [" + server.url(path) +
                           "]: a document or download is held whole, and it passed 64 MB"));
        EXPECT_EQ(page().currentPage()->content, "<p>shop</p>");
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/huge.bin"));
    const auto saved = [&] {
        size_t files = 0;
        if (std::filesystem::exists(folder))
            for ([[maybe_unused]] const auto& file : std::filesystem::directory_iterator(folder))
                ++files;
        return files;
    };
    for (int i = 0; i < 21; ++i) ASSERT_TRUE(follow("/invoice"));
    EXPECT_EQ(saved(), 20u);
    EXPECT_EQ(loggedCount("refused the download [" + server.url("/invoice") +
                          "]: its page saved 20 downloads already"),
              1u);
    // Another document of the page downloads again.
    webView->openUrl(server.url("/shop"));
    ASSERT_TRUE(waitUntilLoaded());
    ASSERT_TRUE(follow("/invoice"));
    EXPECT_EQ(saved(), 21u);
}

TEST_F(MVWebViewLoadingTest, FetchesTimeOutAfterTwoMinutes) {
    Response silent;
    silent.noResponse = true;
    server.respond("/silent", silent);
    webView->openUrl(server.url("/silent"));
    ASSERT_TRUE(platform::runUntil([&] { return server.requestCount("/silent") == 1; }, kIO));
    platform::advanceBy(119);
    EXPECT_TRUE(webView->isLoading());
    platform::advanceBy(1.5);
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "fail"}));
}

TEST_F(MVWebViewLoadingTest, ASupersededFetchNeverReachesThePage) {
    Response held = Response::text(200, "<p>old</p>", "text/html");
    held.holdUntilReleased = "old";
    server.respond("/old", held);
    server.respond("/new", Response::text(200, "<p>new</p>", "text/html"));

    webView->openUrl(server.url("/old"));
    ASSERT_TRUE(platform::runUntil([&] { return server.requestCount("/old") == 1; }, kIO));
    webView->openUrl(server.url("/new"));
    ASSERT_TRUE(waitUntilLoaded());
    server.release("old");
    platform::runUntil([] { return false; }, 0.2);  // room for a stray answer
    platform::runUntilIdle();

    EXPECT_EQ(shownContents(), (std::vector<std::string>{"<p>new</p>"}));
    EXPECT_EQ(webView->currentUrl(), server.url("/new"));
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "cancel", "start", "finish"}));
    EXPECT_EQ(owner->pageContexts.size(), 1u);
}

TEST_F(MVWebViewLoadingTest, LoadsWithoutHistoryKeepThePageVisible) {
    server.respond("/a", Response::text(200, "<p>a</p>", "text/html"));
    server.respond("/b", Response::text(200, "<p>b</p>", "text/html"));
    webView->openUrl(server.url("/a"));
    ASSERT_TRUE(waitUntilLoaded());
    webView->setPrefersPullToRefreshEnabled(false);

    webView->openUrl(server.url("/b"), false);
    EXPECT_EQ(webView->webView()->alpha(), 1);
    EXPECT_TRUE(webView->prefersPullToRefreshEnabled());
    EXPECT_EQ(webView->historySize(), 1u);
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(shownContents().back(), "<p>b</p>");
    // The newest entry takes the fetched page's address.
    EXPECT_EQ(webView->currentUrl(), server.url("/b"));
}

TEST_F(MVWebViewLoadingTest, AFragmentOfTheLoadedPageGoesStraightToThePlatformView) {
    server.respond("/page", Response::text(200, "<p>page</p>", "text/html"));
    webView->openUrl(server.url("/page"));
    ASSERT_TRUE(waitUntilLoaded());
    notes->names.clear();
    const size_t loads = page().loads().size();

    webView->openUrl(server.url("/page#reviews"));
    EXPECT_FALSE(webView->isLoading());
    platform::runUntilIdle();
    ASSERT_EQ(page().loads().size(), loads + 1);
    EXPECT_EQ(page().loads().back().kind, LoadKind::Request);
    EXPECT_EQ(page().decisions().back().request.url().absoluteString(),
              server.url("/page#reviews"));
    EXPECT_TRUE(page().decisions().back().allowed);
    EXPECT_TRUE(notes->names.empty());
    EXPECT_EQ(webView->webView()->alpha(), 1);
    EXPECT_EQ(webView->currentUrl(), server.url("/page#reviews"));
}

TEST_F(MVWebViewLoadingTest, CookiesAreSharedAcrossRedirects) {
    Response login = Response::redirect(302, "/account");
    login.headers.add("Set-Cookie", "sid=42; Path=/");
    server.respond("/login", login);
    server.respond("/account", Response::text(200, "<p>account</p>", "text/html"));
    webView->openUrl(server.url("/login"));
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(server.lastRequest("/account")->header("Cookie"), "sid=42");
    EXPECT_TRUE(logged("shared cookies"));
}

TEST_F(MVWebViewLoadingTest, APageFromTheWebCache) {
    auto cache = FakeWebCache::install();
    cache->setPage("mv-api-page:home", "<p>home</p>", "https://shop.example/home", "");
    webView->openUrl("mvapi:home");
    webView->setViewTags({"start"});
    platform::advanceBy(0.1);

    EXPECT_EQ(cache->lookups, (std::vector<std::string>{"mv-api-page:home"}));
    const auto* shown = page().currentPage();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->kind, LoadKind::Data);
    EXPECT_EQ(shown->content, "<p>home</p>");
    EXPECT_EQ(shown->request.url().absoluteString(), "https://shop.example/home");
    EXPECT_EQ(webView->currentUrl(), "mvapi:home");
    ASSERT_EQ(owner->pageContexts.size(), 1u);
    EXPECT_EQ(owner->pageContexts[0].source, "mvapi:home");
    EXPECT_EQ(owner->pageContexts[0].baseUrl, "https://shop.example/home");
    EXPECT_TRUE(owner->pageContexts[0].loadedFromCache);
    EXPECT_EQ(owner->pageContexts[0].tags, (std::vector<std::string>{"start"}));
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish"}));
    EXPECT_FALSE(webView->pageDidFailLoading());
    EXPECT_TRUE(logged("MVWebView<1000> did start loading [home]"));
    EXPECT_TRUE(logged("MVWebView<1000> received data for [API:home]"));

    // The same by its own operation, and with the scheme in capitals.
    webView->openUrlApi("home");
    platform::advanceBy(0.1);
    webView->openUrl("MVAPI:home");
    platform::advanceBy(0.1);
    EXPECT_EQ(cache->lookups.size(), 3u);
    EXPECT_EQ(webView->currentUrl(), "mvapi:home");
}

TEST_F(MVWebViewLoadingTest, AnEmptyApiPageIdOnlyLogs) {
    FakeWebCache::install();
    webView->openUrlApi("");
    webView->openUrl("mvapi:");
    platform::runUntilIdle();
    EXPECT_EQ(loggedCount("MVWebView<1000> tried to open empty api page \"mvapi:\""), 2u);
    EXPECT_TRUE(notes->names.empty());
    EXPECT_EQ(webView->historySize(), 0u);
}

TEST_F(MVWebViewLoadingTest, AFailedApiPageShowsTheLocalizedErrorPage) {
    struct Row {
        bool shadowMode;
        const char* key;
    } rows[] = {{false, "#webview.failed.load"}, {true, "#cachedbootapp.please.wait"}};
    auto cache = FakeWebCache::install();
    localization->texts["#webview.failed.load"] = "Page couldn't be loaded ...";
    for (const auto& row : rows) {
        cache->setShadowMode(row.shadowMode);
        webView->openUrl("mvapi:missing");
        platform::advanceBy(0.1);
        EXPECT_TRUE(webView->pageDidFailLoading());
        EXPECT_EQ(webView->loadedBaseURL(), std::nullopt);
        const auto* shown = page().currentPage();
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->kind, LoadKind::HTMLString);
        EXPECT_EQ(shown->request.url().absoluteString(), "about:blank");
        EXPECT_EQ(shown->content, errorPage(localization->localizedStringForKey(row.key)));
        EXPECT_FALSE(webView->isLoading());
    }
    EXPECT_EQ(page().currentPage()->content,
              errorPage("#cachedbootapp.please.wait in test language"));
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish", "start", "finish"}));
}

TEST_F(MVWebViewLoadingTest, ApiPageAnswersThatMustBeDropped) {
    auto cache = FakeWebCache::install();
    FakeWebCache::Script stale;
    stale.body = "<p>fresh</p>";
    stale.info = {{"base-url", "https://shop.example/"}};
    stale.staleFirst = true;
    stale.fromMemory = false;
    cache->setScript("mv-api-page:stale", stale);
    FakeWebCache::Script late = stale;
    late.staleFirst = false;
    late.deferred = true;
    cache->setScript("mv-api-page:late", late);
    FakeWebCache::Script noBase;
    noBase.body = "<p>x</p>";
    cache->setScript("mv-api-page:nobase", noBase);

    // An answer with a reload pending waits for the fresh one.
    webView->openUrl("mvapi:stale");
    platform::runUntilIdle();
    EXPECT_EQ(shownContents(), (std::vector<std::string>{"<p>fresh</p>"}));
    EXPECT_FALSE(owner->pageContexts.back().loadedFromCache);

    // An answer for a cancelled load goes nowhere.
    webView->openUrl("mvapi:late");
    platform::runUntilIdle();
    webView->cancelCurrentRequest();
    cache->answerPending();
    platform::runUntilIdle();
    EXPECT_EQ(shownContents().size(), 1u);

    // A page without a base URL cannot be shown.
    webView->openUrl("mvapi:nobase");
    platform::runUntilIdle();
    EXPECT_TRUE(logged("MVWebView<1000> received data for [API:nobase] without a base URL"));
    EXPECT_TRUE(webView->pageDidFailLoading());
}

TEST_F(MVWebViewLoadingTest, ApiPageAnswersFromAnotherThreadArriveOnTheMainThread) {
    auto cache = FakeWebCache::install();
    FakeWebCache::Script script;
    script.body = "<p>late</p>";
    script.info = {{"base-url", "https://shop.example/"}};
    script.deferred = true;
    cache->setScript("mv-api-page:late", script);
    webView->openUrl("mvapi:late");
    platform::advanceBy(0.1);
    cache->answerPending(true);
    platform::advanceBy(0.1);
    EXPECT_EQ(shownContents(), (std::vector<std::string>{"<p>late</p>"}));
    EXPECT_FALSE(webView->isLoading());
}

TEST_F(MVWebViewLoadingTest, WithoutAWebCacheApiPagesFail) {
    webView->openUrl("mvapi:home");
    platform::runUntilIdle();
    EXPECT_TRUE(logged("MVWebView<1000> has no web cache to load [API:home]"));
    EXPECT_TRUE(webView->pageDidFailLoading());
    EXPECT_EQ(page().currentPage()->content, errorPage("#webview.failed.load in test language"));
}

TEST_F(MVWebViewLoadingTest, AnHTMLStringIsHandedOverAtTheNextTurn) {
    webView->setWebkitAnimationBugDelay(true);
    webView->loadHTMLString("<p>hi</p>", platform::URL::parse("https://shop.example/base"));
    EXPECT_EQ(webView->loadedBaseURL()->absoluteString(), "https://shop.example/base");
    EXPECT_EQ(webView->currentUrl(), "https://shop.example/base");
    platform::advanceBy(0.04);
    EXPECT_TRUE(page().loads().empty());
    platform::advanceBy(0.01);
    platform::advanceBy(0.1);
    ASSERT_EQ(page().loads().size(), 1u);
    EXPECT_EQ(page().loads()[0].content, "<p>hi</p>");
    EXPECT_EQ(page().decisions().at(0).allowed, true);
    EXPECT_EQ(notes->names, (std::vector<std::string>{"start", "finish"}));
    EXPECT_TRUE(logged("MVWebView<1000> did start loading [HTML String]"));
    EXPECT_TRUE(
        logged("MVWebView<1000> did finish rendering [HTML String : https://shop.example/base]"));
}

TEST_F(MVWebViewLoadingTest, BlocksRunAfterLoadingOrAtTheNextTurn) {
    std::vector<std::string> ran;
    webView->performBlock([&] { ran.push_back("now"); }, false);
    EXPECT_TRUE(ran.empty());
    platform::advanceBy(0.1);
    EXPECT_EQ(ran, (std::vector<std::string>{"now"}));

    webView->loadHTMLString("<p/>", std::nullopt);
    webView->performBlock([&] { ran.push_back("replaced"); }, true);
    webView->performBlock([&] { ran.push_back("after"); }, true);
    owner->onFinishRendering = [&](MVWebView&) { ran.push_back("rendered"); };
    platform::advanceBy(0.1);
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "rendered", "after"}));
}

}  // namespace
