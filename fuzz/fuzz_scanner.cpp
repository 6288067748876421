// Arbitrary camera frames and barcode texts through the scanner's report path, and
// arbitrary capture parameters through its still-image checks, with the scanner open on
// a real overlay page. Every event script the page receives must read as calls with a
// JSON string name and a JSON array of parameters, however the texts inside look.
//
// Input: byte 0 picks the road. Frames: a width and a height byte (at most 64 each), the
// pixels, and after a 0xFF byte the text of an injected code whose type the next byte
// picks. Black-and-white frames, large enough for real codes (the seeds hold turned and
// noisy ones): a width and a height byte (at most 256 each), a scale byte (1 to 3 pixels
// a bit), then one bit a pixel, row by row, most significant first, 1 black; missing
// bits are white. Captures: two floats (any bits: NaN, infinities, negatives), a format
// and a request id, split at the first 0 byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter_UIWebView.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/overlays/MVScannerCapture.h"
#include "libmerovane/overlays/MVScannerViewController.h"
#include "platform/device/CaptureSession.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URLProtocol.h"
#include "platform/ui/ViewController.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebURLSchemes.h"
#include "platform/web/WebView.h"

namespace {

constexpr const char* kPage = "mvfuzz://pages/scanner";
constexpr std::string_view kCall = "MVEvent.__call(";

// Serves every address of its scheme as a small page.
class PageProtocol : public platform::URLProtocol {
  public:
    using URLProtocol::URLProtocol;
    void startLoading() override {
        const std::string body = "<p>scanner</p>";
        client()->didReceiveResponse(platform::HTTPURLResponse(request().url(), 200, "HTTP/1.1",
                                                               {{"Content-Type", "text/html"}}));
        client()->didLoadData(std::vector<uint8_t>(body.begin(), body.end()));
        client()->didFinishLoading();
    }
    void stopLoading() override {}
};

class PageFactory : public platform::URLProtocolFactory {
  public:
    bool canInitWithRequest(const platform::URLRequest& request) const override {
        return request.url().schemeLowercased() == "mvfuzz";
    }
    std::shared_ptr<platform::URLProtocol> create(
        const platform::URLRequest& request,
        std::shared_ptr<platform::URLProtocolClient> client) const override {
        return std::make_shared<PageProtocol>(request, std::move(client));
    }
};

// The JSON string or array that starts at `at`, read with the project's parser as the
// page reads it: the shortest text up to one of its closing characters that is no
// longer incomplete must parse whole, as the kind it opened as. Its end, or aborts.
size_t checkJsonValue(std::string_view script, size_t at, char opening) {
    if (at >= script.size() || script[at] != opening) std::abort();
    const char closing = opening == '"' ? '"' : ']';
    for (size_t end = script.find(closing, at + 1); end != std::string_view::npos;
         end = script.find(closing, end + 1)) {
        auto value = platform::json::parse(script.substr(at, end + 1 - at));
        if (value.status == platform::json::ParseStatus::Incomplete) continue;
        if (!value.ok() || (opening == '"' ? !value.value.is_string() : !value.value.is_array()))
            std::abort();
        return end + 1;
    }
    std::abort();
}

// An event script is a run of calls MVEvent.__call(<JSON string>,<JSON array>), each
// followed by at most one semicolon, and nothing else.
void checkEventScript(std::string_view script) {
    size_t at = 0;
    while (at < script.size()) {
        if (script.substr(at, kCall.size()) != kCall) std::abort();
        at = checkJsonValue(script, at + kCall.size(), '"');
        if (at >= script.size() || script[at] != ',') std::abort();
        at = checkJsonValue(script, at + 1, '[');
        if (at >= script.size() || script[at] != ')') std::abort();
        ++at;
        if (at < script.size() && script[at] == ';') ++at;
    }
}

// Answers the library's scripts as a ready page with the page library.
platform::HeadlessWebEngine::ScriptAnswer answer(const std::string& script) {
    const std::string sep = MVDocumentReadyPoll::kFieldSeparator;
    if (script == MVDocumentReadyPoll::documentReadyScript())
        return "data:text/javascript,libmerovane" + sep + "complete" + sep + "true" + sep + "null" +
               sep + "null";
    if (script == MVDocumentReadyPoll::kReadyStateScript) return "complete";
    if (script == mvwebview_texts::kMeasureScript) return "320,480";
    if (script == mvwebview_texts::kBackgroundColorScript) return "rgba(0, 0, 0, 0)";
    if (script.find(kCall) != std::string::npos) checkEventScript(script);
    return "";
}

struct World {
    std::shared_ptr<platform::ViewController> content = platform::ViewController::create();
    std::shared_ptr<MVScannerViewController> scanner;
    platform::ObserverRegistration pages;
};

World& world() {
    static World* w = [] {
        platform::Clock::installManual();
        platform::URLProtocol::registerClass(std::make_shared<PageFactory>());
        platform::WebURLSchemes::registerScheme("mvfuzz");
        auto* made = new World;
        auto& center = platform::NotificationCenter::defaultCenter();
        made->pages = platform::ObserverRegistration(
            center,
            center.addObserver(
                MVWebViewDidStartLoadingNotification, nullptr, [](const platform::Notification& n) {
                    const auto* weak = std::any_cast<std::weak_ptr<MVWebView>>(&n.object);
                    auto webView = weak ? weak->lock() : nullptr;
                    if (!webView) return;
                    auto& adapter = dynamic_cast<MVWebViewAdapter_UIWebView&>(*webView->webView());
                    dynamic_cast<platform::HeadlessWebEngine&>(adapter.platformWebView().engine())
                        .setScriptResponder(answer);
                }));
        platform::CameraFrameSource::showFrame(platform::Image(32, 18, 1, {90, 120, 200, 255}));
        made->scanner = MVScannerViewController::createWithContentViewController(made->content);
        made->scanner->openScannerWithSrc(kPage, std::nullopt, nullptr, true, true);
        for (int i = 0; i < 200 && !made->scanner->contentWebView()->isUsingLibrary(); ++i)
            platform::advanceBy(0.01);
        made->scanner->contentWebView()->onload();
        platform::advanceBy(1.0);
        if (!made->scanner->isOpen() || !made->scanner->contentWebView()->isUsingLibrary())
            std::abort();
        return made;
    }();
    return *w;
}

const char* const kTypes[] = {
    platform::kMetadataObjectTypeQRCode, platform::kMetadataObjectTypeEAN13Code,
    platform::kMetadataObjectTypeFace, platform::kMetadataObjectTypeDataMatrixCode};

void showFrame(MVScannerViewController& scanner, std::string_view in) {
    if (in.size() < 2) return;
    const int w = 1 + uint8_t(in[0]) % 64, h = 1 + uint8_t(in[1]) % 64;
    in.remove_prefix(2);
    const size_t mark = in.find('\xFF');
    const std::string_view pixels = in.substr(0, mark);
    std::vector<uint8_t> rgba(size_t(w) * size_t(h) * 4, 255);
    for (size_t i = 0; i < rgba.size() && !pixels.empty(); ++i)
        rgba[i] = uint8_t(pixels[i % pixels.size()]);
    std::vector<platform::MetadataObject> extra;
    if (mark != std::string_view::npos && mark + 1 < in.size()) {
        const char* type = kTypes[uint8_t(in[mark + 1]) % 4];
        extra.push_back({type, std::string(in.substr(mark + 2))});
    }
    if (!scanner.isRunning()) scanner.startScanner();
    platform::CameraFrameSource::showFrame(platform::Image::fromRGBA(w, h, std::move(rgba)),
                                           std::move(extra));
    platform::runUntilIdle();
}

void showBlackAndWhiteFrame(MVScannerViewController& scanner, std::string_view in) {
    if (in.size() < 3) return;
    const int w = 1 + uint8_t(in[0]), h = 1 + uint8_t(in[1]), scale = 1 + uint8_t(in[2]) % 3;
    in.remove_prefix(3);
    platform::Image frame(w * scale, h * scale, 1, {255, 255, 255, 255});
    for (size_t bit = 0; bit < size_t(w) * size_t(h) && bit / 8 < in.size(); ++bit) {
        if (!(uint8_t(in[bit / 8]) & (0x80 >> (bit % 8)))) continue;
        const int x = int(bit % size_t(w)) * scale, y = int(bit / size_t(w)) * scale;
        for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx) frame.setPixel(x + dx, y + dy, {0, 0, 0, 255});
    }
    if (!scanner.isRunning()) scanner.startScanner();
    platform::CameraFrameSource::showFrame(std::move(frame));
    platform::runUntilIdle();
}

void capture(MVScannerViewController& scanner, std::string_view in) {
    float sides[2] = {0, 0};
    std::memcpy(sides, in.data(), std::min(in.size(), sizeof sides));
    in.remove_prefix(std::min(in.size(), sizeof sides));
    const size_t split = in.find('\0');
    const std::string format(in.substr(0, split));
    const std::string id(split == std::string_view::npos ? "" : in.substr(split + 1));
    // Targets between a megapixel and the largest image take seconds to scale; the
    // checks and the clamp are what is fuzzed here.
    auto frame = platform::CameraFrameSource::currentFrame();
    const int degrees = MVScannerCapture::degreesForInterfaceOrientation(1);
    const auto target =
        MVScannerCapture::targetSize(frame->width(), frame->height(),
                                     MVScannerCapture::boxForDegrees(sides[0], sides[1], degrees));
    const int64_t area = int64_t(target.width) * target.height;
    if (area > (1 << 20) && area <= platform::Image::kMaxPixels) return;
    if (id.size() % 3 == 1) scanner.stopScanner();
    scanner.captureScannerImageWithMaxWidth(
        sides[0], sides[1], id, format,
        id.size() % 5 == 1 ? MVWebView::create() : scanner.contentWebView());
    platform::runUntilIdle();
    scanner.startScanner();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& w = world();
    if (size == 0) return 0;
    std::string_view in(reinterpret_cast<const char*>(data), size);
    const uint8_t road = uint8_t(in[0]);
    in.remove_prefix(1);
    if (road % 4 == 2)
        showBlackAndWhiteFrame(*w.scanner, in);
    else if (road % 2 == 0)
        showFrame(*w.scanner, in);
    else
        capture(*w.scanner, in);
    return 0;
}
