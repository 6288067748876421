#pragma once
// One entry of a web view's own page history: a page's address (a web URL or "mvapi:"
// plus a page id) or its HTML with a base URL, and what the application keeps per page
// (tags, navigation-bar parameters and title, whether the page asked to be left out of
// the history or allows pull to refresh, whether the page's pushState made it).
//
//   auto entry = MVWebViewHistoryEntry::historyEntryWithUrl("https://shop.example/");
//   entry->setTags({"home"});
//
// Entries are shared by the history and whoever remembers one; copy() makes an
// independent one. Main thread only.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class URLRequest;
}

class MVWebViewHistoryEntry {
  public:
    // A URL entry; prefers pull to refresh.
    static std::shared_ptr<MVWebViewHistoryEntry> historyEntryWithUrl(std::string url);
    // An HTML entry; `baseUrl` none when the HTML has no base URL. Prefers pull to refresh.
    static std::shared_ptr<MVWebViewHistoryEntry> historyEntryWithHTMLString(
        std::string htmlString, std::optional<std::string> baseUrl);

    std::shared_ptr<MVWebViewHistoryEntry> copy() const;

    // A URL entry has a document URL; an HTML entry has none.
    bool isUrlEntry() const { return documentUrl_.has_value(); }

    bool isPushState() const { return isPushState_; }
    void setIsPushState(bool value) { isPushState_ = value; }
    bool isDiscardedFromHistory() const { return isDiscardedFromHistory_; }
    void setIsDiscardedFromHistory(bool value) { isDiscardedFromHistory_ = value; }
    bool prefersPullToRefreshEnabled() const { return prefersPullToRefreshEnabled_; }
    void setPrefersPullToRefreshEnabled(bool value) { prefersPullToRefreshEnabled_ = value; }

    const std::vector<std::string>& tags() const { return tags_; }
    void setTags(std::vector<std::string> tags) { tags_ = std::move(tags); }
    bool hasTag(const std::string& tag) const;

    const std::optional<std::string>& documentUrl() const { return documentUrl_; }
    void setDocumentUrl(std::optional<std::string> url) { documentUrl_ = std::move(url); }
    const std::optional<std::string>& htmlString() const { return htmlString_; }
    void setHtmlString(std::optional<std::string> html) { htmlString_ = std::move(html); }
    const std::optional<std::string>& baseUrl() const { return baseUrl_; }
    void setBaseUrl(std::optional<std::string> url) { baseUrl_ = std::move(url); }

    // The request with a body (a form's POST) whose answer the entry's document is, sent
    // again when the entry is reloaded; none for a document fetched with GET.
    const std::shared_ptr<const platform::URLRequest>& formRequest() const { return formRequest_; }
    void setFormRequest(std::shared_ptr<const platform::URLRequest> request) {
        formRequest_ = std::move(request);
    }

    // The navigation-bar parameters the page set (a dictionary), or null.
    const std::shared_ptr<const nlohmann::json>& navigationParams() const {
        return navigationParams_;
    }
    void setNavigationParams(std::shared_ptr<const nlohmann::json> params) {
        navigationParams_ = std::move(params);
    }
    const std::optional<std::string>& navigationTitle() const { return navigationTitle_; }
    void setNavigationTitle(std::optional<std::string> title) {
        navigationTitle_ = std::move(title);
    }

  private:
    bool isPushState_ = false;
    bool isDiscardedFromHistory_ = false;
    bool prefersPullToRefreshEnabled_ = true;
    std::vector<std::string> tags_;
    std::optional<std::string> documentUrl_;
    std::optional<std::string> htmlString_;
    std::optional<std::string> baseUrl_;
    // Never changed in place, so copies may share it.
    std::shared_ptr<const nlohmann::json> navigationParams_;
    std::optional<std::string> navigationTitle_;
    std::shared_ptr<const platform::URLRequest> formRequest_;
};
