// 1280 x 720 camera frames with a QR code (two codes taking turns, so that every frame
// is reported) through the open scanner: the camera reads each frame and the scanner
// reports it to its overlay page as "scannerDidScan". Against the barcode reader reading
// the same frames alone, with the same formats. The same for carton labels (an ITF-14 in
// its bearer box, off the frame's middle), whose reads the camera checks for quiet zones,
// and for 640 x 480 frames where the reader meets a line across a turned ITF-14 first,
// which the camera refuses and reads the frame again for the level carton behind it.
#include <benchmark/benchmark.h>

// The reader's text() in UTF-8.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "bench/BenchRateReporter.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/overlays/MVScannerViewController.h"
#include "platform/device/CaptureSession.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/ViewController.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PollingWait.h"
#include "tests/support/ServingURLProtocol.h"
#include "tests/support/barcodes/ZintBarcodes.h"

namespace {

constexpr const char* kPage = "mvbench://pages/scanner";

struct Bench {
    std::vector<platform::Image> frames;
    std::vector<platform::Image> cartons;
    std::vector<platform::Image> behindTurned;
    std::unique_ptr<ServingURLProtocol> site;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<platform::ViewController> content;
    std::shared_ptr<MVScannerViewController> scanner;
    size_t scans() const {
        size_t n = 0;
        for (const auto& event : models->modelOf(*scanner->contentWebView())->events())
            n += event.name == "scannerDidScan";
        return n;
    }
};

Bench* bench = nullptr;

void setUp() {
    bench = new Bench;
    for (const char* code : {"https://shop.example/p/1", "https://shop.example/p/2"})
        bench->frames.push_back(barcodes::frameWith(
            barcodes::barcodeImage(barcodes::Symbology::QRCode, code, 6), 1280, 720));
    // Two cartons, at 30 and 70 % of the frame's height, 3 pixels a module.
    for (const auto& [gtin, y] : {std::pair{"1540014128876", 216}, {"1540014128883", 504}}) {
        const auto label = barcodes::labelCode(barcodes::Symbology::ITF14, gtin, 3);
        bench->cartons.push_back(barcodes::frameWith(label, 1280, 720, (1280 - label.width()) / 2,
                                                     y - label.height() / 2));
    }
    // A bare ITF-14 turned 20 degrees across the middle rows, 2 pixels a module, which the
    // reader reads a line across ("213397"), and a carton in its bearer box at 17 % of the
    // height.
    const auto front = barcodes::turned(
        barcodes::labelCode(barcodes::Symbology::ITF, "13725874213397", 2, 32), -20);
    // Other cartons than the row above's, so that its last is not the same code.
    for (const char* gtin : {"1540014128890", "1540014128807"}) {
        const auto label = barcodes::labelCode(barcodes::Symbology::ITF14, gtin, 2);
        auto frame = barcodes::frameWith(label, 640, 480, (640 - label.width()) / 2,
                                         82 - label.height() / 2);
        barcodes::draw(frame, front, (640 - front.width()) / 2, 240 - front.height() / 2);
        bench->behindTurned.push_back(std::move(frame));
    }
    bench->site = std::make_unique<ServingURLProtocol>("mvbench");
    bench->site->serve(kPage, "text/html", "<p>scanner</p>");
    bench->models = std::make_unique<PageModelsForAllWebViews>(
        [](HeadlessPageModel::Settings& settings) { settings.library = true; });
    bench->content = platform::ViewController::create();
    bench->scanner = MVScannerViewController::createWithContentViewController(bench->content);
    bench->scanner->openScannerWithSrc(kPage, std::nullopt, nullptr, true, false);
    auto page = bench->scanner->contentWebView();
    runUntilPolled([&] { return page->isUsingLibrary(); }, 10.0);
    page->onload();
    runUntilPolled([&] { return !page->isLoading(); }, 10.0);
    platform::advanceBy(1.0);
}

// Shows the frames in turn, from where the last run left off: a code repeated within the
// second is not reported.
void scanFrames(benchmark::State& state, const std::vector<platform::Image>& frames, size_t& next) {
    if (!bench->scanner->isOpen()) state.SkipWithError("the scanner did not open");
    const size_t before = bench->scans();
    for (auto _ : state) {
        platform::CameraFrameSource::showFrame(frames[next++ % frames.size()]);
        platform::runUntilIdle();
    }
    if (bench->scans() - before != size_t(state.iterations()))
        state.SkipWithError("a frame was not reported");
    state.SetItemsProcessed(state.iterations());
}

void BM_ScannerReadsAndReports(benchmark::State& state) {
    static size_t next = 0;
    scanFrames(state, bench->frames, next);
}
BENCHMARK(BM_ScannerReadsAndReports)->Unit(benchmark::kMillisecond);

void BM_ScannerReadsCartons(benchmark::State& state) {
    static size_t next = 0;
    scanFrames(state, bench->cartons, next);
}
BENCHMARK(BM_ScannerReadsCartons)->Unit(benchmark::kMillisecond);

void BM_ScannerReadsCartonsBehindATurnedCode(benchmark::State& state) {
    static size_t next = 0;
    scanFrames(state, bench->behindTurned, next);
}
BENCHMARK(BM_ScannerReadsCartonsBehindATurnedCode)->Unit(benchmark::kMillisecond);

// The reader as the camera asks it: every format, one code a frame.
void readAlone(benchmark::State& state, const std::vector<platform::Image>& frames) {
    const auto hints =
        ZXing::DecodeHints()
            .setFormats(ZXing::BarcodeFormat::UPCE | ZXing::BarcodeFormat::Code39 |
                        ZXing::BarcodeFormat::EAN13 | ZXing::BarcodeFormat::UPCA |
                        ZXing::BarcodeFormat::EAN8 | ZXing::BarcodeFormat::Code93 |
                        ZXing::BarcodeFormat::Code128 | ZXing::BarcodeFormat::PDF417 |
                        ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::Aztec |
                        ZXing::BarcodeFormat::ITF | ZXing::BarcodeFormat::DataMatrix)
            .setMaxNumberOfSymbols(1);
    size_t i = 0;
    for (auto _ : state) {
        const auto& frame = frames[i++ % 2];
        ZXing::ImageView view(frame.rgba().data(), frame.width(), frame.height(),
                              ZXing::ImageFormat::RGBX);
        auto results = ZXing::ReadBarcodes(view, hints);
        if (results.empty()) state.SkipWithError("the reader found nothing");
        benchmark::DoNotOptimize(results);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ReaderAlone(benchmark::State& state) {
    readAlone(state, bench->frames);
}
BENCHMARK(BM_ReaderAlone)->Unit(benchmark::kMillisecond);

void BM_ReaderAloneOnCartons(benchmark::State& state) {
    readAlone(state, bench->cartons);
}
BENCHMARK(BM_ReaderAloneOnCartons)->Unit(benchmark::kMillisecond);

// Once a frame: the line across the turned code.
void BM_ReaderAloneOnCartonsBehindATurnedCode(benchmark::State& state) {
    readAlone(state, bench->behindTurned);
}
BENCHMARK(BM_ReaderAloneOnCartonsBehindATurnedCode)->Unit(benchmark::kMillisecond);

// The scanner's rate beside the reader's alone on the same frames.
void printRates(std::map<std::string, double>& rates, const char* frames, const char* scanner,
                const char* alone) {
    if (rates[scanner] > 0 && rates[alone] > 0)
        std::printf("%s: scanner %.1f frames/s, reader alone %.1f frames/s, scanner/alone: %.2f\n",
                    frames, rates[scanner], rates[alone], rates[scanner] / rates[alone]);
}

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    printRates(rates, "QR codes", "BM_ScannerReadsAndReports", "BM_ReaderAlone");
    printRates(rates, "cartons", "BM_ScannerReadsCartons", "BM_ReaderAloneOnCartons");
    // The reader alone reads these once, the line across the turned code.
    printRates(rates, "cartons behind a turned code", "BM_ScannerReadsCartonsBehindATurnedCode",
               "BM_ReaderAloneOnCartonsBehindATurnedCode");
    benchmark::Shutdown();
    return 0;
}
