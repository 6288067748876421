// A shop page's downloads, reloads and links that are no pages, in the real engine with the
// web cache serving the web view's documents, as in the shell: the page and its history
// stay where a browser keeps them, and its next command is performed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libmerovane/bridge/MVDocumentDownload.h"
#include "platform/foundation/FileManager.h"
#include "tests/bridge/webkit/WebCacheServedWebViewFixture.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestPageLibrary.h"

namespace {

using Response = HttpTestServer::Response;

constexpr const char* kFlowsSendOnload =
    "<script>addEventListener('load', function () {"
    " mvSendCommands({ver: '2.0', cmds: [{c: 'testOnload'}]}); });</script>";

class BrowserFlowsTest : public WebCacheServedWebViewFixture {
  protected:
    // The shop page, with the page library, shown and ready.
    void openShop(const std::string& body, const std::string& head = {}) {
        Response page = Response::text(
            200, testpage::pageWithLibrary(body, kFlowsSendOnload + head), "text/html");
        page.headers.set("Cache-Control", "max-age=600");
        server.respond("/shop", page);
        webView->openUrl(shop());
        ASSERT_TRUE(settleOnline([&] {
            return webView->isUsingLibrary() && !webView->isLoading() &&
                   js("location.href") == shop();
        }));
    }
    std::string shop() { return server.url("/shop"); }
    // The page sends a command after `delay` ms; it is performed for this web view.
    bool laterCommandPerformed(int delay = 50) {
        const size_t trips = pageRoundTrips().size();
        js("setTimeout(function () { mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: "
           "{event: 'after'}}]}); }, " +
           std::to_string(delay) + ");");
        return settleOnline([&] {
                   return pageRoundTrips().size() == trips + 1 &&
                          pageRoundTrips().back().webView == webView.get();
               }) &&
               js("String(MVEvent.received.some(function (e) { return e.name === 'after'; }))") ==
                   "true";
    }
    static std::string fileAt(const std::string& path) {
        return platform::FileManager::defaultManager().readFile(path).value_or("<none>");
    }

    HttpTestServer server;
};

TEST_F(BrowserFlowsTest, ADownloadNeverBecomesThePage) {
    const struct Row {
        const char* name;
        const char* path;
        const char* type;
        const char* disposition;  // none when empty
        const char* body;
        const char* follow;  // how the page asks for it: HREF stands for the address
        const char* saved;   // the file's name in the download folder
    } rows[] = {
        {"PdfInvoiceByALink", "/invoice/7", "application/pdf",
         "attachment; filename=\"invoice-7.pdf\"", "%PDF-1.4 invoice", "link", "invoice-7.pdf"},
        {"OctetStreamWithoutDisposition", "/files/data.bin", "application/octet-stream", "",
         "\x01\x02 raw", "location", "data.bin"},
        {"CsvByExtendedName", "/export", "text/csv",
         "attachment; filename*=UTF-8''r%C3%A9sum%C3%A9.csv; filename=\"resume.csv\"", "a,b\n1,2\n",
         "blank", "r\xC3\xA9sum\xC3\xA9.csv"},
        {"HtmlAttachment", "/invoice/7.html", "text/html; charset=utf-8",
         "attachment; filename=\"../../invoice.html\"", "<html><body>invoice</body></html>", "link",
         "invoice.html"},
        {"TheSameNameAgain", "/invoice/7", "application/pdf",
         "attachment; filename=\"invoice-7.pdf\"", "%PDF-1.4 invoice", "location",
         "invoice-7 (2).pdf"},
    };
    openShop("<p>shop</p>");
    const std::string folder = downloadFolder();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Response file = Response::text(200, row.body, row.type);
        if (*row.disposition) file.headers.set("Content-Disposition", row.disposition);
        server.respond(row.path, file);
        const std::string address = server.url(row.path);
        const std::string follow =
            std::string(row.follow) == "location"
                ? "location.href = '" + address + "';"
                : "var a = document.createElement('a'); a.href = '" + address + "';" +
                      (std::string(row.follow) == "blank" ? " a.target = '_blank';" : "") +
                      " document.body.appendChild(a); a.click();";
        js(follow);
        const std::string saved = folder + "/" + row.saved;
        ASSERT_TRUE(
            settleOnline([&] { return fileAt(saved) != "<none>" && !webView->isLoading(); }));
        EXPECT_EQ(fileAt(saved), row.body);
        EXPECT_TRUE(logged("saved the download [" + address + "] as " + saved));
        EXPECT_EQ(loggedLevel("MVWebView" + webView->debugName() + " saved the download [" +
                              address + "] as " + saved),
                  4);
        EXPECT_EQ(historyUrls(), std::vector<std::string>{shop()});
        EXPECT_EQ(js("location.href"), shop());
        EXPECT_EQ(js("typeof MVEvent"), "object");
        EXPECT_EQ(webView->webView()->alpha(), 1.0);
        EXPECT_TRUE(laterCommandPerformed());
    }
    EXPECT_FALSE(logged("lost commands"));
}

TEST_F(BrowserFlowsTest, AReloadIsANewDocumentFetchedAsEveryDocumentIs) {
    const struct Row {
        const char* name;
        const char* reload;
        const char* fragment;  // of the page's address after it
    } rows[] = {
        {"LocationReload", "location.reload();", ""},
        {"LinkToItsOwnAddress",
         "var a = document.createElement('a'); a.href = location.href;"
         " document.body.appendChild(a); a.click();",
         ""},
        {"LocationAssignOfItsOwnAddress", "location.assign(location.href);", ""},
        {"ReloadAfterAFragment",
         "location.hash = 'x'; setTimeout(function () { location.reload(); }, 20);", "#x"},
    };
    // Each document sends three commands once loaded, numbered from 0.
    openShop("<p>shop</p>",
             "<script>addEventListener('load', function () { for (var i = 0; i < 3; i++)"
             " mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'loaded'}}]});"
             " });</script>");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const size_t trips = pageRoundTrips().size();
        const size_t finishes = owner->count("didFinishLoad");
        js("window.before = true;" + std::string(row.reload));
        ASSERT_TRUE(settleOnline([&] {
            return owner->count("didFinishLoad") > finishes && !webView->isLoading() &&
                   webView->isUsingLibrary() && pageRoundTrips().size() >= trips + 3;
        }));
        drain();
        EXPECT_EQ(js("String(window.before)"), "undefined");  // a new document
        // A fragment change is an entry of its own, as in a browser; the reload keeps both.
        const std::vector<std::string> entries =
            *row.fragment ? std::vector<std::string>{shop(), shop() + row.fragment}
                          : std::vector<std::string>{shop()};
        EXPECT_EQ(historyUrls(), entries);
        EXPECT_EQ(js("location.href"), shop() + row.fragment);
        EXPECT_TRUE(laterCommandPerformed());
        // Served by the web cache (whose key is the whole address): the server saw the
        // first fetch only.
        if (!*row.fragment) {
            EXPECT_EQ(server.requestCount("/shop"), 1u);
        }
    }
    EXPECT_FALSE(logged("lost commands"));
}

TEST_F(BrowserFlowsTest, LinksThatAreNoPageOfTheShop) {
    server.respond(
        "/product",
        Response::text(200, testpage::pageWithLibrary("<p>product</p>", kFlowsSendOnload),
                       "text/html"));
    const struct Row {
        const char* name;
        const char* head;    // the page's own script
        const char* script;  // the buyer's click
        bool followed;       // the product page is shown in the web view
    } rows[] = {
        {"SmsLink", "",
         "var a = document.createElement('a'); a.href = 'sms:+4930123';"
         " document.body.appendChild(a); a.click();",
         false},
        {"UnknownScheme", "", "location.href = 'shopapp://cart';", false},
        // The engine blocks it as a browser blocks a pop-up.
        {"WindowOpenByItself",
         "<script>addEventListener('load', function () { window.open('PRODUCT'); });</script>", "",
         false},
        {"NewWindowLinkClicked", "",
         "var a = document.createElement('a'); a.href = 'PRODUCT'; a.target = '_blank';"
         " document.body.appendChild(a); a.click();",
         true},
        {"WindowOpenOnAClick", "", "window.open('PRODUCT');", true},
    };
    const auto withProduct = [&](std::string text) {
        if (const size_t at = text.find("PRODUCT"); at != std::string::npos)
            text.replace(at, 7, server.url("/product"));
        return text;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        openShop("<p>shop</p>", withProduct(row.head));
        js(withProduct(row.script));
        if (row.followed) {
            ASSERT_TRUE(settleOnline([&] {
                return js("location.href") == server.url("/product") && !webView->isLoading() &&
                       webView->isUsingLibrary();
            }));
            EXPECT_EQ(historyUrls(), (std::vector<std::string>{shop(), server.url("/product")}));
        } else {
            // What the page asked for has been decided before its next command.
            EXPECT_TRUE(laterCommandPerformed(100));
            EXPECT_EQ(historyUrls(), std::vector<std::string>{shop()});
            EXPECT_EQ(js("location.href"), shop());
        }
        EXPECT_TRUE(laterCommandPerformed());
    }
}

}  // namespace
