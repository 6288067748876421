#include "platform/web/webkit/WebKitDocumentHistory.h"

#include <algorithm>
#include <utility>

#include "platform/foundation/URL.h"

namespace platform {
namespace {

// At most this many frame links are waited for: a frame's navigation that added no item
// (a replacement, a refused response) is forgotten with the next document.
constexpr size_t kMaximumFrameLinks = 64;

// replaceState keeps the document's origin; the view's address also shows, for a moment,
// where the page asked to go (a page command's "mvcmd:" address, refused).
bool sameOrigin(const std::string& a, const std::string& b) {
    const auto first = URL::parse(a);
    const auto second = URL::parse(b);
    return first && second && first->schemeLowercased() == second->schemeLowercased() &&
           first->host() == second->host() && first->port() == second->port();
}

std::string addressOf(WebKitBackForwardListItem* item) {
    const char* address = item ? webkit_back_forward_list_item_get_uri(item) : nullptr;
    return address ? address : "";
}

}  // namespace

WebKitDocumentHistory::~WebKitDocumentHistory() {
    clear();
}

void WebKitDocumentHistory::clear() {
    for (auto& entry : items_) g_object_unref(entry.item);
    items_.clear();
    position_ = 0;
}

void WebKitDocumentHistory::append(WebKitBackForwardListItem* item, std::string address) {
    items_.push_back(Item{WEBKIT_BACK_FORWARD_LIST_ITEM(g_object_ref(item)), std::move(address)});
    position_ = items_.size() - 1;
}

void WebKitDocumentHistory::loadCommitted(WebKitBackForwardList* list, const char* address) {
    loading_ = false;
    allowed_.clear();
    frameLinks_ = 0;
    clear();
    // A document loaded from memory has no item of its own: its steps are not told.
    WebKitBackForwardListItem* current = webkit_back_forward_list_get_current_item(list);
    if (current && addressOf(current) == (address ? address : "")) append(current, address);
}

void WebKitDocumentHistory::navigationAllowed(const char* address, bool frame) {
    if (!frame) {
        allowed_ = address ? address : "";
    } else if (frameLinks_ < kMaximumFrameLinks) {
        ++frameLinks_;
    }
}

void WebKitDocumentHistory::listChanged(WebKitBackForwardList* list,
                                        WebKitBackForwardListItem* added, const char* shown) {
    if (loading_ || items_.empty()) return;
    WebKitBackForwardListItem* current = webkit_back_forward_list_get_current_item(list);
    if (added) {
        if (added != current) return;
        // Either the item or the view may still hold the address before the step (a
        // fragment change's item, pushState's view): the new one is the other. A document
        // given as the content of its address keeps that address for both.
        std::string address = addressOf(added);
        if (shown && address == items_[position_].address) address = shown;
        const bool unsure = address == items_[position_].address;
        const bool fragment = !allowed_.empty() && address == allowed_;
        allowed_.clear();
        // A frame's link adds an item for the page's unchanged address.
        if (!fragment && frameLinks_ > 0 && address == items_[position_].address) {
            --frameLinks_;
            return;
        }
        // What was ahead of the page is gone from WebKit's list.
        for (size_t i = position_ + 1; i < items_.size(); ++i) g_object_unref(items_[i].item);
        items_.resize(position_ + 1);
        append(added, address);
        if (!fragment) report_(address, {DocumentHistoryChange::Kind::Added, 0}, unsure);
        return;
    }
    // A step to an item of another document is WebKit's navigation, which is decided.
    const auto found = std::find_if(items_.begin(), items_.end(),
                                    [&](const Item& entry) { return entry.item == current; });
    if (found == items_.end()) return;
    const auto target = static_cast<size_t>(found - items_.begin());
    if (target < position_) {
        const auto step = -static_cast<int64_t>(position_ - target);
        position_ = target;
        report_(found->address, {DocumentHistoryChange::Kind::Moved, step}, false);
    }
    // Forward, one report per entry passed: each is an entry the page history adds again.
    while (position_ < target) {
        ++position_;
        report_(items_[position_].address, {DocumentHistoryChange::Kind::Moved, 1}, false);
    }
}

bool WebKitDocumentHistory::holds(WebKitBackForwardListItem* item) const {
    return std::any_of(items_.begin(), items_.end(),
                       [item](const Item& entry) { return entry.item == item; });
}

void WebKitDocumentHistory::pageTold(const std::string& address) {
    // The newest item is the one the page was asked about, unless it moved on meanwhile.
    if (!items_.empty() && position_ == items_.size() - 1) items_.back().address = address;
}

void WebKitDocumentHistory::addressChanged(WebKitBackForwardList* list, const char* address) {
    if (loading_ || items_.empty() || !address) return;
    if (webkit_back_forward_list_get_current_item(list) != items_[position_].item) return;
    if (items_[position_].address == address || !sameOrigin(items_[position_].address, address))
        return;
    items_[position_].address = address;
    report_(address, {DocumentHistoryChange::Kind::Replaced, 0}, false);
}

}  // namespace platform
