// Where and how a document's header rules are written into it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "libmerovane/bridge/MVDocumentHeaderPolicies.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URL.h"

namespace {

constexpr const char* kImages =
    "<meta http-equiv=\"Content-Security-Policy\" content=\"img-src 'none'\">";

struct PlacementRow {
    const char* name;
    const char* contentType;
    const char* encoding;  // as the web view hands it on
    const char* document;
    const char* expected;  // IMAGES stands for kImages
};

void PrintTo(const PlacementRow& row, std::ostream* out) {
    *out << row.name;
}

const PlacementRow kPlacementRows[] = {
    {"AfterTheDoctype", "text/html", "utf-8", "<!DOCTYPE html><html><p>a</p>",
     "<!DOCTYPE html>IMAGES<html><p>a</p>"},
    {"AfterAMarkCommentsAndSpace", "text/html", "utf-8",
     "\xEF\xBB\xBF <!-- a > b --> <!doctype HTML>\n<p>a</p>",
     "\xEF\xBB\xBF <!-- a > b --> <!doctype HTML>IMAGES\n<p>a</p>"},
    {"WithoutADoctype", "text/html", "", "  <p>a</p>", "  IMAGES<p>a</p>"},
    {"AnUnclosedComment", "text/html", "", "<!-- <p>a</p>", "IMAGES<!-- <p>a</p>"},
    {"NotHTML", "text/plain", "utf-8", "<p>a</p>", "<p>a</p>"},
    {"TwoBytesACharacter", "text/html", "utf-16", "<\0p\0>\0", "<\0p\0>\0"},
};

class PlacementTest : public testing::TestWithParam<PlacementRow> {};

TEST_P(PlacementTest, ComesFirstInTheDocument) {
    const PlacementRow& row = GetParam();
    const platform::HTTPURLResponse response(
        *platform::URL::parse("https://shop.example/page"), 200, "HTTP/1.1",
        {{"Content-Type", row.contentType}, {"Content-Security-Policy", "img-src 'none'"}});
    std::string expected = row.expected;
    if (const size_t at = expected.find("IMAGES"); at != std::string::npos)
        expected.replace(at, 6, kImages);
    EXPECT_EQ(documentWithHeaderPolicies(row.document, row.encoding, response), expected);
}

INSTANTIATE_TEST_SUITE_P(Documents, PlacementTest, testing::ValuesIn(kPlacementRows),
                         [](const testing::TestParamInfo<PlacementRow>& info) {
                             return std::string(info.param.name);
                         });

struct FieldsRow {
    const char* name;
    platform::HTTPHeaderFields fields;
    const char* expected;  // what is written before the document
};

void PrintTo(const FieldsRow& row, std::ostream* out) {
    *out << row.name;
}

const FieldsRow kFieldsRows[] = {
    {"None", {}, ""},
    {"PoliciesOfTwoFieldsAndOneList",
     {{"Content-Security-Policy", "img-src 'none'"},
      {"content-security-policy", " frame-src 'self' , script-src 'nonce-a'"}},
     "<meta http-equiv=\"Content-Security-Policy\" content=\"img-src 'none'\">"
     "<meta http-equiv=\"Content-Security-Policy\" content=\"frame-src 'self'\">"
     "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'nonce-a'\">"},
    {"WhatWouldEndTheAttribute",
     {{"Content-Security-Policy", "img-src \"><script>x</script> &"}},
     "<meta http-equiv=\"Content-Security-Policy\" content=\"img-src "
     "&quot;&gt;&lt;script&gt;x&lt;/script&gt; &amp;\">"},
    {"OnlyAReport", {{"Content-Security-Policy-Report-Only", "img-src 'none'"}}, ""},
    {"TheLastReferrerPolicyKnown",
     {{"Referrer-Policy", "no-referrer, Same-Origin, made-up"}},
     "<meta name=\"referrer\" content=\"same-origin\">"},
    {"NoReferrerPolicyKnown", {{"Referrer-Policy", "made-up, \"><b>"}}, ""},
};

class FieldsTest : public testing::TestWithParam<FieldsRow> {};

TEST_P(FieldsTest, AreWrittenAsTheirElements) {
    const FieldsRow& row = GetParam();
    platform::HTTPHeaderFields fields = row.fields;
    fields.set("Content-Type", "text/html; charset=utf-8");
    const platform::HTTPURLResponse response(*platform::URL::parse("https://shop.example/"), 200,
                                             "HTTP/1.1", fields);
    EXPECT_EQ(documentWithHeaderPolicies("<p>a</p>", "utf-8", response),
              std::string(row.expected) + "<p>a</p>");
}

INSTANTIATE_TEST_SUITE_P(Headers, FieldsTest, testing::ValuesIn(kFieldsRows),
                         [](const testing::TestParamInfo<FieldsRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
