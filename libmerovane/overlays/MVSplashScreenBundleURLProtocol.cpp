#include "libmerovane/overlays/MVSplashScreenBundleURLProtocol.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "libmerovane/application/MVLibraryBundle.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/RegularFile.h"
#include "platform/foundation/URLErrors.h"

namespace {

namespace fs = std::filesystem;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%XX" escapes undone ("+" stays); none for a broken escape or a NUL.
std::optional<std::string> percentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// The file inside the library's bundle that the request names, or none.
std::optional<std::string> bundleFileForRequest(const platform::URLRequest& request) {
    const platform::URL& url = request.url();
    if (url.schemeLowercased() != "file") return std::nullopt;
    if (!url.host().empty() && url.host() != "localhost") return std::nullopt;
    auto path = percentDecoded(url.path());
    if (!path || path->empty() || path->front() != '/') return std::nullopt;
    try {
        std::error_code error;
        const fs::path root = fs::weakly_canonical(libmerovaneBundle().path(), error);
        if (error) return std::nullopt;
        const fs::path file = fs::weakly_canonical(*path, error);
        if (error) return std::nullopt;
        const std::string rootText = root.string() + "/";
        if (!file.string().starts_with(rootText)) return std::nullopt;
        return file.string();
    } catch (const MVLibraryBundleException&) {
        return std::nullopt;
    }
}

std::string mimeTypeForExtension(const std::string& extension) {
    static const std::map<std::string, std::string> types = {
        {"html", "text/html"},       {"htm", "text/html"}, {"css", "text/css"},
        {"js", "text/javascript"},   {"png", "image/png"}, {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},      {"gif", "image/gif"}, {"svg", "image/svg+xml"},
        {"json", "application/json"}};
    auto found = types.find(extension);
    return found != types.end() ? found->second : "application/octet-stream";
}

}  // namespace

bool MVSplashScreenBundleURLProtocol::canInitWithRequest(const platform::URLRequest& request) {
    return bundleFileForRequest(request).has_value();
}

std::shared_ptr<platform::URLProtocolFactory> MVSplashScreenBundleURLProtocol::factory() {
    static const auto shared =
        std::make_shared<platform::URLProtocolClass<MVSplashScreenBundleURLProtocol>>();
    return shared;
}

void MVSplashScreenBundleURLProtocol::startLoading() {
    const std::string urlText = request().url().absoluteString();
    auto file = bundleFileForRequest(request());
    std::string whyNot;
    std::optional<std::string> bytes;
    if (file) bytes = platform::readRegularFile(*file, kMaxBytes, &whyNot);
    if (!bytes) {
        MVLogWarn("Library resource {} could not be read: {}", platform::log::escaped(urlText),
                  whyNot);
        client()->didFailWithError(
            platform::makeURLError(platform::kURLErrorResourceUnavailable, urlText));
        return;
    }
    std::string extension = request().url().pathExtension();
    for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string type = mimeTypeForExtension(extension);
    if (type.starts_with("text/")) type += "; charset=utf-8";
    platform::HTTPHeaderFields headers;
    headers.set("Content-Type", type);
    headers.set("Content-Length", std::to_string(bytes->size()));
    client()->didReceiveResponse(
        platform::HTTPURLResponse(request().url(), 200, "HTTP/1.1", std::move(headers)));
    client()->didLoadData(std::vector<uint8_t>(bytes->begin(), bytes->end()));
    client()->didFinishLoading();
}
