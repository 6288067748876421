// One cookie jar in the real engine: cookies set by a redirect, a document, a fetch answer
// and the page itself reach document.cookie, the page's fetch and XHR, the next document
// and another site's page as a browser sends them; persistent cookies, web storage and
// IndexedDB outlive the process, session cookies do not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/web/webkit/WebKitWebsiteData.h"
#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPageLibrary.h"

namespace {

using Response = HttpTestServer::Response;

Response page(const std::string& body, std::vector<std::string> setCookies = {}) {
    // The page's half of the web view's onload latch.
    const std::string onload =
        "<script>addEventListener('load', function () {"
        " mvSendCommands({ver: '2.0', cmds: [{c: 'testOnload'}]}); });</script>";
    auto response = Response::text(200, testpage::pageWithLibrary(body, onload), "text/html");
    for (auto& cookie : setCookies) response.headers.add("Set-Cookie", std::move(cookie));
    return response;
}

// The names in a "Cookie" field or in document.cookie.
std::set<std::string> namesIn(const std::string& cookies) {
    std::set<std::string> names;
    std::stringstream in(cookies);
    std::string pair;
    while (std::getline(in, pair, ';')) {
        pair.erase(0, pair.find_first_not_of(' '));
        if (!pair.empty()) names.insert(pair.substr(0, pair.find('=')));
    }
    return names;
}

class CookiePagesFixture : public MVWebViewWebKitFixture {
  protected:
    // The page's later command is performed.
    void commandPerformed() {
        const size_t before = pageRoundTrips().size();
        js("mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'x'}}]})");
        EXPECT_TRUE(settle([&] { return pageRoundTrips().size() == before + 1; }));
    }
    void openAndWait(const std::string& url) {
        webView->openUrl(url);
        ASSERT_TRUE(settle([&] {
            return webView->isUsingLibrary() && !webView->isLoading() && js("location.href") == url;
        }));
    }
};

class CookieJarWebKitTest : public CookiePagesFixture {
  protected:
    void SetUp() override {
        CookiePagesFixture::SetUp();
        auto login = Response::redirect(302, "/home");
        for (const char* cookie :
             {"sid=s1; Path=/; HttpOnly; SameSite=Lax", "strict=s2; Path=/; SameSite=Strict",
              "remember=s3; Path=/; Max-Age=31536000", "old=o1; Path=/", "sec=x; Path=/; Secure"})
            login.headers.add("Set-Cookie", cookie);
        server.respond("/login", login);
        server.respond("/home", page("<a id=\"next\" href=\"/next\">next</a>",
                                     {"doc=d1; Path=/", "old=; Path=/; Max-Age=0"}));
        auto api = Response::text(200, "{}", "application/json");
        api.headers.add("Set-Cookie", "fetched=f1; Path=/; Max-Age=31536000");
        server.respond("/api", api);
        server.respond("/cart", Response::text(200, "ok"));
        server.respond("/cart-xhr", Response::text(200, "ok"));
        server.respond("/next", page("<p>next</p>"));
        server.respond("/pixel", Response::text(200, "GIF89a", "image/gif"));
        server.respond("/xsite", Response::text(200, "ok"));
    }

    std::set<std::string> sentTo(const std::string& path) {
        auto request = server.lastRequest(path);
        return request ? namesIn(request->header("Cookie").value_or("")) : std::set<std::string>{};
    }

    // The log and the server's requests, for a failure's message.
    std::string trace() {
        std::string all;
        for (const auto& message : log_->messages()) all += message.text + "\n";
        for (const auto& request : server.requests())
            all += request.method + " " + request.path + "\n";
        return all;
    }

    HttpTestServer server;
};

// Where each cookie goes, as WebKitGTK alone loading the same addresses sends it.
struct CookieRow {
    const char* name;
    bool script;  // document.cookie on the next page
    bool fetch;   // the page's fetch POST
    bool xhr;     // the page's XHR POST
    bool next;    // the next document, by a link
    bool image;   // another site's page's image of this site (through URL loading)
    bool other;   // another site's page's fetch with credentials (WebKit's own)
};

const CookieRow kCookieRows[] = {
    // By the login redirect: HttpOnly and Lax, Strict, a year, deleted later, Secure on http.
    {"sid", false, true, true, true, false, false},
    {"strict", true, true, true, true, false, false},
    {"remember", true, true, true, true, true, true},
    {"old", false, false, false, false, false, false},
    {"sec", false, false, false, false, false, false},
    // By the document, a fetch answer, the page (before its fetch; expired again; just
    // before it follows a link).
    {"doc", true, true, true, true, true, true},
    {"fetched", true, true, true, true, true, true},
    {"pref", true, true, true, true, true, true},
    {"gone", false, false, false, false, false, false},
    {"late", true, false, false, true, true, true},
};

TEST_F(CookieJarWebKitTest, EveryRequestOfThePageCarriesTheCookiesOfOneJar) {
    webView->openUrl(server.url("/login"));
    ASSERT_TRUE(settle([&] {
        return webView->isUsingLibrary() && !webView->isLoading() &&
               js("location.href") == server.url("/home");
    }));
    commandPerformed();
    EXPECT_EQ(sentTo("/home"), (std::set<std::string>{"old", "remember", "sid", "strict"}));

    js("document.cookie = 'pref=dark; path=/'; document.cookie = 'gone=1; path=/';"
       "document.cookie = 'gone=; path=/; expires=Thu, 01 Jan 1970 00:00:00 GMT';"
       "fetch('/api').then(function () {"
       " fetch('/cart', {method: 'POST', body: 'item=1'});"
       " var x = new XMLHttpRequest(); x.open('POST', '/cart-xhr'); x.send('item=2'); })");
    ASSERT_TRUE(settle([&] {
        return server.requestCount("/cart") == 1 && server.requestCount("/cart-xhr") == 1;
    }));
    commandPerformed();

    js("document.cookie = 'late=1; path=/'; document.getElementById('next').click()");
    ASSERT_TRUE(settle([&] {
        return webView->isUsingLibrary() && !webView->isLoading() &&
               js("location.href") == server.url("/next");
    })) << trace();
    commandPerformed();
    const auto script = namesIn(js("document.cookie"));

    // Another site (the same server by another name) shows this site's image and fetches.
    const std::string here = server.baseURL();
    const std::string other = "http://localhost:" + std::to_string(server.port());
    server.respond("/cross", page("<img src=\"" + here + "/pixel\"><script>fetch('" + here +
                                  "/xsite', {credentials: 'include', mode: 'no-cors'});</script>"));
    openAndWait(other + "/cross");
    ASSERT_TRUE(settle(
        [&] { return server.requestCount("/pixel") == 1 && server.requestCount("/xsite") == 1; }));
    commandPerformed();

    for (const auto& row : kCookieRows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(script.count(row.name) == 1, row.script);
        EXPECT_EQ(sentTo("/cart").count(row.name) == 1, row.fetch);
        EXPECT_EQ(sentTo("/cart-xhr").count(row.name) == 1, row.xhr);
        EXPECT_EQ(sentTo("/next").count(row.name) == 1, row.next);
        EXPECT_EQ(sentTo("/pixel").count(row.name) == 1, row.image);
        EXPECT_EQ(sentTo("/xsite").count(row.name) == 1, row.other);
    }
}

// A shell's run over a home folder: the first signs in and keeps things, the second
// (a new process) finds what lasts.
class CookieJarRestartWebKitTest : public CookiePagesFixture {
  protected:
    void SetUp() override {
        if (childRole().empty()) {
            CookiePagesFixture::SetUp();
            GTEST_SKIP() << "runs as a child process only";
        }
        auto& files = platform::FileManager::defaultManager();
        platform::HTTPCookieStorage::shared().setPersistentStoragePath(files.libraryDirectory() +
                                                                       "/Cookies/Cookies.json");
        platform::WebKitWebsiteData::setDirectories(files.libraryDirectory() + "/WebKit",
                                                    files.cachesDirectory() + "/WebKit");
        CookiePagesFixture::SetUp();
    }
    std::string base() const { return std::getenv("COOKIE_TEST_SERVER"); }
};

constexpr const char* kStoreIndexedDB =
    "window.stored = 'no'; var r = indexedDB.open('shop', 1);"
    "r.onupgradeneeded = function () { r.result.createObjectStore('cart'); };"
    "r.onsuccess = function () { var t = r.result.transaction('cart', 'readwrite');"
    " t.objectStore('cart').put('socks', 'item'); t.oncomplete = function () {"
    " window.stored = 'yes'; r.result.close(); }; };";
constexpr const char* kReadIndexedDB =
    "window.found = 'waiting'; var r = indexedDB.open('shop', 1);"
    "r.onupgradeneeded = function () { r.result.createObjectStore('cart'); };"
    "r.onsuccess = function () { var g = r.result.transaction('cart').objectStore('cart')"
    ".get('item'); g.onsuccess = function () { window.found = String(g.result); }; };";

TEST_F(CookieJarRestartWebKitTest, Child) {
    if (childRole() == "first") {
        webView->openUrl(base() + "/login");
        ASSERT_TRUE(settle([&] { return webView->isUsingLibrary() && !webView->isLoading(); }));
        js("document.cookie = 'pref=dark; path=/; max-age=31536000';"
           "document.cookie = 'late=1; path=/'; localStorage.setItem('basket', '3');" +
           std::string(kStoreIndexedDB));
        ASSERT_TRUE(settle([&] { return js("window.stored") == "yes"; }));
        // The page's cookies have reached the store.
        ASSERT_TRUE(
            settle([] { return platform::HTTPCookieStorage::shared().cookies().size() == 4; }));
        commandPerformed();
        return;
    }
    openAndWait(base() + "/home");
    EXPECT_EQ(namesIn(js("document.cookie")), (std::set<std::string>{"pref", "remember"}));
    EXPECT_EQ(js("localStorage.getItem('basket')"), "3");
    js(kReadIndexedDB);
    EXPECT_TRUE(settle([&] { return js("window.found") != "waiting"; }));
    EXPECT_EQ(js("window.found"), "socks");
    commandPerformed();
}

TEST(CookieJarRestartTest, PersistentCookiesAndWebStorageOutliveTheProcess) {
    TempDir home;
    HttpTestServer server;
    auto login = Response::redirect(302, "/home");
    login.headers.add("Set-Cookie", "sid=s1; Path=/; HttpOnly; SameSite=Lax");
    login.headers.add("Set-Cookie", "remember=s3; Path=/; Max-Age=31536000");
    server.respond("/login", login);
    server.respond("/home", page("<p>home</p>"));
    const ChildProcess::Environment environment = {{"MEROVANE_HOME", home.path()},
                                                   {"COOKIE_TEST_SERVER", server.baseURL()}};
    {
        ChildProcess first("CookieJarRestartWebKitTest.Child", "first", environment);
        ASSERT_EQ(first.wait(), 0);
    }
    const size_t homesBefore = server.requestCount("/home");
    ChildProcess second("CookieJarRestartWebKitTest.Child", "second", environment);
    EXPECT_EQ(second.wait(), 0);
    ASSERT_EQ(server.requestCount("/home"), homesBefore + 1);
    // The year-long login and the page's own year-long cookie; no session cookie.
    EXPECT_EQ(namesIn(server.lastRequest("/home")->header("Cookie").value_or("")),
              (std::set<std::string>{"pref", "remember"}));
}

// Cookies far in the future stay persistent in WebKit, in the store and in the file.
class CookieExpiryWebKitTest : public CookiePagesFixture {
  protected:
    void SetUp() override {
        // Read before WebKit joins: every filed cookie is copied in.
        home.write("Cookies/Cookies.json", R"({"cookies": [
            {"name": "filedFar", "value": "1", "domain": "127.0.0.1", "path": "/",
             "expires": 1e300},
            {"name": "filedPast9999", "value": "1", "domain": "127.0.0.1", "path": "/",
             "expires": 1e12},
            {"name": "filedIn2033", "value": "1", "domain": "127.0.0.1", "path": "/",
             "expires": 2e9}]})");
        platform::HTTPCookieStorage::shared().setPersistentStoragePath(path());
        CookiePagesFixture::SetUp();
    }
    std::string path() const { return home.file("Cookies/Cookies.json"); }
    TempDir home;
    HttpTestServer server;
};

const char* const kFarCookies[] = {
    "maxAgeHuge=1; Path=/; Max-Age=99999999999999",
    "maxAgeDigits=1; Path=/; Max-Age=9999999999999999999999999999999999999999",
    "expires9999=1; Path=/; Expires=Fri, 31 Dec 9999 23:59:59 GMT",
    "maxAgeYear=1; Path=/; Max-Age=31536000",
};

TEST_F(CookieExpiryWebKitTest, AFarExpiryStaysPersistentThroughWebKit) {
    server.respond("/home", page("<p>home</p>", {std::begin(kFarCookies), std::end(kFarCookies)}));
    openAndWait(server.url("/home"));
    // The page's own cookie makes the jar read all of WebKit's cookies back.
    js("document.cookie = 'page=1; path=/'");
    auto& store = platform::HTTPCookieStorage::shared();
    ASSERT_TRUE(settle([&] {
        for (const auto& cookie : store.cookies())
            if (cookie.name() == "page") return true;
        return false;
    }));
    commandPerformed();
    drain();

    const auto script = namesIn(js("document.cookie"));
    std::set<std::string> persistent;
    for (const auto& cookie : store.cookies())
        if (!cookie.isSessionOnly()) persistent.insert(cookie.name());
    std::set<std::string> filed;
    auto text = platform::FileManager::defaultManager().readFile(path());
    ASSERT_TRUE(text);
    const auto parsed = platform::json::parse(*text);
    for (const auto& entry : parsed.value["cookies"])
        if (entry["expires"].is_number()) filed.insert(entry["name"].get<std::string>());
    for (const char* name : {"maxAgeHuge", "maxAgeDigits", "expires9999", "maxAgeYear", "filedFar",
                             "filedPast9999", "filedIn2033"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(script.count(name), 1u);
        EXPECT_EQ(persistent.count(name), 1u);
        EXPECT_EQ(filed.count(name), 1u);
    }
}

}  // namespace
