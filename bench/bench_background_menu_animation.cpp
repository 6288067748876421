// A background menu dragged from closed to open, the path every pan step takes: each of
// the six presentation types applies the fractions 0 to 1 in 1,000 steps through its
// fragments, against setting the content container's frame, the menu view's frame and
// one alpha directly for the same steps. One item is one applied fraction.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "bench/BenchRateReporter.h"
#include "libmerovane/containers/MVBackgroundMenuAnimation.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationTypes.h"
#include "platform/ui/View.h"

namespace {

constexpr int kSteps = 1000;

// The controller as the animations see it: a 320-wide view with the content container and
// a 300-wide menu view.
class BenchMenuController : public MVBackgroundMenuAnimationHost {
  public:
    BenchMenuController() {
        view_->addSubview(content_);
        view_->addSubview(menu_);
    }
    std::shared_ptr<platform::View> view() const override { return view_; }
    std::shared_ptr<platform::View> menuView() const override { return menu_; }
    std::shared_ptr<platform::View> contentContainerView() const override { return content_; }
    bool isVisible() const override { return true; }
    std::shared_ptr<const nlohmann::json> currentViewProperties() const override { return nullptr; }

  private:
    std::shared_ptr<platform::View> view_ = platform::View::create({0, 0, 320, 480});
    std::shared_ptr<platform::View> content_ = platform::View::create({0, 0, 320, 480});
    std::shared_ptr<platform::View> menu_ = platform::View::create({-300, 0, 300, 480});
};

void BM_FractionsThroughTheSixTypes(benchmark::State& state) {
    auto controller = std::make_shared<BenchMenuController>();
    std::vector<std::shared_ptr<MVBackgroundMenuAnimation>> animations;
    for (const auto& [type, cls] : MVBackgroundMenuAnimationRegistry::backgroundMenuAnimations())
        animations.push_back(MVBackgroundMenuAnimation::create(*cls, controller));
    for (auto _ : state)
        for (const auto& animation : animations) {
            animation->willBeginAnimation();
            for (int i = 0; i <= kSteps; ++i) animation->fractionState(double(i) / kSteps, false);
        }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(animations.size()) *
                            (kSteps + 1));
}
BENCHMARK(BM_FractionsThroughTheSixTypes);

void BM_FramesAndAlphaSetDirectly(benchmark::State& state) {
    auto controller = std::make_shared<BenchMenuController>();
    auto content = controller->contentContainerView();
    auto menu = controller->menuView();
    auto shadow = platform::View::create(content->bounds());
    content->addSubview(shadow);
    const size_t types = MVBackgroundMenuAnimationRegistry::backgroundMenuAnimations().size();
    for (auto _ : state)
        for (size_t t = 0; t < types; ++t)
            for (int i = 0; i <= kSteps; ++i) {
                const double f = double(i) / kSteps;
                content->setFrame({300 * f, 0, 320, 480});
                menu->setFrame({300 * f - 300, 0, 300, 480});
                shadow->setAlpha(f);
            }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(types) * (kSteps + 1));
}
BENCHMARK(BM_FramesAndAlphaSetDirectly);

void setUp() {}

}  // namespace

int main(int argc, char** argv) {
    auto rates = runBenchmarksKeepingRates(argc, argv, &setUp);
    const double animated = rates["BM_FractionsThroughTheSixTypes"];
    const double direct = rates["BM_FramesAndAlphaSetDirectly"];
    if (animated > 0 && direct > 0)
        std::printf("fragments: %.0f fractions/s, direct: %.0f steps/s, direct/fragments: %.2f\n",
                    animated, direct, direct / animated);
    benchmark::Shutdown();
    return 0;
}
