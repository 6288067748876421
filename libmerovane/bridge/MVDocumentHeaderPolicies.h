#pragma once
// The rules a document's response headers set for it, carried into the document itself:
// a web view hands its engine the document's bytes, never its response. Written at the
// document's start as the elements that state them in a page:
//
//   Content-Security-Policy   each policy of every field as <meta http-equiv> (a meta's
//                             policy governs what follows it; an engine reads no
//                             frame-ancestors, report-uri, report-to or sandbox from it)
//   Referrer-Policy           the last policy of the fields an engine knows, as
//                             <meta name="referrer">
//
// Content-Security-Policy-Report-Only has no element: it is not carried. Only HTML is
// changed (XHTML and other types are not), and only where ASCII reads as itself in the
// encoding the document is read in (MVDocumentEncoding.h): a UTF-16 or UTF-32 document
// stays as it came, its byte-order mark first. What a header's value holds beyond
// printable ASCII is written as character references.

#include <string>

namespace platform {
class HTTPURLResponse;
}

std::string documentWithHeaderPolicies(std::string document, const std::string& textEncodingName,
                                       const platform::HTTPURLResponse& response);
