#include "libmerovane/bridge/MVWebViewHistoryEntry.h"

#include <algorithm>

std::shared_ptr<MVWebViewHistoryEntry> MVWebViewHistoryEntry::historyEntryWithUrl(std::string url) {
    auto entry = std::make_shared<MVWebViewHistoryEntry>();
    entry->documentUrl_ = std::move(url);
    return entry;
}

std::shared_ptr<MVWebViewHistoryEntry> MVWebViewHistoryEntry::historyEntryWithHTMLString(
    std::string htmlString, std::optional<std::string> baseUrl) {
    auto entry = std::make_shared<MVWebViewHistoryEntry>();
    entry->htmlString_ = std::move(htmlString);
    entry->baseUrl_ = std::move(baseUrl);
    return entry;
}

std::shared_ptr<MVWebViewHistoryEntry> MVWebViewHistoryEntry::copy() const {
    return std::make_shared<MVWebViewHistoryEntry>(*this);
}

bool MVWebViewHistoryEntry::hasTag(const std::string& tag) const {
    return std::find(tags_.begin(), tags_.end(), tag) != tags_.end();
}
