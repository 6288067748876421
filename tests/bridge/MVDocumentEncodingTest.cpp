// The encoding a fetched document is handed on with, and what a header's value may put
// into the document.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "libmerovane/bridge/MVDocumentEncoding.h"
#include "libmerovane/bridge/MVDocumentHeaderPolicies.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URL.h"

namespace {

struct SniffRow {
    const char* name;
    const char* mimeType;
    const char* charset;  // the response's
    std::string document;
    const char* expected;
};

void PrintTo(const SniffRow& row, std::ostream* out) {
    *out << row.name;
}

const std::string kFarAway = "<!--" + std::string(1100, '-') + "-->";

const SniffRow kSniffRows[] = {
    // A byte-order mark comes before everything, the header's charset included.
    {"Utf8Mark", "text/html", "", "\xEF\xBB\xBF<meta charset=shift_jis>", "UTF-8"},
    {"Utf16LittleEndianMarkOverTheHeader", "text/html", "windows-1252", "\xFF\xFE<\0", "UTF-16LE"},
    {"Utf16BigEndianMark", "text/html", "", "\xFE\xFF\0<", "UTF-16BE"},
    {"TheHeaderOverTheMeta", "text/html", "ISO-8859-2", "<meta charset=shift_jis>", "ISO-8859-2"},
    {"MetaCharset", "text/html", "", "<!DOCTYPE html><meta charset=\"windows-1252\">",
     "windows-1252"},
    {"MetaCharsetUnquoted", "TEXT/HTML", "", "<META CHARSET=windows-1252 />", "windows-1252"},
    {"HttpEquivContentType", "text/html", "",
     "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">", "Shift_JIS"},
    {"ContentBeforeHttpEquiv", "text/html", "",
     "<meta content='text/html;charset=\"shift_jis\"' http-equiv=content-type>", "shift_jis"},
    {"ContentWithoutHttpEquivIsNoDeclaration", "text/html", "",
     "<meta content=\"text/html; charset=Shift_JIS\"><p>", ""},
    {"AfterACommentAndAManifest", "text/html", "",
     "<!-- shop --><html manifest=\"a.appcache\"><head><meta charset=\"ISO-8859-2\">",
     "ISO-8859-2"},
    {"InsideACommentIsNoDeclaration", "text/html", "", "<!-- <meta charset=shift_jis> --><p>", ""},
    {"InAnAttributeIsNoDeclaration", "text/html", "",
     "<div title='<meta charset=shift_jis>'></div>", ""},
    {"PastTheFirst1024Bytes", "text/html", "", kFarAway + "<meta charset=windows-1252>", ""},
    {"DeclaredUtf16ReadsAsUtf8", "text/html", "", "<meta charset=utf-16>", "UTF-8"},
    // Every other label of UTF-16 too.
    {"DeclaredUcs2ReadsAsUtf8", "text/html", "", "<meta charset=\"ucs-2\">", "UTF-8"},
    {"DeclaredCsUnicodeReadsAsUtf8", "text/html", "",
     "<meta http-equiv=Content-Type content=\"text/html; charset=csUnicode\">", "UTF-8"},
    {"DeclaredUnicodeFFFEReadsAsUtf8", "text/html", "", "<meta charset=unicodeFFFE>", "UTF-8"},
    {"DeclaredIso10646Ucs2ReadsAsUtf8", "text/html", "", "<meta charset=iso-10646-ucs-2>", "UTF-8"},
    {"XmlDeclaringUcs2IsNoDeclaration", "application/xml", "",
     "<?xml version=\"1.0\" encoding=\"ucs-2\"?><a/>", ""},
    {"AnUnreadableLabel", "text/html", "", "<meta charset=\"shift jis;<x>\">", ""},
    {"XmlDeclaration", "application/xhtml+xml", "",
     "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><html/>", "Shift_JIS"},
    {"XmlIgnoresTheMeta", "application/xhtml+xml", "", "<html><meta charset=\"Shift_JIS\"/>", ""},
    {"PlainTextNothing", "text/plain", "", "<meta charset=shift_jis>", ""},
    {"NothingDeclared", "text/html", "", "<p>caf\xE9</p>", ""},
};

class EncodingSniffTest : public testing::TestWithParam<SniffRow> {};

TEST_P(EncodingSniffTest, FindsTheEncodingAsABrowserDoes) {
    const SniffRow& row = GetParam();
    EXPECT_EQ(documentTextEncodingName(row.document, row.mimeType, row.charset), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Documents, EncodingSniffTest, testing::ValuesIn(kSniffRows),
                         [](const testing::TestParamInfo<SniffRow>& info) {
                             return std::string(info.param.name);
                         });

// What reaches a document of each encoding from a policy header.
struct WrittenRow {
    const char* name;
    std::string document;
    const char* charset;  // as found for the document
    std::string policy;
    std::string expected;
};

void PrintTo(const WrittenRow& row, std::ostream* out) {
    *out << row.name;
}

const std::string kUtf16Page("\xFF\xFE<\0p\0>\0", 8);

const WrittenRow kWrittenRows[] = {
    {"Utf16ByItsMarkStaysAsItCame", kUtf16Page, "UTF-16LE", "img-src 'none'", kUtf16Page},
    {"ControlBytesAsReferences", "<p>", "windows-1252", std::string("a\0b\rc\nd\x1b$Be", 11),
     "<meta http-equiv=\"Content-Security-Policy\" "
     "content=\"a&#x00;b&#x0D;c&#x0A;d&#x1B;$Be\"><p>"},
    {"CsUnicodeByTheHeaderGetsNone", kUtf16Page, "csUnicode", "img-src 'none'", kUtf16Page},
    {"BytesBeyondASCIIAsReferences", "<p>", "Shift_JIS", "img-src \x93\xFA",
     "<meta http-equiv=\"Content-Security-Policy\" content=\"img-src &#x93;&#xFA;\"><p>"},
};

class WrittenPolicyTest : public testing::TestWithParam<WrittenRow> {};

TEST_P(WrittenPolicyTest, WritesOnlyWhatReadsTheSameInTheDocument) {
    const WrittenRow& row = GetParam();
    platform::HTTPHeaderFields fields;
    fields.set("Content-Type", "text/html");
    fields.set("Content-Security-Policy", row.policy);
    const platform::HTTPURLResponse response(*platform::URL::parse("https://shop.example/page"),
                                             200, "HTTP/1.1", fields);
    EXPECT_EQ(documentWithHeaderPolicies(row.document, row.charset, response), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Documents, WrittenPolicyTest, testing::ValuesIn(kWrittenRows),
                         [](const testing::TestParamInfo<WrittenRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
