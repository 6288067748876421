// 1280 x 720 camera frames with a QR code (two codes taking turns, so that every frame
// is reported) through the open scanner: the camera reads each frame and the scanner
// reports it to its overlay page as "scannerDidScan". Against the barcode reader reading
// the same frames alone, with the same formats. The same for carton labels (an ITF-14 in
// its bearer box, off the frame's middle), whose reads the camera checks for quiet zones,
// and for 640 x 480 frames where the reader meets a line across a turned ITF-14 first,
// which the camera refuses and reads the frame again for the level carton behind it.
// Then shop codes: upright UPC-E and EAN-8 codes, whose reads the camera checks for quiet
// zones as well, and an EAN-13 turned so that the reader reads its left half as a UPC-E
// code first, which the camera refuses and reads the frame again, without UPC-E and
// EAN-8, for the EAN-13 (a camera session alone: the scanner reports a code once a
// second).
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
#include "platform/device/VideoCaptureDevice.h"
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
    std::vector<platform::Image> shortCodes;
    std::vector<platform::Image> leftHalfFirst;
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
    // A UPC-E and an EAN-8 code upright in the middle, 3 pixels a module.
    for (const auto& [symbology, data] :
         {std::pair{barcodes::Symbology::UPCE, "0123456"}, {barcodes::Symbology::EAN8, "9638507"}})
        bench->shortCodes.push_back(
            barcodes::frameWith(barcodes::labelCode(symbology, data, 3), 640, 480));
    // An EAN-13 turned 20 degrees, 2 pixels a module, at 25 and 50 % of the width and a
    // quarter of the height, where the reader reads "10402184" first.
    const auto ean13 =
        barcodes::turned(barcodes::labelCode(barcodes::Symbology::EAN13, "404021831881", 2), -20);
    for (const int x : {160, 320})
        bench->leftHalfFirst.push_back(
            barcodes::frameWith(ean13, 640, 480, x - ean13.width() / 2, 120 - ean13.height() / 2));
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

void BM_ScannerReadsShortCodes(benchmark::State& state) {
    static size_t next = 0;
    scanFrames(state, bench->shortCodes, next);
}
BENCHMARK(BM_ScannerReadsShortCodes)->Unit(benchmark::kMillisecond);

class CountingDelegate : public platform::CaptureMetadataOutputObjectsDelegate {
  public:
    void captureOutputDidOutputMetadataObjects(
        platform::CaptureMetadataOutput&, const std::vector<platform::MetadataObject>& objects,
        const std::shared_ptr<platform::CaptureConnection>&) override {
        reads += !objects.empty() && objects.front().stringValue == "4040218318814";
    }
    size_t reads = 0;
};

// A camera session of its own reading every type, while the scanner's stands still.
void BM_CameraReadsAnEAN13AfterItsLeftHalf(benchmark::State& state) {
    bench->scanner->stopScanner();
    platform::Error error;
    auto session = platform::CaptureSession::create();
    session->addInput(platform::CaptureDeviceInput::create(
        platform::VideoCaptureDevice::defaultDevice(platform::kMediaTypeVideo), &error));
    auto metadata = platform::CaptureMetadataOutput::create();
    session->addOutput(metadata);
    metadata->setMetadataObjectTypes(metadata->availableMetadataObjectTypes());
    auto delegate = std::make_shared<CountingDelegate>();
    metadata->setMetadataObjectsDelegate(delegate);
    session->startRunning();
    size_t next = 0;
    for (auto _ : state) {
        platform::CameraFrameSource::showFrame(
            bench->leftHalfFirst[next++ % bench->leftHalfFirst.size()]);
        platform::runUntilIdle();
    }
    session->stopRunning();
    bench->scanner->startScanner();
    if (delegate->reads != size_t(state.iterations()))
        state.SkipWithError("a frame was not read as the EAN-13");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CameraReadsAnEAN13AfterItsLeftHalf)->Unit(benchmark::kMillisecond);

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

void BM_ReaderAloneOnShortCodes(benchmark::State& state) {
    readAlone(state, bench->shortCodes);
}
BENCHMARK(BM_ReaderAloneOnShortCodes)->Unit(benchmark::kMillisecond);

// Once a frame: the left half, a UPC-E code.
void BM_ReaderAloneOnAnEAN13AfterItsLeftHalf(benchmark::State& state) {
    readAlone(state, bench->leftHalfFirst);
}
BENCHMARK(BM_ReaderAloneOnAnEAN13AfterItsLeftHalf)->Unit(benchmark::kMillisecond);

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
    printRates(rates, "UPC-E and EAN-8 codes", "BM_ScannerReadsShortCodes",
               "BM_ReaderAloneOnShortCodes");
    // The reader alone reads these once, the EAN-13's left half.
    printRates(rates, "an EAN-13 after its left half", "BM_CameraReadsAnEAN13AfterItsLeftHalf",
               "BM_ReaderAloneOnAnEAN13AfterItsLeftHalf");
    benchmark::Shutdown();
    return 0;
}
