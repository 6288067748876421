#pragma once
// A stand-in web view for the command and event dispatchers: records the events it is
// given and the commands its "delegate" was asked about, and answers the veto as told.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVWebViewInterface.h"

class FakeWebView : public MVWebViewInterface, public std::enable_shared_from_this<FakeWebView> {
  public:
    // debugName "<serial>" or "<serial:name>".
    static std::shared_ptr<FakeWebView> create(int serial, const std::string& name = "");

    int serial() const override { return serial_; }
    std::string debugName() const override { return debugName_; }
    // Counts reads from threads other than main in `offMainThreadReads`.
    std::optional<std::string> currentUrl() const override;
    std::optional<bool> delegateShouldPerformCommand(const MVCommand& command) override;
    void performMVEvent(const MVEvent& event) override;
    // A token that stands for this web view where commands receive an MVWebView: it
    // identifies the fake and is never dereferenced.
    std::shared_ptr<MVWebView> asMVWebView() override;
    static MVWebView* token(const FakeWebView* webView);

    void setCurrentUrl(std::optional<std::string> url) { currentUrl_ = std::move(url); }
    // None: the delegate does not answer the question.
    void setVetoAnswer(std::optional<bool> answer) { vetoAnswer_ = answer; }
    // Runs inside performMVEvent, after the event is recorded.
    void setOnEvent(std::function<void(const MVEvent&)> hook) { onEvent_ = std::move(hook); }

    std::vector<MVEvent> events;
    std::vector<std::string> askedCommands;
    mutable std::atomic<int> offMainThreadReads{0};

  private:
    FakeWebView(int serial, std::string debugName);

    int serial_;
    std::string debugName_;
    std::optional<std::string> currentUrl_;
    std::optional<bool> vetoAnswer_;
    std::function<void(const MVEvent&)> onEvent_;
};
