#include "libmerovane/payments/MVPageEventHold.h"

#include <cstddef>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedInstances.h"

namespace {

struct Held {
    std::weak_ptr<MVWebView> page;
    std::vector<MVEvent> events;
    std::vector<platform::ObserverRegistration> observers;
};

using HeldPages = std::map<const MVWebViewInterface*, Held>;

HeldPages& heldPages() {
    static auto* pages = [] {
        auto* created = new HeldPages;
        platform::registerSharedInstanceReset("MVPageEventHold", [created] { created->clear(); });
        return created;
    }();
    return *pages;
}

// The load of `key` ended: with the page kept (`kept`), its held events reach it. A
// cancelled load may be the start of a newer one, after which the page listens again:
// what it does not listen to yet waits for that load's end.
void loadEnded(const MVWebViewInterface* key, bool kept, bool cancelled) {
    auto& pages = heldPages();
    auto found = pages.find(key);
    if (found == pages.end()) return;
    // Taken out first: delivering may run the page's script and a new hold.
    Held held = std::move(found->second);
    pages.erase(found);
    auto page = held.page.lock();
    if (!page || !kept) {
        MVLogInfo("MVTesseraWallet drops {} held event(s): their page was replaced",
                  held.events.size());
        return;
    }
    auto& dispatcher = MVEventDispatcher::sharedDispatcher();
    std::vector<MVEvent> waiting;
    for (auto& event : held.events) {
        bool listens = false;
        for (const auto& listener : dispatcher.webViewsForEvent(event.eventName()))
            listens = listens || listener.get() == key;
        if (!listens && cancelled) {
            waiting.push_back(std::move(event));
        } else if (!listens) {
            MVLogInfo("MVTesseraWallet drops {}: its page did not register for it",
                      event.eventName());
        } else {
            MVLogInfo("MVTesseraWallet sends {} held for {} while it loaded", event.eventName(),
                      page->debugName());
            page->performMVEvent(event);
        }
    }
    if (waiting.empty()) return;
    // Held again, before what the page's script may have held meanwhile.
    auto [entry, fresh] = pages.try_emplace(key);
    if (fresh) {
        held.events = std::move(waiting);
        entry->second = std::move(held);
        return;
    }
    auto& events = entry->second.events;
    events.insert(events.begin(), std::make_move_iterator(waiting.begin()),
                  std::make_move_iterator(waiting.end()));
    if (events.size() > MVPageEventHold::kMaximumEvents)
        events.erase(events.begin(),
                     events.begin() + static_cast<std::ptrdiff_t>(events.size() -
                                                                  MVPageEventHold::kMaximumEvents));
}

}  // namespace

void MVPageEventHold::hold(const std::shared_ptr<MVWebView>& page, const MVEvent& event) {
    const auto* key = static_cast<const MVWebViewInterface*>(page.get());
    // Pages released while they loaded hold nothing more.
    std::erase_if(heldPages(), [](const auto& entry) { return entry.second.page.expired(); });
    auto& held = heldPages()[key];
    if (held.observers.empty()) {
        held.page = page;
        auto& center = platform::NotificationCenter::defaultCenter();
        struct End {
            const char* notification;
            bool kept;
            bool cancelled;
        };
        const End ends[] = {
            {MVWebViewDidReplaceDocumentNotification, false, false},
            {MVWebViewDidFailLoadingNotification, true, false},
            {MVWebViewDidCancelLoadingNotification, true, true},
            {MVWebViewDidFinishLoadingNotification, true, false},
        };
        for (const End& end : ends) {
            held.observers.emplace_back(
                center, center.addObserver(end.notification, key,
                                           [key, end](const platform::Notification&) {
                                               loadEnded(key, end.kept, end.cancelled);
                                           }));
        }
    }
    if (held.events.size() >= kMaximumEvents) held.events.erase(held.events.begin());
    held.events.push_back(event);
    MVLogInfo("MVTesseraWallet holds {} for {} while it loads", event.eventName(),
              page->debugName());
}
