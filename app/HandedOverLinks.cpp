#include "app/HandedOverLinks.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "app/LogText.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"

namespace {

struct Link {
    std::string text;
    platform::URL url;
    HandedOverLinks::Answer answer;

    void tell(HandedOverLinks::Fate fate) {
        if (answer) std::exchange(answer, {})(fate);
    }
};

// The serial of the connection's newest packet; 0 before the library has set it up.
int64_t packetSerial() {
    return MVApiConnection::host() ? MVApiConnection::sharedConnection().upstreamSerial() : 0;
}

// Whether a packet after `serial` reaches the server before `deadline`: the upstream
// thread writes it while this waits; an unopened connection writes nothing.
bool writtenBy(int64_t serial, std::chrono::steady_clock::time_point deadline) {
    if (!MVApiConnection::host()) return false;
    const auto& connection = MVApiConnection::sharedConnection();
    while (!connection.hasWrittenPacketAfter(serial)) {
        if (!connection.isConnectionOpened() || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace

struct HandedOverLinks::State : std::enable_shared_from_this<State> {
    Deliver deliver;
    std::mutex mutex;
    // Under the mutex: taken and not yet delivered, wherever they wait; those not yet on
    // the main thread.
    bool quitting = false;
    int waiting = 0;
    std::deque<Link> arriving;
    // Main thread only. Delivered links wait in `sending`, with the number of their
    // delivery, until the library's command batch after it has left.
    bool libraryCanOpenLinks = false;
    std::deque<Link> held;
    struct Sending {
        uint64_t delivery;
        // The connection's packet serial before the link was opened: a newer packet holds
        // whatever the link queued.
        int64_t serial;
        Link link;
    };
    std::deque<Sending> sending;
    uint64_t deliveries = 0;
    platform::ObserverRegistration observer;

    // No start waits for an answer that never comes.
    ~State() {
        for (auto& link : arriving) link.tell(Fate::Quitting);
        for (auto& link : held) link.tell(Fate::Quitting);
        for (auto& entry : sending) entry.link.tell(Fate::Quitting);
    }

    void take() {
        std::deque<Link> arrived;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            arrived.swap(arriving);
        }
        for (auto& link : arrived) {
            if (!libraryCanOpenLinks)
                MVLogInfo("Holding {}, handed over by another start, until the library has started",
                          logText(link.text));
            held.push_back(std::move(link));
        }
        if (libraryCanOpenLinks) deliverHeld();
    }

    // The library queues what a link sends for its next command batch: a link is taken
    // once that batch has left, which a stop before it never lets happen.
    void deliverHeld() {
        const uint64_t delivery = ++deliveries;
        const int64_t serial = packetSerial();
        bool queued = false;
        while (!held.empty()) {
            Link link = std::move(held.front());
            held.pop_front();
            {
                const std::lock_guard<std::mutex> lock(mutex);
                --waiting;
            }
            MVLogInfo("Opening {}, handed over by another start", logText(link.text));
            if (!deliver(link.url).value_or(false)) {
                MVLogInfo("The shell opens nothing for {}, handed over by another start",
                          logText(link.text));
                link.tell(Fate::Taken);
                continue;
            }
            sending.push_back({delivery, serial, std::move(link)});
            queued = true;
        }
        if (!queued) return;
        // Due with the library's batch and posted after it: run once it has left.
        platform::RunLoop::main().postAfterDetached(MVApiConnection::kCommandBatchDelay,
                                                    [weak = weak_from_this(), delivery] {
                                                        if (auto self = weak.lock())
                                                            self->sent(delivery);
                                                    });
    }

    void sent(uint64_t delivery) {
        while (!sending.empty() && sending.front().delivery <= delivery) {
            Link link = std::move(sending.front().link);
            sending.pop_front();
            link.tell(Fate::Taken);
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

bool HandedOverLinks::receive(const std::string& text, Answer answer) {
    Link link{text, platform::URL(), std::move(answer)};
    switch (check(text)) {
        case Check::TooLong:
            MVLogError("Another start handed over a URL of {} bytes: refused", text.size());
            link.tell(Fate::Refused);
            return false;
        case Check::NoURL:
            MVLogError("Another start handed over \"{}\", which is no URL: refused", logText(text));
            link.tell(Fate::Refused);
            return false;
        case Check::Taken:
            link.url = *platform::URL::parse(text);
            break;
    }
    std::optional<Fate> fate;
    {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->quitting) {
            fate = Fate::Quitting;
        } else if (state_->waiting >= kMaxWaiting) {
            fate = Fate::Dropped;
        } else {
            ++state_->waiting;
            state_->arriving.push_back(std::move(link));
        }
    }
    if (fate == Fate::Quitting)
        MVLogInfo("Another start handed over {} while the shell quits: not opened", logText(text));
    else if (fate == Fate::Dropped)
        MVLogError("Another start handed over \"{}\" while {} others wait: dropped", logText(text),
                   kMaxWaiting);
    if (fate) {
        link.tell(*fate);
        return false;
    }
    platform::RunLoop::main().post([state = state_] { state->take(); });
    return true;
}

void HandedOverLinks::quit() {
    std::deque<Link> left;
    // A link whose batch has left is taken once the connection has written it, within a
    // bound; one whose batch has not, or that is not written by then, goes to the next
    // start.
    const int64_t serial = packetSerial();
    const auto deadline = std::chrono::steady_clock::now() + kWriteTime;
    for (auto& entry : state_->sending) {
        if (serial > entry.serial && writtenBy(entry.serial, deadline)) {
            entry.link.tell(Fate::Taken);
            continue;
        }
        MVLogInfo("The shell quits before it sent {}, handed over by another start",
                  logText(entry.link.text));
        entry.link.tell(Fate::Quitting);
    }
    state_->sending.clear();
    {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        state_->quitting = true;
        left.swap(state_->held);
        for (auto& link : state_->arriving) left.push_back(std::move(link));
        state_->arriving.clear();
        state_->waiting = 0;
    }
    for (auto& link : left) {
        MVLogInfo("The shell quits before opening {}, handed over by another start",
                  logText(link.text));
        link.tell(Fate::Quitting);
    }
}
