#include "libmerovane/bridge/MVDocumentDownload.h"

#include <array>
#include <cctype>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/TextUtilities.h"

namespace {

constexpr const char* kDownloadFolder = "Downloads";
constexpr const char* kDefaultName = "download";
// Longer names are cut (file systems take 255 bytes).
constexpr size_t kMaximumName = 200;
// Files of one name side by side at most; past it the download is refused.
constexpr int kMaximumCopies = 1000;

// Types the engine shows beside text/* and images: documents, feeds, scripts, JSON.
constexpr std::array<std::string_view, 14> kShownTypes = {"application/xhtml+xml",
                                                          "application/xml",
                                                          "application/rss+xml",
                                                          "application/atom+xml",
                                                          "application/json",
                                                          "application/javascript",
                                                          "application/x-javascript",
                                                          "application/ecmascript",
                                                          "application/vnd.wap.xhtml+xml",
                                                          "multipart/x-mixed-replace",
                                                          "image/svg+xml",
                                                          "application/x-ftp-directory",
                                                          "application/ld+json",
                                                          "application/manifest+json"};
// Text the engine hands on rather than shows.
constexpr std::array<std::string_view, 13> kUnshownText = {
    "text/calendar", "text/x-calendar", "text/x-vcalendar", "text/vcalendar", "text/vcard",
    "text/x-vcard",  "text/directory",  "text/ldif",        "text/qif",       "text/x-qif",
    "text/x-csv",    "text/x-vcf",      "text/rtf"};
// Pictures the engine decodes.
constexpr std::array<std::string_view, 11> kShownImages = {
    "image/png",      "image/jpeg",   "image/jpg",
    "image/pjpeg",    "image/gif",    "image/webp",
    "image/bmp",      "image/x-icon", "image/vnd.microsoft.icon",
    "image/x-ms-bmp", "image/avif"};

template <size_t N>
bool among(const std::array<std::string_view, N>& list, const std::string& type) {
    for (const auto entry : list)
        if (type == entry) return true;
    return false;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The parameters of a Content-Disposition value after its type, names in lower case.
std::vector<std::pair<std::string, std::string>> dispositionParameters(std::string_view value) {
    std::vector<std::pair<std::string, std::string>> parameters;
    size_t at = value.find(';');
    while (at != std::string_view::npos && at < value.size()) {
        ++at;
        const size_t equals = value.find('=', at);
        if (equals == std::string_view::npos) break;
        const std::string name =
            platform::asciiLowercase(platform::trimWhitespace(value.substr(at, equals - at)));
        size_t p = equals + 1;
        while (p < value.size() && value[p] == ' ') ++p;
        std::string text;
        if (p < value.size() && value[p] == '"') {
            for (++p; p < value.size() && value[p] != '"'; ++p) {
                if (value[p] == '\\' && p + 1 < value.size()) ++p;
                text += value[p];
            }
            at = value.find(';', p);
        } else {
            const size_t end = std::min(value.find(';', p), value.size());
            text = std::string(platform::trimWhitespace(value.substr(p, end - p)));
            at = end;
        }
        parameters.emplace_back(name, std::move(text));
        if (at == value.size()) break;
    }
    return parameters;
}

// A name that is one file in the folder: its last part, no control bytes, not hidden.
std::optional<std::string> safeName(std::string name) {
    if (const size_t slash = name.find_last_of("/\\"); slash != std::string::npos)
        name = name.substr(slash + 1);
    std::string clean;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) clean += c;
    }
    while (!clean.empty() && (clean.front() == '.' || clean.front() == ' ')) clean.erase(0, 1);
    while (!clean.empty() && clean.back() == ' ') clean.pop_back();
    if (clean.size() > kMaximumName) clean.resize(kMaximumName);
    if (clean.empty() || !platform::FileManager::isSafePathComponent(clean)) return std::nullopt;
    return clean;
}

}  // namespace

bool engineShowsMIMEType(const std::string& mimeType) {
    const std::string type = platform::asciiLowercase(platform::trimWhitespace(mimeType));
    // The engine looks at what it is given.
    if (type.empty()) return true;
    if (type.starts_with("text/")) return !among(kUnshownText, type);
    if (type.starts_with("image/")) return among(kShownImages, type) || type == "image/svg+xml";
    return among(kShownTypes, type);
}

bool isDownloadResponse(const platform::HTTPURLResponse& response) {
    if (response.statusCode() < 200 || response.statusCode() > 299) return false;
    if (auto disposition = response.valueForHTTPHeaderField("Content-Disposition")) {
        const std::string_view value = *disposition;
        const std::string type = platform::asciiLowercase(
            platform::trimWhitespace(value.substr(0, std::min(value.find(';'), value.size()))));
        if (type == "attachment") return true;
    }
    return !engineShowsMIMEType(response.mimeType());
}

std::string downloadFileName(const platform::HTTPURLResponse& response) {
    std::optional<std::string> plain;
    std::optional<std::string> extended;
    if (auto disposition = response.valueForHTTPHeaderField("Content-Disposition")) {
        for (auto& [name, value] : dispositionParameters(*disposition)) {
            if (name == "filename" && !plain) plain = value;
            if (name == "filename*" && !extended) {
                // charset'language'percent-encoded
                const size_t first = value.find('\'');
                const size_t second =
                    first == std::string::npos ? first : value.find('\'', first + 1);
                if (second != std::string::npos)
                    extended = percentDecoded(value.substr(second + 1));
            }
        }
    }
    for (const auto& candidate :
         {extended, plain,
          std::optional<std::string>(percentDecoded(response.url().lastPathComponent()))}) {
        if (!candidate) continue;
        if (auto name = safeName(*candidate)) return *name;
    }
    return kDefaultName;
}

std::string downloadFolder() {
    return platform::FileManager::defaultManager().rootDirectory() + "/" + kDownloadFolder;
}

std::optional<std::string> saveDownload(const platform::HTTPURLResponse& response,
                                        const std::vector<uint8_t>& body, platform::Error* error) {
    auto& files = platform::FileManager::defaultManager();
    const std::string folder = downloadFolder();
    if (!files.createDirectory(folder, true, error)) return std::nullopt;
    const std::string name = downloadFileName(response);
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string extension = stem.size() == name.size() ? "" : name.substr(stem.size());
    const std::string_view bytes(reinterpret_cast<const char*>(body.data()), body.size());
    for (int copy = 1; copy <= kMaximumCopies; ++copy) {
        const std::string path =
            folder + "/" +
            (copy == 1 ? name : stem + " (" + std::to_string(copy) + ")" + extension);
        if (files.fileExists(path)) continue;
        if (!files.writeFileAtomically(path, bytes, error, 0600)) return std::nullopt;
        return path;
    }
    if (error)
        *error = platform::Error(platform::kCocoaErrorDomain, platform::kFileWriteFileExistsError,
                                 "too many downloads named " + name);
    return std::nullopt;
}
