#pragma once
// Fixture for the scanner's tests: a scanner controller over an empty content
// controller, its overlay page served under "mvtest" and answered by a page model,
// and the camera stand-in to show frames to.
//
//   openScanner();                              // open, camera running
//   show(ean13Frame);                           // -> scans() == {{"code", ...}}

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/overlays/MVScannerViewController.h"
#include "platform/device/CaptureSession.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/ViewController.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/PollingWait.h"
#include "tests/support/ServingURLProtocol.h"

class ScannerTest : public PlatformTest {
  protected:
    static constexpr const char* kPage = "mvtest://pages/scanner";
    static constexpr const char* kOtherPage = "mvtest://pages/other-scanner";

    void SetUp() override {
        PlatformTest::SetUp();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        site->serve(kPage, "text/html", "<p>scanner</p>");
        site->serve(kOtherPage, "text/html", "<p>other</p>");
        // Pages with the page library, so that events reach them.
        models = std::make_unique<PageModelsForAllWebViews>(
            [](HeadlessPageModel::Settings& settings) { settings.library = true; });
        content = platform::ViewController::create();
        scanner = MVScannerViewController::createWithContentViewController(content);
    }
    void TearDown() override {
        scanner.reset();
        content.reset();
        models.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
        site.reset();
    }

    // Opens on the page (loaded first when new), then lets every movement end.
    void openScanner(std::optional<std::string> animation = std::nullopt, bool barcode = true,
                     bool capture = false, const char* page = kPage) {
        scanner->openScannerWithSrc(page, animation, nullptr, barcode, capture);
        renderPage();
        platform::advanceBy(0.6);
    }
    // Lets the overlay page load and report its onload, as the page library does.
    void renderPage() {
        auto page = scanner->contentWebView();
        ASSERT_TRUE(page);
        if (!page->isLoading()) return;
        ASSERT_TRUE(runUntilPolled([&] { return page->isUsingLibrary(); }, 10.0));
        page->onload();
        ASSERT_TRUE(runUntilPolled([&] { return models->allLoaded(); }, 10.0));
    }
    // The events the overlay page received, of one name or all.
    std::vector<nlohmann::json> events(const std::string& name,
                                       const MVWebView* page = nullptr) const {
        if (!page) page = scanner->contentWebView().get();
        std::vector<nlohmann::json> found;
        auto model = page ? models->modelOf(*page) : nullptr;
        if (!model) return found;
        for (const auto& event : model->events())
            if (event.name == name) found.push_back(event.parameters);
        return found;
    }
    std::vector<std::string> eventNames() const {
        std::vector<std::string> names;
        auto model =
            scanner->contentWebView() ? models->modelOf(*scanner->contentWebView()) : nullptr;
        if (model)
            for (const auto& event : model->events()) names.push_back(event.name);
        return names;
    }
    // Every "scannerDidScan" so far: {"code", "format"} each.
    std::vector<nlohmann::json> scans() const {
        std::vector<nlohmann::json> found;
        for (const auto& parameters : events("scannerDidScan")) found.push_back(parameters.at(0));
        return found;
    }
    static void show(const platform::Image& frame,
                     std::vector<platform::MetadataObject> extra = {}) {
        platform::CameraFrameSource::showFrame(frame, std::move(extra));
        platform::runUntilIdle();
    }

    std::unique_ptr<ServingURLProtocol> site;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<platform::ViewController> content;
    std::shared_ptr<MVScannerViewController> scanner;
};
