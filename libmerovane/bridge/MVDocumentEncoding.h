#pragma once
// The text encoding of a fetched document, found as a browser finds it, for a web view
// that hands its engine the document's bytes without its response:
//
//   1. a byte-order mark (UTF-8, UTF-16BE, UTF-16LE);
//   2. the response's charset;
//   3. HTML: a <meta charset> or <meta http-equiv="Content-Type"> among the first 1024
//      bytes, as a browser's prescan reads them (comments and other tags skipped);
//      XML (XHTML among it): the encoding of the XML declaration.
//
// Empty when nothing declares one: the engine's own default then applies.

#include <string>
#include <string_view>

std::string documentTextEncodingName(std::string_view document, const std::string& mimeType,
                                     const std::string& responseCharset);

// Whether the encoding writes ASCII text as ASCII bytes (UTF-16 and UTF-32 do not).
bool encodingWritesASCIIAsItself(const std::string& textEncodingName);
