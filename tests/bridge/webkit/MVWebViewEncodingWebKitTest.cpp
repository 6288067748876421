// A document reads in the encoding a browser finds for it (its byte-order mark, its
// response's charset, its own declaration), from the server and from the web cache, with
// and without a policy header written into it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

#include "tests/bridge/webkit/WebCacheServedWebViewFixture.h"
#include "tests/support/HttpTestServer.h"

namespace {

using Response = HttpTestServer::Response;

struct EncodingRow {
    const char* name;
    const char* contentType;   // the response's
    std::string document;      // TEXT stands for `text`, in the document's encoding
    std::string text;          // the paragraph's bytes
    const char* characterSet;  // as the page reads it
    const char* codePoints;    // of the paragraph's text
};

void PrintTo(const EncodingRow& row, std::ostream* out) {
    *out << row.name;
}

// "café €" in windows-1252, "日本" in Shift_JIS, "Łódź" in ISO-8859-2.
const std::string kCp1252 = "caf\xE9 \x80";
const std::string kSjis = "\x93\xFA\x96\x7B";
const std::string kLatin2 = "\xA3\xF3\x64\xBC";
constexpr const char* kCafe = "63 61 66 e9 20 20ac";
// Pushes what follows past the first 1024 bytes a browser looks at once a 2 KB policy
// stood before it, and keeps it within them without.
const std::string kLongComment = "<!--" + std::string(900, '-') + "-->";

std::string utf16(const std::string& ascii, bool bigEndian) {
    std::string wide = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : ascii) {
        if (bigEndian) wide += '\0';
        wide += c;
        if (!bigEndian) wide += '\0';
    }
    return wide;
}
// "café €" in UTF-16, without its byte-order mark.
std::string cafeUTF16(bool bigEndian) {
    const unsigned units[] = {0x63, 0x61, 0x66, 0xe9, 0x20, 0x20ac};
    std::string bytes;
    for (const unsigned unit : units) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xff);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}
std::string utf16Page(bool bigEndian) {
    return utf16("<!DOCTYPE html><html><head></head><body><p id=\"t\">", bigEndian) +
           cafeUTF16(bigEndian) + utf16("</p></body></html>", bigEndian).substr(2);
}

const EncodingRow kEncodingRows[] = {
    {"Cp1252InTheHeader", "text/html; charset=windows-1252",
     "<!DOCTYPE html><html><body><p id=\"t\">TEXT</p></body></html>", kCp1252, "windows-1252",
     kCafe},
    {"Cp1252MetaEarly", "text/html",
     "<!DOCTYPE html><html><head><meta charset=\"windows-1252\"></head><body><p id=\"t\">TEXT</p>"
     "</body></html>",
     kCp1252, "windows-1252", kCafe},
    {"Cp1252MetaLate", "text/html",
     "<!DOCTYPE html><html><head>" + kLongComment +
         "<title>x</title><meta charset=windows-1252></head><body><p id=\"t\">TEXT</p></body>"
         "</html>",
     kCp1252, "windows-1252", kCafe},
    {"ShiftJisHttpEquivEarly", "text/html",
     "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
     "</head><body><p id=\"t\">TEXT</p></body></html>",
     kSjis, "Shift_JIS", "65e5 672c"},
    {"ShiftJisHttpEquivLate", "text/html",
     "<!DOCTYPE html><html><head>" + kLongComment +
         "<meta content='text/html;charset=shift_jis' http-equiv='content-type'></head><body>"
         "<p id=\"t\">TEXT</p></body></html>",
     kSjis, "Shift_JIS", "65e5 672c"},
    {"ShiftJisInTheHeader", "text/html; charset=Shift_JIS",
     "<html><body><p id=\"t\">TEXT</p></body></html>", kSjis, "Shift_JIS", "65e5 672c"},
    {"Latin2AfterACommentAndAManifest", "text/html",
     "<!-- shop --><!DOCTYPE html><html manifest=\"shop.appcache\"><head><meta "
     "charset=\"ISO-8859-2\"></head><body><p id=\"t\">TEXT</p></body></html>",
     kLatin2, "ISO-8859-2", "141 f3 64 17a"},
    {"Latin2InTheHeader", "text/html; charset=iso-8859-2",
     "<!DOCTYPE html><html><body><p id=\"t\">TEXT</p></body></html>", kLatin2, "ISO-8859-2",
     "141 f3 64 17a"},
    {"Utf16LittleEndianByItsMark", "text/html", utf16Page(false), "", "UTF-16LE", kCafe},
    {"Utf16BigEndianByItsMark", "text/html", utf16Page(true), "", "UTF-16BE", kCafe},
    {"Utf16ByItsMarkAndTheHeader", "text/html; charset=utf-16", utf16Page(false), "", "UTF-16LE",
     kCafe},
    {"Utf8MetaWithAByteOrderMark", "text/html",
     "\xEF\xBB\xBF<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><p "
     "id=\"t\">caf\xC3\xA9 \xE2\x82\xAC</p></body></html>",
     "", "UTF-8", kCafe},
};

enum class EncodingPolicy { None, Long };
enum class EncodingSource { Server, WebCache };

using Param = std::tuple<EncodingRow, EncodingPolicy, EncodingSource>;

class DocumentEncodingTest : public WebCacheServedWebViewFixture,
                             public testing::WithParamInterface<Param> {
  protected:
    HttpTestServer server;
};

// About 2 KB of policy, as a shop's server may send.
std::string longPolicy() {
    std::string policy = "img-src 'self'";
    for (int i = 0; i < 60; ++i) policy += " https://images" + std::to_string(i) + ".example";
    return policy;
}

TEST_P(DocumentEncodingTest, ReadsAsABrowserReadsIt) {
    const auto& [row, policy, source] = GetParam();
    std::string document = row.document;
    if (const size_t at = document.find("TEXT"); at != std::string::npos)
        document.replace(at, 4, row.text);
    Response page = Response::text(200, document, row.contentType);
    page.headers.set("Cache-Control", "max-age=600");
    if (policy == EncodingPolicy::Long) page.headers.set("Content-Security-Policy", longPolicy());
    server.respond("/page", page);
    server.respond("/other", Response::text(200, "<p>other</p>", "text/html"));
    const std::string url = server.url("/page");
    if (source == EncodingSource::WebCache) {
        webView->openUrl(url);
        ASSERT_TRUE(shown(url));
        webView->openUrl(server.url("/other"));
        ASSERT_TRUE(shown(server.url("/other")));
    }
    webView->openUrl(url);
    ASSERT_TRUE(shown(url));
    EXPECT_EQ(server.requestCount("/page"), 1u);
    EXPECT_EQ(js("document.characterSet"), row.characterSet);
    EXPECT_EQ(js("Array.from(document.getElementById('t').textContent).map(function (c) {"
                 " return c.codePointAt(0).toString(16); }).join(' ')"),
              row.codePoints);
    // The policy is written into a document that reads ASCII as itself; a UTF-16 one
    // stays as it came.
    const bool written =
        policy == EncodingPolicy::Long && !std::string(row.characterSet).starts_with("UTF-16");
    // (The extension's own frame policy stands in every document: not counted.)
    EXPECT_EQ(js("String(document.querySelectorAll('meta[http-equiv=Content-Security-Policy]"
                 ":not([content^=\"frame-src * data:\"])').length > 0)"),
              written ? "true" : "false");
}

INSTANTIATE_TEST_SUITE_P(
    Documents, DocumentEncodingTest,
    testing::Combine(testing::ValuesIn(kEncodingRows),
                     testing::Values(EncodingPolicy::None, EncodingPolicy::Long),
                     testing::Values(EncodingSource::Server, EncodingSource::WebCache)),
    [](const testing::TestParamInfo<Param>& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == EncodingPolicy::Long ? "WithAPolicy" : "") +
               (std::get<2>(info.param) == EncodingSource::WebCache ? "FromTheWebCache" : "");
    });

// A response the shell cannot take (a header longer than URL loading reads) ends the load
// as any failed load does: logged, announced, the page shown before stays.
TEST_F(DocumentEncodingTest, AResponseThatCannotBeTakenFailsAsAnyFailedLoad) {
    server.respond("/shop", Response::text(200, "<p id=\"t\">shop</p>", "text/html"));
    webView->openUrl(server.url("/shop"));
    ASSERT_TRUE(shown(server.url("/shop")));
    Response page = Response::text(200, "<p id=\"t\">x</p>", "text/html");
    std::string policy = "img-src 'self'";
    while (policy.size() < 200 * 1024) policy += " https://images.example";
    page.headers.set("Content-Security-Policy", policy);
    server.respond("/page", page);
    HttpTestServer::RefusingPort refusing;
    for (const std::string& url : {server.url("/page"), refusing.url("/page")}) {
        SCOPED_TRACE(url);
        webView->openUrl(url);
        ASSERT_TRUE(settleOnline([&] { return !webView->isLoading(); }));
        EXPECT_EQ(
            loggedLevel("MVWebView" + webView->debugName() + " did fail loading [" + url + "]"), 2);
        EXPECT_EQ(js("document.getElementById('t').textContent"), "shop");
    }
}

}  // namespace
