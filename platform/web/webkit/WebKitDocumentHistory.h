#pragma once
// The session-history items of the document a WebKit view shows: its own, then those its
// fragment changes and pushState add, and which of them the page is at. WebKit moves among
// them (the page's back, forward and go()) and adds them without asking a navigation
// decision: this tells each such step as a DocumentHistoryChange.

#include <webkit2/webkit2.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/web/WebEngine.h"

namespace platform {

class WebKitDocumentHistory {
  public:
    // `unsure`: WebKit keeps no address of the entry but the one before it; the page's own
    // is to be asked (and given to pageTold).
    using Report =
        std::function<void(const std::string& address, DocumentHistoryChange change, bool unsure)>;

    explicit WebKitDocumentHistory(Report report) : report_(std::move(report)) {}
    ~WebKitDocumentHistory();
    WebKitDocumentHistory(const WebKitDocumentHistory&) = delete;
    WebKitDocumentHistory& operator=(const WebKitDocumentHistory&) = delete;

    // The top frame's load of a new document: started, then committed or failed.
    void loadStarted() { loading_ = true; }
    void loadCommitted(WebKitBackForwardList* list, const char* address);
    void loadFailed() { loading_ = false; }
    // A top-frame navigation the client allowed (a fragment change it has an entry for),
    // or a frame's link or form (whose entry the page history does not keep).
    void navigationAllowed(const char* address, bool frame);
    // The list's "changed" signal, with the view's address; the view's address as it changes.
    void listChanged(WebKitBackForwardList* list, WebKitBackForwardListItem* added,
                     const char* shown);
    void addressChanged(WebKitBackForwardList* list, const char* address);
    // The page's address for the newest entry, when its report was unsure.
    void pageTold(const std::string& address);
    // Whether `item` is one of the document's.
    bool holds(WebKitBackForwardListItem* item) const;
    // The item the page is at, if its document has items.
    WebKitBackForwardListItem* current() const {
        return items_.empty() ? nullptr : items_[position_].item;
    }

  private:
    struct Item {
        WebKitBackForwardListItem* item = nullptr;  // a reference of ours
        std::string address;
    };
    void clear();
    void append(WebKitBackForwardListItem* item, std::string address);

    Report report_;
    std::vector<Item> items_;
    size_t position_ = 0;
    bool loading_ = false;
    std::string allowed_;
    size_t frameLinks_ = 0;
};

}  // namespace platform
