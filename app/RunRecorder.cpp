#include "app/RunRecorder.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <vector>

#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/containers/MVNavigationController.h"
#include "libmerovane/containers/MVTabController.h"
#include "libmerovane/core/MVCommandTrace.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewDrawing.h"
#include "platform/ui/Window.h"

namespace {

constexpr double kPollInterval = 0.1;

double secondsBetween(int64_t from, int64_t to) {
    return static_cast<double>(to - from) / 1e9;
}

// Shown to the user: in the key window, no ancestor hidden or transparent, some of it
// inside the window.
bool isOnScreen(const platform::View& view) {
    auto window = view.window();
    if (!window || window != platform::Application::shared().keyWindow()) return false;
    for (const platform::View* v = &view; v; v = v->superview().get())
        if (v->isHidden() || v->alpha() < 0.01) return false;
    const auto frame = view.convertRectToView(view.bounds(), window.get());
    const auto area = window->bounds();
    return frame.size.width > 0 && frame.size.height > 0 &&
           frame.origin.x < area.origin.x + area.size.width &&
           frame.origin.y < area.origin.y + area.size.height &&
           frame.origin.x + frame.size.width > area.origin.x &&
           frame.origin.y + frame.size.height > area.origin.y;
}

// The page the shop opens with: the first page of the tab shown (not its header, nor a
// menu's page). Null while there is none.
std::shared_ptr<MVWebView> firstPageOfShownTab() {
    auto tabs = std::dynamic_pointer_cast<MVTabController>(
        MVTabControllerInterface::sharedDefaultInstance());
    auto tab = tabs ? tabs->currentPresentedTab() : nullptr;
    if (!tab) return nullptr;
    const auto pages = tab->pageStack();
    auto first =
        pages.empty() ? nullptr : std::dynamic_pointer_cast<MVWebViewController>(pages.front());
    return first ? first->webViewFinal() : nullptr;
}

}  // namespace

struct RunRecorder::State {
    std::string folder;
    int64_t startNanos = 0;

    std::mutex mutex;
    FILE* log = nullptr;           // guarded by mutex
    int64_t lastCommandNanos = 0;  // guarded by mutex

    // Main thread.
    platform::ObserverRegistration finished;
    std::vector<std::weak_ptr<MVWebView>> finishedViews;
    std::optional<int64_t> presentedNanos;
    std::string presentedUrl;
    bool done = false;
    platform::TimerHandle poll;

    ~State() {
        if (log) std::fclose(log);
    }

    void command(MVCommandTrace::Direction direction, std::string_view version,
                 std::string_view name) {
        const int64_t now = platform::Clock::monotonicNanos();
        const std::string line =
            fmt::format("{:.3f} {} {} {}\n", secondsBetween(startNanos, now),
                        MVCommandTrace::directionName(direction), version, name);
        std::lock_guard lock(mutex);
        lastCommandNanos = now;
        if (!log) return;
        std::fputs(line.c_str(), log);
        std::fflush(log);
    }

    void step() {
        if (done) return;
        const int64_t now = platform::Clock::monotonicNanos();
        if (!presentedNanos) {
            findPresentedPage(now);
            return;
        }
        int64_t last = 0;
        {
            std::lock_guard lock(mutex);
            last = lastCommandNanos;
        }
        const double quiet = secondsBetween(std::max(*presentedNanos, last), now);
        if (quiet < kQuietSeconds && secondsBetween(*presentedNanos, now) < kMostSettlingSeconds)
            return;
        done = true;
        poll = {};
        writeResults();
    }

    void findPresentedPage(int64_t now) {
        if (MVSplashScreenInterface::isSplashScreenVisible()) return;
        auto page = firstPageOfShownTab();
        if (!page || page->isLoading() || !isOnScreen(*page)) return;
        const bool finished = std::any_of(finishedViews.begin(), finishedViews.end(),
                                          [&](const auto& weak) { return weak.lock() == page; });
        if (!finished) return;
        presentedNanos = now;
        presentedUrl = page->currentUrl().value_or("");
        MVLogInfo("RunRecorder: first page presented after {:.3f} s: {}",
                  secondsBetween(startNanos, now), platform::log::escaped(presentedUrl));
    }

    void writeResults() {
        auto& files = platform::FileManager::defaultManager();
        auto window = platform::Application::shared().keyWindow();
        const std::string png =
            window ? platform::imageOfViewHierarchy(*window, 1.0).pngData() : std::string();
        if (png.empty() || !files.writeFileAtomically(folder + "/screenshot.png", png))
            MVLogError("RunRecorder could not write {}/screenshot.png", folder);
        const nlohmann::json presented{
            {"firstPageSeconds", secondsBetween(startNanos, *presentedNanos)},
            {"url", presentedUrl}};
        if (!files.writeFileAtomically(folder + "/presented.json",
                                       platform::json::print(presented) + "\n"))
            MVLogError("RunRecorder could not write {}/presented.json", folder);
        MVLogInfo("RunRecorder wrote the screenshot and the presented page to {}", folder);
    }
};

std::shared_ptr<RunRecorder> RunRecorder::start(const std::string& folder, int64_t startNanos) {
    auto& files = platform::FileManager::defaultManager();
    auto state = std::make_shared<State>();
    state->folder = folder;
    state->startNanos = startNanos;
    if (!files.createDirectory(folder, true) ||
        !(state->log = std::fopen((folder + "/commands.log").c_str(), "we"))) {
        MVLogError("RunRecorder cannot write to {}", folder);
        return nullptr;
    }
    std::weak_ptr<State> weak = state;
    MVCommandTrace::setObserver([weak](MVCommandTrace::Direction direction,
                                       std::string_view version, std::string_view name) {
        if (auto self = weak.lock()) self->command(direction, version, name);
    });
    auto& center = platform::NotificationCenter::defaultCenter();
    state->finished = platform::ObserverRegistration(
        center, center.addObserver(MVWebViewDidFinishLoadingNotification, nullptr,
                                   [weak](const platform::Notification& notification) {
                                       auto self = weak.lock();
                                       const auto* view = std::any_cast<std::weak_ptr<MVWebView>>(
                                           &notification.object);
                                       if (self && view) self->finishedViews.push_back(*view);
                                   }));
    state->poll = platform::RunLoop::main().postRepeating(kPollInterval, [weak] {
        if (auto self = weak.lock()) self->step();
    });
    return std::shared_ptr<RunRecorder>(new RunRecorder(std::move(state)));
}

RunRecorder::~RunRecorder() {
    MVCommandTrace::setObserver(nullptr);
}
