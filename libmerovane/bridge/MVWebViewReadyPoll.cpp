// MVWebView: the platform view's load reports, the document-ready poll that follows a
// finished load, the onload latch that shows the page, measuring and the end of
// rendering, and the delivery of page events (at once, or buffered while a page loads).
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <utility>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewAnswers.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIColorExtensions.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/RunLoop.h"

namespace texts = mvwebview_texts;

namespace {

// Unanswered data requests a web view keeps (a page may send in a loop to a server that
// never answers).
constexpr size_t kMaxDataRequests = 4096;
// Between a request serial and the number of the document that sent it.
constexpr const char* kDocumentMark = ":d";

// A data request's serial as sent upstream: the page's serial, and the document's number
// when marked with it. A last part that starts as a mark and is no number is malformed.
struct SentSerial {
    std::string_view serial;
    std::optional<uint64_t> document;
    bool malformed = false;
};

SentSerial parseSentSerial(std::string_view sent) {
    const size_t colon = sent.rfind(':');
    if (colon == std::string_view::npos || sent.compare(colon, 2, kDocumentMark) != 0) {
        return {sent, std::nullopt};
    }
    const std::string_view digits = sent.substr(colon + 2);
    uint64_t document = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), document);
    const bool number = error == std::errc() && end == digits.data() + digits.size();
    return {sent.substr(0, colon), number ? std::optional(document) : std::nullopt, !number};
}

}  // namespace

namespace mvwebview_answers {

// The page's computed background colour. Engines answer forms other than "rgb(" and
// "rgba(" ("transparent", "color(srgb ...)"); the page chooses that text, so an odd one
// is logged and taken as white rather than trusted to the parser.
platform::Color backgroundColorFromAnswer(const std::string& answer, const std::string& label) {
    if (answer.empty()) return platform::Color::white();
    if (answer.find("rgba(") == std::string::npos && answer.find("rgb(") == std::string::npos) {
        MVLogWarn(texts::kOddBackgroundColor, label, platform::log::escaped(answer));
        return platform::Color::white();
    }
    return colorWithRGBAString(answer);
}

// "width,height" as the page measures its html element; anything else is 0 by 0.
platform::Size sizeFromAnswer(const std::string& answer) {
    const size_t comma = answer.find(',');
    if (comma == std::string::npos || answer.find(',', comma + 1) != std::string::npos) {
        return platform::Size();
    }
    return platform::Size{platform::json::doubleValue(nlohmann::json(answer.substr(0, comma))),
                          platform::json::doubleValue(nlohmann::json(answer.substr(comma + 1)))};
}

}  // namespace mvwebview_answers

using mvwebview_answers::backgroundColorFromAnswer;
using mvwebview_answers::sizeFromAnswer;

// The platform view's reports count once per load, and a finish or failure only after
// that load's start: a report of the platform load that a newer one replaced must not
// end the newer.
void MVWebView::webViewDidStartLoad(MVWebViewAdapter&) {
    // A document handed over has its number already. One the platform view loads itself
    // (a reload) is a new document, unless it fails before it replaced the page.
    if (std::exchange(documentAwaitingStart_, false)) {
        platformDocument_ = 0;
    } else {
        documentBeforePlatformLoad_ = document_;
        platformDocument_ = ++document_;
    }
    if (didNotifyLoadStart_) return;
    didNotifyLoadStart_ = true;
    if (auto delegate = this->delegate()) delegate->webViewDidStartLoad(*this);
}

void MVWebView::webViewDidFinishLoad(MVWebViewAdapter&) {
    if (std::exchange(platformDocument_, 0) != 0)
        postNotification(MVWebViewDidReplaceDocumentNotification);
    if (!didNotifyLoadStart_ || didNotifyLoadFinish_) return;
    didNotifyLoadFinish_ = true;
    auto keep = self();
    if (auto delegate = this->delegate()) delegate->webViewDidFinishLoad(*this);
    readyPoll().start(
        [this](const MVDocumentReadyPoll::Outcome& outcome) { documentDidBecomeReady(outcome); });
    if (!nativeMode_) webView_->setAlpha(1);
}

void MVWebView::webViewDidFailLoadWithError(MVWebViewAdapter& adapter, const platform::Error&) {
    // The page shown stays: its number and its data requests are current again.
    if (platformDocument_ != 0 && platformDocument_ == document_) {
        document_ = documentBeforePlatformLoad_;
        for (auto& request : dataRequests_) {
            if (request.document == platformDocument_) request.document = document_;
        }
    }
    platformDocument_ = 0;
    if (!didNotifyLoadStart_ || didNotifyLoadFinish_) return;
    pageDidFailLoading_ = false;
    webViewDidFinishLoad(adapter);
}

MVDocumentReadyPoll& MVWebView::readyPoll() {
    if (!readyPoll_) {
        // The poll lives and dies with this web view, so it may hold `this`.
        readyPoll_ = std::make_unique<MVDocumentReadyPoll>(
            [this] { return debugName(); },
            [this](const std::string& script, std::function<void(const std::string&)> answer) {
                webView_->evaluateJavaScript(
                    script,
                    [answer = std::move(answer)](const std::string& result,
                                                 const std::optional<platform::Error>& error) {
                        answer(error ? std::string() : result);
                    });
            },
            [this] { return canWebViewDidFinishLoadOnDateBeCalled_; });
    }
    return *readyPoll_;
}

void MVWebView::documentDidBecomeReady(const MVDocumentReadyPoll::Outcome& outcome) {
    auto keep = self();
    if (outcome.discardedFromHistory) {
        if (auto newest = newestEntry()) newest->setIsDiscardedFromHistory(true);
    }
    if (outcome.disallowsPullToRefresh) setPrefersPullToRefreshEnabled(false);
    const uint64_t generation = loadGeneration_;
    const bool usingLibrary = outcome.usingLibrary;
    injectJavascriptOverridesThenDo([weak = weakSelf(), generation, usingLibrary] {
        auto webView = weak.lock();
        // A load that began while the page ran the injection is not this page's.
        if (!webView || !webView->isCurrentLoad(generation)) return;
        MVWebView& self = *webView;
        self.canWebViewDidFinishLoadOnDateBeCalled_ = false;
        self.isUsingLibrary_ = usingLibrary;
        self.webView_->setKeyboardDisplayRequiresUserAction(false);
        MVLogVerbose(texts::kDidFinishLoading, self.debugName(), self.requestTextForLog(),
                     usingLibrary ? texts::kUsingLibrary : texts::kNotUsingLibrary);
        // A page without the library never gets what was buffered for it.
        if (self.eventBuffer_ && !self.eventBuffer_->empty() && usingLibrary) {
            self.sendEventBuffer();
        }
        self.eventBuffer_.reset();
        if (!usingLibrary || self.canOnloadBeCalled_) {
            self.readyPoll().startExternalCheck([raw = &self] { raw->onload(); });
        }
        if (!self.canOnloadBeCalled_ && self.isLoading_) self.canOnloadBeCalled_ = true;
    });
}

void MVWebView::onload() {
    if (!canOnloadBeCalled_) {
        canOnloadBeCalled_ = true;
        return;
    }
    auto keep = self();
    const bool wasLoading = isLoading_;
    isLoading_ = false;
    webView_->setAlpha(1);
    webView_->setUserInteractionEnabled(true);
    if (eventBuffer_ && !eventBuffer_->empty()) {
        MVLogWarn(texts::kBufferOnlyInOnload, debugName());
        sendEventBuffer();
    }
    eventBuffer_.reset();
    webView_->evaluateJavaScript(
        texts::kBackgroundColorScript,
        [weak = weakSelf(), wasLoading](const std::string& answer,
                                        const std::optional<platform::Error>& error) {
            auto webView = weak.lock();
            if (!webView) return;
            webView->webView_->setBackgroundColor(
                backgroundColorFromAnswer(error ? std::string() : answer, webView->debugName()));
            webView->finishRendering(wasLoading);
        });
    canOnloadBeCalled_ = false;
}

void MVWebView::measurePage(std::function<void()> then) {
    measureWaiters_.push_back(std::move(then));
    if (!measuring_) measureNow();
}

// A page may send thousands a second: those that come while a measurement runs, or in
// the turn it answered in (the other commands of a collection), share one more at the
// next turn, so that the last answer is never older than the last change and no
// measurement nests inside another.
void MVWebView::pageSizeDidChange() {
    sizeChangeWaiting_ = true;
    if (!measuring_ && !measureTurnPosted_) measureNow();
}

void MVWebView::measureNow() {
    measuring_ = true;
    const bool tellsSize = std::exchange(sizeChangeWaiting_, false);
    auto waiters = std::exchange(measureWaiters_, {});
    webView_->evaluateJavaScript(
        texts::kMeasureScript,
        [weak = weakSelf(), tellsSize, waiters = std::move(waiters)](
            const std::string& answer, const std::optional<platform::Error>& error) {
            auto webView = weak.lock();
            if (!webView) return;
            MVWebView& self = *webView;
            self.measuring_ = false;
            self.webContentSize_ = error ? platform::Size() : sizeFromAnswer(answer);
            if (!self.measureTurnPosted_) {
                self.measureTurnPosted_ = true;
                platform::RunLoop::main().post([weak] {
                    auto later = weak.lock();
                    if (!later) return;
                    later->measureTurnPosted_ = false;
                    if (!later->measuring_ &&
                        (later->sizeChangeWaiting_ || !later->measureWaiters_.empty()))
                        later->measureNow();
                });
            }
            if (tellsSize) {
                if (auto delegate = self.delegate()) delegate->webViewDidChangePageSize(self);
            }
            for (const auto& then : waiters) then();
        });
}

void MVWebView::finishRendering(bool announce) {
    measurePage([weak = weakSelf(), announce] {
        auto webView = weak.lock();
        if (!webView) return;
        MVWebView& self = *webView;
        if (auto delegate = self.delegate()) delegate->webViewDidFinishRendering(self);
        if (!announce) return;
        std::string shown;
        if (auto newest = self.newestEntry()) {
            shown = newest->isUrlEntry()
                        ? *newest->documentUrl()
                        : fmt::format(texts::kHTMLStringWithBase, newest->baseUrl().value_or(""));
        }
        MVLogVerbose(texts::kDidFinishRendering, self.debugName(), shown);
        self.postNotification(MVWebViewDidFinishLoadingNotification);
        if (self.afterLoadingBlock_) {
            platform::RunLoop::main().post(std::move(self.afterLoadingBlock_));
            self.afterLoadingBlock_ = nullptr;
        }
    });
}

void MVWebView::performMVEvent(const MVEvent& event) {
    if (auto serial = std::exchange(answerToHold_, std::nullopt)) {
        if (heldAnswers_.size() >= kMaxDataRequests) heldAnswers_.erase(heldAnswers_.begin());
        heldAnswers_.push_back({std::move(*serial), event});
        return;
    }
    if (pageHistory_.empty()) return;
    if (isGarbage_) MVLogVerbose(texts::kGarbageEvent, debugName());
    if (eventBuffer_) {
        eventBuffer_->append(event);
        return;
    }
    sendEventNow(event);
}

std::string MVWebView::noteDataRequest(const std::string& requestSerial) {
    const size_t hash = std::hash<std::string>()(requestSerial);
    // Answers name only the serial: while an older document's request of this serial is
    // out, this one also names its document, so that neither takes the other's answer.
    const bool olderOut = std::any_of(
        dataRequests_.begin(), dataRequests_.end(),
        [&](const DataRequest& r) { return r.serialHash == hash && r.document != document_; });
    std::string sent =
        olderOut ? fmt::format("{}{}{}", requestSerial, kDocumentMark, document_) : requestSerial;
    if (dataRequests_.size() >= kMaxDataRequests) dataRequests_.pop_front();
    dataRequests_.push_back({hash, std::hash<std::string>()(sent), document_});
    return sent;
}

bool MVWebView::takeDataRequest(const std::string& sentSerial) {
    answerToHold_.reset();
    const SentSerial parsed = parseSentSerial(sentSerial);
    const size_t hash = std::hash<std::string>()(sentSerial);
    // An older document's request of this serial that was never answered must not take
    // the answer of the document shown.
    auto request = std::find_if(
        dataRequests_.begin(), dataRequests_.end(),
        [&](const DataRequest& r) { return r.sentHash == hash && r.document == document_; });
    if (request == dataRequests_.end()) {
        request = std::find_if(dataRequests_.begin(), dataRequests_.end(),
                               [&](const DataRequest& r) { return r.sentHash == hash; });
    }
    uint64_t document = document_;
    if (request != dataRequests_.end()) {
        document = request->document;
        dataRequests_.erase(request);
    } else if (parsed.malformed) {
        MVLogWarn(texts::kDataResponseMalformedDocument, debugName(),
                  platform::log::escaped(sentSerial));
        return false;
    } else if (!parsed.document) {
        return true;  // no request noted: the page shown's, as it comes
    } else {
        document = *parsed.document;
    }
    if (document == document_) {
        // While a newer load waits for the platform view, events are held for its
        // document: this one is held for the document shown.
        if (shownLoadGeneration_ != loadGeneration_) answerToHold_ = std::string(parsed.serial);
        return true;
    }
    MVLogVerbose(texts::kDataResponseOfLeftPage, debugName(),
                 platform::log::escaped(parsed.serial));
    return false;
}

void MVWebView::dropHeldAnswers() {
    answerToHold_.reset();
    for (const auto& held : std::exchange(heldAnswers_, {}))
        MVLogVerbose(texts::kDataResponseOfLeftPage, debugName(),
                     platform::log::escaped(held.requestSerial));
}

void MVWebView::sendEventNow(const MVEvent& event) {
    if (!isUsingLibrary_) return;
    if (isGarbage_) MVLogVerbose(texts::kGarbageEvent, debugName());
    if (event.eventName() != MVEventBuffer::kUndeliveredEventName)
        MVLogVerbose(texts::kPerformingEvent, debugName(),
                     platform::log::escaped(event.stringForJavaDescription()));
    webView_->evaluateJavaScript(event.stringForJavaFunctionCall());
}

void MVWebView::sendEventBuffer() {
    if (!eventBuffer_ || eventBuffer_->empty()) return;
    if (isGarbage_) MVLogVerbose(texts::kGarbageEvent, debugName());
    const auto delivery = eventBuffer_->delivery(debugName());
    webView_->evaluateJavaScript(delivery.script);
    MVLogVerbose(texts::kPerformingEvent, debugName(), delivery.logText);
}
