#include "libmerovane/bridge/MVDocumentEncoding.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <vector>

#include "platform/foundation/TextUtilities.h"

namespace {

// A browser looks no further for a declaration in the document.
constexpr size_t kPrescanBytes = 1024;
// No encoding's label is longer.
constexpr size_t kMaximumLabel = 40;

// The labels of UTF-16, little and big endian, as browsers name them.
constexpr std::array<std::string_view, 10> kUTF16Labels = {
    "utf-16", "utf-16le",  "utf-16be",        "utf16",       "unicode",
    "ucs-2",  "csunicode", "iso-10646-ucs-2", "unicodefeff", "unicodefffe"};

bool isUTF16Label(const std::string& label) {
    const std::string lower = platform::asciiLowercase(label);
    return std::find(kUTF16Labels.begin(), kUTF16Labels.end(), lower) != kUTF16Labels.end();
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool startsWithIgnoringCase(std::string_view text, size_t at, std::string_view prefix) {
    return at <= text.size() && text.size() - at >= prefix.size() &&
           platform::equalsIgnoringASCIICase(text.substr(at, prefix.size()), prefix);
}

// A label the engine may be handed: trimmed, of the characters encoding names are made of.
std::optional<std::string> labelOf(std::string_view text) {
    const std::string label = std::string(platform::trimWhitespace(text));
    if (label.empty() || label.size() > kMaximumLabel) return std::nullopt;
    const bool plain = std::all_of(label.begin(), label.end(), [](char c) {
        return isLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
               c == ':';
    });
    if (!plain) return std::nullopt;
    return label;
}

std::string byteOrderMarkEncoding(std::string_view document) {
    if (document.starts_with("\xEF\xBB\xBF")) return "UTF-8";
    if (document.starts_with("\xFE\xFF")) return "UTF-16BE";
    if (document.starts_with("\xFF\xFE")) return "UTF-16LE";
    return {};
}

// The prescan's attribute reader: a name (lower case) and its value, or none at the tag's
// end. `at` moves past what was read.
struct Attribute {
    std::string name;
    std::string value;
};

std::optional<Attribute> nextAttribute(std::string_view text, size_t& at) {
    while (at < text.size() && (isSpace(text[at]) || text[at] == '/')) ++at;
    if (at >= text.size() || text[at] == '>') return std::nullopt;
    Attribute attribute;
    while (at < text.size()) {
        const char c = text[at];
        if (!attribute.name.empty() && (c == '=' || c == '/' || c == '>' || isSpace(c))) break;
        attribute.name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ++at;
    }
    while (at < text.size() && isSpace(text[at])) ++at;
    if (at >= text.size() || text[at] != '=') return attribute;
    ++at;
    while (at < text.size() && isSpace(text[at])) ++at;
    if (at >= text.size()) return attribute;
    if (text[at] == '"' || text[at] == '\'') {
        const char quote = text[at++];
        const size_t end = text.find(quote, at);
        if (end == std::string_view::npos) {
            at = text.size();
            return std::nullopt;
        }
        attribute.value = std::string(text.substr(at, end - at));
        at = end + 1;
        return attribute;
    }
    while (at < text.size() && !isSpace(text[at]) && text[at] != '>') attribute.value += text[at++];
    return attribute;
}

// The charset a meta's content names ("text/html; charset=shift_jis").
std::optional<std::string> charsetOfContent(std::string_view content) {
    const std::string lower = platform::asciiLowercase(std::string(content));
    for (size_t at = 0; (at = lower.find("charset", at)) != std::string::npos;) {
        at += 7;
        size_t p = at;
        while (p < content.size() && isSpace(content[p])) ++p;
        if (p >= content.size() || content[p] != '=') continue;
        ++p;
        while (p < content.size() && isSpace(content[p])) ++p;
        if (p >= content.size()) return std::nullopt;
        if (content[p] == '"' || content[p] == '\'') {
            const char quote = content[p++];
            const size_t end = content.find(quote, p);
            if (end == std::string_view::npos) return std::nullopt;
            return labelOf(content.substr(p, end - p));
        }
        size_t end = p;
        while (end < content.size() && !isSpace(content[end]) && content[end] != ';') ++end;
        return labelOf(content.substr(p, end - p));
    }
    return std::nullopt;
}

// The charset of a <meta> whose attributes start at `at`, as the prescan takes it.
std::optional<std::string> charsetOfMeta(std::string_view text, size_t& at) {
    bool gotPragma = false;
    std::optional<bool> needPragma;
    std::optional<std::string> charset;
    std::vector<std::string> seen;
    while (auto attribute = nextAttribute(text, at)) {
        if (std::find(seen.begin(), seen.end(), attribute->name) != seen.end()) continue;
        seen.push_back(attribute->name);
        if (attribute->name == "http-equiv") {
            if (platform::equalsIgnoringASCIICase(attribute->value, "content-type"))
                gotPragma = true;
        } else if (attribute->name == "content") {
            if (!charset) {
                if (auto found = charsetOfContent(attribute->value)) {
                    charset = found;
                    needPragma = true;
                }
            }
        } else if (attribute->name == "charset") {
            charset = labelOf(attribute->value);
            needPragma = false;
        }
    }
    if (!needPragma || (*needPragma && !gotPragma) || !charset) return std::nullopt;
    // A document that reads as ASCII cannot declare itself UTF-16.
    if (isUTF16Label(*charset)) return "UTF-8";
    if (platform::equalsIgnoringASCIICase(*charset, "x-user-defined")) return "windows-1252";
    return charset;
}

std::string prescanHTML(std::string_view document) {
    const std::string_view text = document.substr(0, std::min(document.size(), kPrescanBytes));
    size_t at = 0;
    while (at < text.size()) {
        if (text.substr(at).starts_with("<!--")) {
            const size_t end = text.find("-->", at + 2);
            if (end == std::string_view::npos) return {};
            at = end + 3;
        } else if (startsWithIgnoringCase(text, at, "<meta") && at + 5 < text.size() &&
                   (isSpace(text[at + 5]) || text[at + 5] == '/')) {
            at += 5;
            if (auto charset = charsetOfMeta(text, at)) return *charset;
        } else if (text[at] == '<' && at + 1 < text.size() &&
                   (isLetter(text[at + 1]) ||
                    (text[at + 1] == '/' && at + 2 < text.size() && isLetter(text[at + 2])))) {
            while (at < text.size() && !isSpace(text[at]) && text[at] != '>') ++at;
            while (nextAttribute(text, at)) {
            }
        } else if (text[at] == '<' && at + 1 < text.size() &&
                   (text[at + 1] == '!' || text[at + 1] == '/' || text[at + 1] == '?')) {
            const size_t end = text.find('>', at);
            if (end == std::string_view::npos) return {};
            at = end + 1;
        } else {
            ++at;
        }
    }
    return {};
}

// The encoding an XML declaration names: <?xml version="1.0" encoding="Shift_JIS"?>.
std::string xmlDeclarationEncoding(std::string_view document) {
    if (!document.starts_with("<?xml")) return {};
    const size_t end = document.substr(0, std::min(document.size(), kPrescanBytes)).find("?>");
    if (end == std::string_view::npos) return {};
    size_t at = 5;
    const std::string_view declaration = document.substr(0, end);
    while (auto attribute = nextAttribute(declaration, at)) {
        if (attribute->name != "encoding") continue;
        auto label = labelOf(attribute->value);
        // Written in ASCII, it cannot be UTF-16.
        if (!label || isUTF16Label(*label)) return {};
        return *label;
    }
    return {};
}

bool isXMLType(const std::string& mimeType) {
    const std::string type = platform::asciiLowercase(mimeType);
    return type == "text/xml" || type == "application/xml" || type.ends_with("+xml");
}

}  // namespace

std::string documentTextEncodingName(std::string_view document, const std::string& mimeType,
                                     const std::string& responseCharset) {
    if (std::string bom = byteOrderMarkEncoding(document); !bom.empty()) return bom;
    if (!responseCharset.empty()) return responseCharset;
    if (platform::equalsIgnoringASCIICase(mimeType, "text/html")) return prescanHTML(document);
    if (isXMLType(mimeType)) return xmlDeclarationEncoding(document);
    return {};
}

bool encodingWritesASCIIAsItself(const std::string& textEncodingName) {
    const std::string name = platform::asciiLowercase(textEncodingName);
    return !isUTF16Label(name) && name.find("utf-16") == std::string::npos &&
           name.find("utf16") == std::string::npos && name.find("utf-32") == std::string::npos &&
           name.find("utf32") == std::string::npos && name.find("ucs") == std::string::npos;
}
