// A page's form sent with POST in the real engine reaches the server as a browser sends it:
// its fields in the form's encoding, its Content-Type (with the multipart boundary), its
// Origin and the cookies of its address; the answer (a redirect or a page at the same
// address) becomes the page, which goes on sending commands.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/bridge/webkit/FormPageFixture.h"
#include "tests/bridge/webkit/WebCacheServedWebViewFixture.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestPageLibrary.h"

namespace {

using Response = HttpTestServer::Response;

enum class Send { Click, Script, AtLoad };

struct FormRow {
    const char* name;
    const char* form;         // the form, its button #go; its action is /post
    Send send;                // how the page sends it
    int answer;               // 303 (to /done) or 200 (a page at /post)
    const char* contentType;  // what the Content-Type starts with
    const char* body;         // the body; BOUNDARY stands for the multipart boundary
};

void PrintTo(const FormRow& row, std::ostream* out) {
    *out << row.name;
}

// A file picked in the form's file input, as a user's choice would set it.
constexpr const char* kFormPagePicksAFile =
    "<script>function pick() { var dt = new DataTransfer();"
    " dt.items.add(new File(['hello\\n'], 'a.txt', {type: 'text/plain'}));"
    " document.querySelector('input[type=file]').files = dt.files; }</script>";

const FormRow kFormRows[] = {
    // A login answered by a redirect to the signed-in page.
    {"LoginAnsweredBy303", "<input name=user value=ann><input name=pw value=s3cret>", Send::Click,
     303, "application/x-www-form-urlencoded", "user=ann&pw=s3cret"},
    // A cart posted to its own address, answered there; text beyond ASCII, spaces.
    {"CartAnsweredAtItsAddress",
     "<input name=item value=\"caf\xc3\xa9 1\"><input name=qty value=2>", Send::Click, 200,
     "application/x-www-form-urlencoded", "item=caf%C3%A9+1&qty=2"},
    // Sent by the page's script, no click.
    {"SentByScript", "<input name=q value=\"a&b=c\">", Send::Script, 200,
     "application/x-www-form-urlencoded", "q=a%26b%3Dc"},
    // Sent by the page's load handler, with the submit event.
    {"SentAtLoad", "<input name=user value=ann>", Send::AtLoad, 303,
     "application/x-www-form-urlencoded", "user=ann"},
    // Fields and a file input left empty, multipart.
    {"MultipartWithoutAFile", "<input name=note value=inv><input type=file name=doc>", Send::Click,
     200, "multipart/form-data; boundary=",
     "--BOUNDARY\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\ninv\r\n"
     "--BOUNDARY\r\nContent-Disposition: form-data; name=\"doc\"; filename=\"\"\r\n"
     "Content-Type: application/octet-stream\r\n\r\n\r\n--BOUNDARY--\r\n"},
    {"PlainText", "<input name=a value=\"b c\"><input name=d value=e>", Send::Click, 303,
     "text/plain", "a=b c\r\nd=e\r\n"},
};

class FormPostTest : public FormPageFixture, public testing::WithParamInterface<FormRow> {};

TEST_P(FormPostTest, ReachesTheServerAsABrowserSendsIt) {
    const FormRow& row = GetParam();
    std::string enctype = row.contentType;
    enctype = enctype.substr(0, enctype.find(';'));
    std::string form = std::string("<form method=post action=/post enctype=\"") + enctype + "\">" +
                       row.form + "<button id=go>go</button></form>" + kFormPagePicksAFile;
    if (row.send == Send::AtLoad)
        // After the onload command has left: a navigation of the same task would drop it.
        form +=
            "<script>addEventListener('load', function () { setTimeout(function () {"
            " document.forms[0].requestSubmit(); }, 50); });</script>";
    Response page = Response::text(
        200,
        testpage::pageWithLibrary(
            form, std::string("<meta charset=utf-8><title>form</title>") + kFormPageSendsOnload),
        "text/html; charset=utf-8");
    page.headers.set("Set-Cookie", "sid=s1; Path=/; HttpOnly; SameSite=Lax");
    server.respond("/form", page);
    answerAt(row.answer);

    webView->openUrl(server.url("/form"));
    if (row.send != Send::AtLoad) {
        ASSERT_TRUE(shows("form"));
        js(row.send == Send::Click ? "document.getElementById('go').click()"
                                   : "document.forms[0].submit()");
    }
    const auto answered = answeredPost();
    ASSERT_TRUE(answered) << server.requestCount("/post");
    const auto& post = *answered;
    EXPECT_EQ(post.method, "POST");
    const std::string contentType = post.header("Content-Type").value_or("");
    EXPECT_TRUE(contentType.starts_with(row.contentType)) << contentType;
    const std::string body = withBoundary(row.body, contentType);
    EXPECT_EQ(post.body, body);
    EXPECT_EQ(post.header("Origin").value_or(""), server.baseURL());
    EXPECT_EQ(post.header("Cookie").value_or(""), "sid=s1");
    // A redirect's page is fetched with GET, without the form's body.
    const std::string shown = row.answer == 303 ? "/done" : "/post";
    if (row.answer == 303) {
        const auto done = *server.lastRequest("/done");
        EXPECT_EQ(done.method, "GET");
        EXPECT_EQ(done.body, "");
    }
    EXPECT_EQ(js("location.href"), server.url(shown));
    EXPECT_EQ(historyUrls().back(), server.url(shown));
    EXPECT_TRUE(commandsStillArrive());
}

// A body holding a file past what the shell carries is not sent at all, never without its
// file: the log says why, and the page stays and goes on.
TEST_F(FormPostTest, FormWithAFileIsNotSentWithoutIt) {
    const std::string form =
        "<form method=post action=/post enctype=multipart/form-data>"
        "<input name=note value=inv><input type=file name=doc>"
        "<button id=go>go</button></form><script>function pickLarge() {"
        " var dt = new DataTransfer();"
        " dt.items.add(new File([new Uint8Array(65 * 1024 * 1024)], 'big.bin'));"
        " document.querySelector('input[type=file]').files = dt.files; }</script>";
    server.respond(
        "/form", Response::text(200,
                                testpage::pageWithLibrary(form, std::string("<title>form</title>") +
                                                                    kFormPageSendsOnload),
                                "text/html"));
    webView->openUrl(server.url("/form"));
    ASSERT_TRUE(shows("form"));
    js("pickLarge(); document.getElementById('go').click()");
    ASSERT_TRUE(
        settle([&] { return logged("does not send the form to [" + server.url("/post")); }));
    drain();
    EXPECT_TRUE(logged("its body is larger than 67108864 bytes"));
    EXPECT_EQ(server.requestCount("/post"), 0u);
    EXPECT_EQ(js("location.href"), server.url("/form"));
    EXPECT_FALSE(webView->isLoading());
    EXPECT_TRUE(commandsStillArrive());
}

INSTANTIATE_TEST_SUITE_P(Forms, FormPostTest, testing::ValuesIn(kFormRows),
                         [](const testing::TestParamInfo<FormRow>& info) {
                             return std::string(info.param.name);
                         });

// As in the shell, the web cache serves the web view's documents: the form passes it by
// to the server, whole, and the page it sent it from came from the cache.
class FormPostThroughTheWebCacheTest : public WebCacheServedWebViewFixture {
  protected:
    bool shows(const std::string& title) {
        return settleOnline([&] {
            return webView->isUsingLibrary() && !webView->isLoading() &&
                   js("document.title") == title;
        });
    }
    HttpTestServer server;
};

TEST_F(FormPostThroughTheWebCacheTest, LoginReachesTheServerWhole) {
    Response page = Response::text(
        200,
        testpage::pageWithLibrary("<form method=post action=/post><input name=user value=ann>"
                                  "<input name=pw value=s3cret><button id=go>go</button></form>",
                                  std::string("<title>form</title>") + kFormPageSendsOnload),
        "text/html");
    page.headers.set("Cache-Control", "max-age=600");
    server.respond("/form", page);
    server.respond("/other",
                   Response::text(200,
                                  testpage::pageWithLibrary(
                                      "<p>other</p>",
                                      std::string("<title>other</title>") + kFormPageSendsOnload),
                                  "text/html"));
    server.respond("/post", Response::redirect(303, "/done"));
    server.respond("/done", Response::text(200,
                                           testpage::pageWithLibrary(
                                               "<p>in</p>", std::string("<title>answer</title>") +
                                                                kFormPageSendsOnload),
                                           "text/html"));
    for (const char* path : {"/form", "/other", "/form"}) {
        webView->openUrl(server.url(path));
        ASSERT_TRUE(shows(path == std::string("/other") ? "other" : "form"));
    }
    EXPECT_EQ(server.requestCount("/form"), 1u);
    js("document.getElementById('go').click()");
    ASSERT_TRUE(shows("answer"));
    ASSERT_EQ(server.requestCount("/post"), 1u);
    const auto post = *server.lastRequest("/post");
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.body, "user=ann&pw=s3cret");
    EXPECT_EQ(post.header("Content-Type").value_or(""), "application/x-www-form-urlencoded");
    EXPECT_EQ(post.header("Origin").value_or(""), server.baseURL());
    EXPECT_EQ(historyUrls().back(), server.url("/done"));
}

}  // namespace
