#include "tests/support/FakeWebView.h"

#include <fmt/format.h>

#include "libmerovane/bridge/MVCommand.h"
#include "platform/foundation/Thread.h"

std::shared_ptr<FakeWebView> FakeWebView::create(int serial, const std::string& name) {
    std::string debugName =
        name.empty() ? fmt::format("<{}>", serial) : fmt::format("<{}:{}>", serial, name);
    return std::shared_ptr<FakeWebView>(new FakeWebView(serial, std::move(debugName)));
}

FakeWebView::FakeWebView(int serial, std::string debugName)
    : serial_(serial), debugName_(std::move(debugName)) {}

std::optional<std::string> FakeWebView::currentUrl() const {
    if (!platform::isMainThread()) ++offMainThreadReads;
    return currentUrl_;
}

std::optional<bool> FakeWebView::delegateShouldPerformCommand(const MVCommand& command) {
    askedCommands.push_back(command.name());
    return vetoAnswer_;
}

void FakeWebView::performMVEvent(const MVEvent& event) {
    events.push_back(event);
    if (onEvent_) onEvent_(event);
}

MVWebView* FakeWebView::token(const FakeWebView* webView) {
    return reinterpret_cast<MVWebView*>(const_cast<FakeWebView*>(webView));
}

std::shared_ptr<MVWebView> FakeWebView::asMVWebView() {
    return std::shared_ptr<MVWebView>(shared_from_this(), token(this));
}
