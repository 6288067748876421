#pragma once
// Fixture for the overlays' tests: the real handler classes, a probe command that
// records every run, and a page to run commands for.
//
//   runs "overlayProbe" {"n": 3} from the page  ->  probes() == {{"1.0", 3, page.get()}}

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/PlatformTest.h"

class OverlayTest : public PlatformTest {
  protected:
    struct Probe {
        std::string version;
        nlohmann::json n;
        MVWebView* webView = nullptr;
        bool operator==(const Probe&) const = default;
    };

    void SetUp() override {
        PlatformTest::SetUp();
        registerCommandHandlerClasses();
        probes().clear();
        MVCommandHandler_1_0::commandTable().add(
            "overlayProbe",
            {MVSpec{}, [](MVCommandHandler& handler, nlohmann::json* parameters,
                          const std::shared_ptr<MVWebView>& webView) {
                 probes().push_back(
                     {handler.commandHandlerVersion(),
                      parameters ? parameters->value("n", nlohmann::json()) : nlohmann::json(),
                      webView.get()});
             }});
        page = MVWebView::create(platform::Rect(0, 0, 320, 480));
    }
    void TearDown() override {
        page.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
    }

    static std::vector<Probe>& probes() {
        static std::vector<Probe> runs;
        return runs;
    }
    // The probe command {"c": "overlayProbe", "p": {"n": n}}.
    static nlohmann::json probe(int n) { return {{"c", "overlayProbe"}, {"p", {{"n", n}}}}; }
    // A collection of version `version` holding the probe.
    static nlohmann::json probeCollection(int n, const char* version = "1.0") {
        return {{"ver", version}, {"cmds", nlohmann::json::array({probe(n)})}};
    }

    std::shared_ptr<MVWebView> page;
};
