#include "app/HandedOverLinks.h"

#include <atomic>
#include <deque>
#include <utility>

#include "app/LogText.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"

struct HandedOverLinks::State : std::enable_shared_from_this<State> {
    Deliver deliver;
    // Taken and not yet delivered, wherever they wait.
    std::atomic<int> waiting{0};
    // Main thread only.
    bool libraryCanOpenLinks = false;
    std::deque<std::pair<std::string, platform::URL>> held;
    platform::ObserverRegistration observer;

    void take(std::string text, platform::URL url) {
        held.emplace_back(std::move(text), std::move(url));
        if (libraryCanOpenLinks)
            deliverHeld();
        else
            MVLogInfo("Holding {}, handed over by another start, until the library has started",
                      logText(held.back().first));
    }

    void deliverHeld() {
        while (!held.empty()) {
            auto [text, url] = std::move(held.front());
            held.pop_front();
            --waiting;
            MVLogInfo("Opening {}, handed over by another start", logText(text));
            if (!deliver(url).value_or(false))
                MVLogInfo("The shell opens nothing for {}, handed over by another start",
                          logText(text));
        }
    }
};

HandedOverLinks::Check HandedOverLinks::check(std::string_view text) {
    if (text.size() > kMaxURLLength) return Check::TooLong;
    auto url = platform::URL::parse(text);
    return url && !url->scheme().empty() ? Check::Taken : Check::NoURL;
}

HandedOverLinks::HandedOverLinks(Deliver deliver) : state_(std::make_shared<State>()) {
    state_->deliver = deliver ? std::move(deliver) : [](const platform::URL& url) {
        return platform::Application::shared().deliverURL(url, std::nullopt, nullptr);
    };
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<State> weak = state_;
    state_->observer = platform::ObserverRegistration(
        center, center.addObserver(MVLibraryApplicationCanOpenLinksNotification, nullptr,
                                   [weak](const platform::Notification&) {
                                       auto state = weak.lock();
                                       if (!state || state->libraryCanOpenLinks) return;
                                       state->libraryCanOpenLinks = true;
                                       // Not inside the library's boot block.
                                       platform::RunLoop::main().post([weak] {
                                           if (auto s = weak.lock()) s->deliverHeld();
                                       });
                                   }));
}

HandedOverLinks::~HandedOverLinks() = default;

bool HandedOverLinks::receive(const std::string& text) {
    switch (check(text)) {
        case Check::TooLong:
            MVLogError("Another start handed over a URL of {} bytes: refused", text.size());
            return false;
        case Check::NoURL:
            MVLogError("Another start handed over \"{}\", which is no URL: refused", logText(text));
            return false;
        case Check::Taken:
            break;
    }
    if (state_->waiting.fetch_add(1) >= kMaxWaiting) {
        --state_->waiting;
        MVLogError("Another start handed over \"{}\" while {} others wait: dropped", logText(text),
                   kMaxWaiting);
        return false;
    }
    platform::RunLoop::main().post(
        [state = state_, text, url = *platform::URL::parse(text)]() mutable {
            state->take(std::move(text), std::move(url));
        });
    return true;
}
