// A page's POST form in the real engine as WebKitGTK alone sends it: a multipart form with
// chosen files reaches the server with its fields in order, each file's name, type and bytes
// (by a click, requestSubmit with its submitter, form.submit() and at load); a document a
// POST answered is reloaded as WebKitGTK reloads it: the user's reload posts the same
// request again where the POST's answer is shown at its address, and asks for the redirect's
// page after a 303; the page's location.reload() asks for its address with GET.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

#include "tests/bridge/webkit/FormPageFixture.h"

namespace {

using Response = HttpTestServer::Response;
using namespace std::string_view_literals;

enum class FilesSend { Click, RequestSubmit, Script, AtLoad };
enum class FilesReload { None, User, Page };

struct FilesRow {
    const char* name;
    const char* enctype;
    const char* form;  // the form's fields and buttons (#go); its action is /post
    const char* pick;  // script choosing the files of input[name=doc]
    FilesSend send;
    int answer;  // 303 (to /done) or 200 (a page at /post)
    FilesReload reload;
    std::string_view body;          // the body; BOUNDARY stands for the multipart boundary
    const char* charset = "utf-8";  // the page's
};

void PrintTo(const FilesRow& row, std::ostream* out) {
    *out << row.name;
}

// A user's choice of files, as the file chooser sets them.
constexpr const char* kOneTextFile =
    "var d = new DataTransfer(); d.items.add(new File(['hello\\n'], 'a.txt', {type: "
    "'text/plain'}));"
    " document.querySelector('input[name=doc]').files = d.files;";
constexpr const char* kTwoFiles =
    "var d = new DataTransfer(); d.items.add(new File([new Uint8Array([0, 1, 2, 255, 13, 10])],"
    " 'b.bin')); d.items.add(new File(['<x>'], 'c.html', {type: 'text/html'}));"
    " document.querySelector('input[name=doc]').files = d.files;";
constexpr const char* kOddName =
    "var d = new DataTransfer(); d.items.add(new File(['x\\ny\\u00e9'], 'f\\n\"\\u00e9.txt',"
    " {type: 'text/plain'})); document.querySelector('input[name=doc]').files = d.files;";

#define FILES_PART(name) "--BOUNDARY\r\nContent-Disposition: form-data; name=\"" name "\""
#define FILES_FIELD(name, value) FILES_PART(name) "\r\n\r\n" value "\r\n"
#define FILES_FILE(name, file, type, bytes) \
    FILES_PART(name) "; filename=\"" file "\"\r\nContent-Type: " type "\r\n\r\n" bytes "\r\n"
constexpr const char* kFilesEnd = "--BOUNDARY--\r\n";

const FilesRow kFilesRows[] = {
    // A file with a field before and after it, by the buyer's click, answered by a 303.
    {"FileByClick", "multipart/form-data",
     "<input name=note value=inv><input type=file name=doc><input name=after value=z>",
     kOneTextFile, FilesSend::Click, 303, FilesReload::None,
     FILES_FIELD("note", "inv") FILES_FILE("doc", "a.txt", "text/plain", "hello\n")
         FILES_FIELD("after", "z") ""sv},
    // Two files of one input (one without a type, bytes beyond ASCII and a CRLF), sent by
    // requestSubmit with its submitter, answered at the form's address.
    {"FilesByRequestSubmitWithSubmitter", "multipart/form-data",
     "<input type=file name=doc multiple><button name=act value=pay id=pay>pay</button>", kTwoFiles,
     FilesSend::RequestSubmit, 200, FilesReload::None,
     FILES_FILE("doc", "b.bin", "application/octet-stream", "\x00\x01\x02\xff\r\n")
         FILES_FILE("doc", "c.html", "text/html", "<x>") FILES_FIELD("act", "pay") ""sv},
    // form.submit(): no submit event, no submitter; a name with quotes and line breaks.
    {"FileByFormSubmit", "multipart/form-data",
     "<textarea name='t\"x'>l1\nl2</textarea><input type=file name=doc>"
     "<button name=act value=no>b</button>",
     kOddName, FilesSend::Script, 200, FilesReload::None,
     FILES_FIELD("t%22x", "l1\r\nl2")
         FILES_FILE("doc", "f%0A%22\xc3\xa9.txt", "text/plain", "x\ny\xc3\xa9") ""sv},
    // Sent by the page's load handler.
    {"FileAtLoad", "multipart/form-data", "<input name=n value=1><input type=file name=doc>",
     kOneTextFile, FilesSend::AtLoad, 303, FilesReload::None,
     FILES_FIELD("n", "1") FILES_FILE("doc", "a.txt", "text/plain", "hello\n") ""sv},
    // An url-encoded form holding a file sends its name, as a browser does.
    {"UrlEncodedWithAFile", "application/x-www-form-urlencoded",
     "<input name=a value=b><input type=file name=doc>", kOneTextFile, FilesSend::Click, 200,
     FilesReload::None, "a=b&doc=a.txt"sv},
    // A page in windows-1252: names, values and file names in its encoding, what it lacks
    // as a character reference.
    {"FileFromAWindows1252Page", "multipart/form-data",
     "<input name='n&#233;' value='caf&#233; &#8364; &#12354;'><input type=file name=doc>",
     "var d = new DataTransfer(); d.items.add(new File(['x'], '\\u00e9\\u3042.txt',"
     " {type: 'text/plain'})); document.querySelector('input[name=doc]').files = d.files;",
     FilesSend::Click, 303, FilesReload::None,
     FILES_FIELD("n\xe9", "caf\xe9 \x80 &#12354;")
         FILES_FILE("doc", "\xe9&#12354;.txt", "text/plain", "x") ""sv,
     "windows-1252"},
    // A blob the page's own formdata listener adds to a form without a file input.
    {"BlobAddedByThePage", "multipart/form-data", "<input name=a value=1>",
     "document.forms[0].addEventListener('formdata', function (e) {"
     " e.formData.append('extra', new Blob(['zz'], {type: 'text/csv'})); });",
     FilesSend::Click, 200, FilesReload::None,
     FILES_FIELD("a", "1") FILES_FILE("extra", "blob", "text/csv", "zz") ""sv},
    // The user's reload of a POST's answer at its address posts the same request again.
    {"FileThenUsersReload", "multipart/form-data",
     "<input name=note value=inv><input type=file name=doc>", kOneTextFile, FilesSend::Click, 200,
     FilesReload::User,
     FILES_FIELD("note", "inv") FILES_FILE("doc", "a.txt", "text/plain", "hello\n") ""sv},
    {"UrlEncodedThenUsersReload", "application/x-www-form-urlencoded",
     "<input name=user value=ann><input name=pw value=s3cret>", "", FilesSend::Click, 200,
     FilesReload::User, "user=ann&pw=s3cret"sv},
    // After a 303 the user's reload asks for the redirect's page.
    {"UrlEncodedAnsweredBy303ThenUsersReload", "application/x-www-form-urlencoded",
     "<input name=user value=ann>", "", FilesSend::Click, 303, FilesReload::User, "user=ann"sv},
    {"FileAnsweredBy303ThenUsersReload", "multipart/form-data", "<input type=file name=doc>",
     kOneTextFile, FilesSend::Click, 303, FilesReload::User,
     FILES_FILE("doc", "a.txt", "text/plain", "hello\n") ""sv},
    // The page's location.reload() asks for its address with GET, as WebKit does.
    {"PlainTextThenPagesReload", "text/plain", "<input name=a value='b c'>", "", FilesSend::Click,
     200, FilesReload::Page, "a=b c\r\n"sv},
    {"FileAnsweredBy303ThenPagesReload", "multipart/form-data", "<input type=file name=doc>",
     kOneTextFile, FilesSend::Click, 303, FilesReload::Page,
     FILES_FILE("doc", "a.txt", "text/plain", "hello\n") ""sv},
};

class FormFilesTest : public FormPageFixture, public testing::WithParamInterface<FilesRow> {};

TEST_P(FormFilesTest, ReachesTheServerAsWebKitAloneSendsIt) {
    const FilesRow& row = GetParam();
    std::string page =
        std::string("<form method=post action=/post enctype=\"") + row.enctype + "\">" + row.form +
        "<button id=go>go</button></form><script>function pick() {" + row.pick + "}</script>";
    if (row.send == FilesSend::AtLoad)
        page +=
            "<script>addEventListener('load', function () { setTimeout(function () {"
            " pick(); document.forms[0].requestSubmit(); }, 50); });</script>";
    server.respond("/form",
                   Response::text(200,
                                  testpage::pageWithLibrary(
                                      page, std::string("<meta charset=") + row.charset +
                                                "><title>form</title>" + kFormPageSendsOnload),
                                  std::string("text/html; charset=") + row.charset));
    answerAt(row.answer);

    webView->openUrl(server.url("/form"));
    if (row.send != FilesSend::AtLoad) {
        ASSERT_TRUE(shows("form"));
        const char* send = row.send == FilesSend::Click ? "document.getElementById('go').click()"
                           : row.send == FilesSend::RequestSubmit
                               ? "document.forms[0].requestSubmit("
                                 "document.getElementById('pay'))"
                               : "document.forms[0].submit()";
        js(std::string("pick(); ") + send);
    }
    const auto answered = answeredPost();
    ASSERT_TRUE(answered) << server.requestCount("/post");
    const auto& post = *answered;
    EXPECT_EQ(post.method, "POST");
    const std::string contentType = post.header("Content-Type").value_or("");
    EXPECT_TRUE(contentType.starts_with(row.enctype)) << contentType;
    std::string body(row.body);
    if (contentType.starts_with("multipart/")) body += kFilesEnd;
    body = withBoundary(std::move(body), contentType);
    EXPECT_EQ(post.body, body);
    EXPECT_EQ(post.header("Origin").value_or(""), server.baseURL());
    const std::string shown = server.url(row.answer == 303 ? "/done" : "/post");
    EXPECT_EQ(js("location.href"), shown);
    EXPECT_TRUE(commandsStillArrive());
    if (row.reload == FilesReload::None) return;

    const size_t entries = historyUrls().size();
    const size_t posts = server.requestCount("/post");
    const size_t dones = server.requestCount("/done");
    js("document.title = 'before the reload'");
    if (row.reload == FilesReload::User)
        webView->reload();
    else
        js("location.reload()");
    ASSERT_TRUE(shows("answer"));
    const bool reposts = row.reload == FilesReload::User && row.answer == 200;
    EXPECT_EQ(server.requestCount("/post"), posts + (row.answer == 200 ? 1 : 0));
    EXPECT_EQ(server.requestCount("/done"), dones + (row.answer == 303 ? 1 : 0));
    const auto again = *server.lastRequest(row.answer == 303 ? "/done" : "/post");
    EXPECT_EQ(again.method, reposts ? "POST" : "GET");
    EXPECT_EQ(again.body, reposts ? post.body : "");
    if (reposts) {
        EXPECT_EQ(again.header("Content-Type"), post.header("Content-Type"));
        EXPECT_EQ(again.header("Origin"), post.header("Origin"));
    }
    EXPECT_EQ(js("location.href"), shown);
    EXPECT_EQ(historyUrls().size(), entries);
    EXPECT_TRUE(commandsStillArrive());
}

#undef FILES_PART
#undef FILES_FIELD
#undef FILES_FILE

INSTANTIATE_TEST_SUITE_P(Forms, FormFilesTest, testing::ValuesIn(kFilesRows),
                         [](const testing::TestParamInfo<FilesRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
