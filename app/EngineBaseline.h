#pragma once
// The baseline of a run: how long the web engine takes, from the start of the process,
// to show one page loaded straight from a file, or from an http(s) address (its load
// finished and a picture of it taken). Written as {"fileSeconds": …} to `output`; false,
// logged, when the page does not show within `timeoutSeconds`.
//
//   EngineBaseline::measure(std::move(engine), "app/sample/shop/home.html",
//                           "run/baseline.json", startNanos, 30);
//   EngineBaseline::measure(std::move(engine), "https://shop.example/home",
//                           "run/baseline.json", startNanos, 30);

#include <cstdint>
#include <memory>
#include <string>

namespace platform {
class WebEngine;
}

namespace EngineBaseline {

bool measure(std::unique_ptr<platform::WebEngine> engine, const std::string& page,
             const std::string& output, int64_t startNanos, double timeoutSeconds);

}  // namespace EngineBaseline
