#include "platform/web/WebView.h"

#include <mutex>

#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/web/HeadlessWebEngine.h"

namespace platform {
namespace {

struct FactoryHolder {
    std::mutex mutex;
    WebView::EngineFactory factory;
};

FactoryHolder& factoryHolder() {
    static auto* holder = [] {
        auto* h = new FactoryHolder;
        registerSharedInstanceReset("WebView engine factory", [h] {
            std::lock_guard lock(h->mutex);
            h->factory = nullptr;
        });
        return h;
    }();
    return *holder;
}

std::unique_ptr<WebEngine> makeEngine() {
    WebView::EngineFactory factory;
    {
        auto& holder = factoryHolder();
        std::lock_guard lock(holder.mutex);
        factory = holder.factory;
    }
    if (factory) {
        if (auto engine = factory()) return engine;
    }
    return std::make_unique<HeadlessWebEngine>();
}

}  // namespace

WebView::WebView() : WebView(makeEngine()) {}

WebView::WebView(std::unique_ptr<WebEngine> engine) : engine_(std::move(engine)) {
    assertThat(engine_ != nullptr, "WebView needs an engine");
    engine_->setClient(this);
    applyBackground();
}

WebView::~WebView() {
    engine_->setClient(nullptr);
}

void WebView::setEngineFactory(EngineFactory factory) {
    auto& holder = factoryHolder();
    std::lock_guard lock(holder.mutex);
    holder.factory = std::move(factory);
}

void WebView::loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) {
    engine_->loadHTMLString(html, baseURL);
}

void WebView::loadData(const std::string& data, const std::string& mimeType,
                       const std::string& textEncodingName, const std::optional<URL>& baseURL) {
    engine_->loadData(data, mimeType, textEncodingName, baseURL);
}

void WebView::loadRequest(const URLRequest& request) {
    engine_->loadRequest(request);
}

void WebView::stopLoading() {
    engine_->stopLoading();
}

bool WebView::isLoading() const {
    return engine_->isLoading();
}

std::optional<URLRequest> WebView::request() const {
    return engine_->request();
}

std::string WebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
    return engine_->stringByEvaluatingJavaScript(script);
}

void WebView::evaluateJavaScript(const std::string& script, ScriptCompletion completion) {
    engine_->evaluateJavaScript(script, std::move(completion));
}

std::string WebView::title() const {
    return engine_->title();
}

void WebView::setFrame(const WebRect& frame) {
    frame_ = frame;
    engine_->setSize(frame.width, frame.height);
}

void WebView::setBackgroundColor(const WebColor& color) {
    backgroundColor_ = color;
    applyBackground();
}

void WebView::setOpaque(bool opaque) {
    opaque_ = opaque;
    applyBackground();
}

void WebView::applyBackground() {
    engine_->setBackgroundColor(backgroundColor_, opaque_);
}

WebSnapshot WebView::snapshot() {
    return engine_->snapshot();
}

bool WebView::engineShouldStartLoad(const URLRequest& request, NavigationType type) {
    auto delegate = delegate_.lock();
    return delegate ? delegate->shouldStartLoad(*this, request, type) : true;
}

void WebView::engineDidStartLoad() {
    if (auto delegate = delegate_.lock()) delegate->didStartLoad(*this);
}

void WebView::engineDidFinishLoad() {
    if (auto delegate = delegate_.lock()) delegate->didFinishLoad(*this);
}

void WebView::engineDidFailLoad(const Error& error) {
    if (auto delegate = delegate_.lock()) delegate->didFailLoad(*this, error);
}

}  // namespace platform
