#include "libmerovane/payments/MVPageEventHold.h"

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

// The load of `key` ended: with the page kept (`kept`), its held events reach it.
void loadEnded(const MVWebViewInterface* key, bool kept) {
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
    for (const auto& event : held.events) {
        bool listens = false;
        for (const auto& listener : dispatcher.webViewsForEvent(event.eventName()))
            listens = listens || listener.get() == key;
        if (!listens) {
            MVLogInfo("MVTesseraWallet drops {}: its page did not register for it",
                      event.eventName());
            continue;
        }
        MVLogInfo("MVTesseraWallet sends {} held for {} while it loaded", event.eventName(),
                  page->debugName());
        page->performMVEvent(event);
    }
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
        const std::pair<const char*, bool> ends[] = {
            {MVWebViewDidReplaceDocumentNotification, false},
            {MVWebViewDidFailLoadingNotification, true},
            {MVWebViewDidCancelLoadingNotification, true},
            {MVWebViewDidFinishLoadingNotification, true},
        };
        for (const auto& [name, kept] : ends) {
            held.observers.emplace_back(
                center,
                center.addObserver(name, key, [key, kept = kept](const platform::Notification&) {
                    loadEnded(key, kept);
                }));
        }
    }
    if (held.events.size() >= kMaximumEvents) held.events.erase(held.events.begin());
    held.events.push_back(event);
    MVLogInfo("MVTesseraWallet holds {} for {} while it loads", event.eventName(),
              page->debugName());
}
