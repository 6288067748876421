#include "platform/web/WebView.h"

#include <mutex>

#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/GraphicsContext.h"
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

std::shared_ptr<WebView> WebView::create(const Rect& frame) {
    return create(makeEngine(), frame);
}

std::shared_ptr<WebView> WebView::create(std::unique_ptr<WebEngine> engine, const Rect& frame) {
    std::shared_ptr<WebView> view(new WebView(std::move(engine), frame));
    view->scrollView_ = ScrollView::create(Rect({0, 0}, frame.size));
    view->scrollView_->setAutoresizingMask(kAutoresizingFlexibleWidth |
                                           kAutoresizingFlexibleHeight);
    view->addSubview(view->scrollView_);
    view->updateEngine();
    return view;
}

WebView::WebView(std::unique_ptr<WebEngine> engine, const Rect& frame)
    : View(frame), engine_(std::move(engine)) {
    assertThat(engine_ != nullptr, "WebView needs an engine");
    engine_->setClient(this);
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
    updateEngine();
    engine_->loadHTMLString(html, baseURL);
}

void WebView::loadData(const std::string& data, const std::string& mimeType,
                       const std::string& textEncodingName, const std::optional<URL>& baseURL) {
    updateEngine();
    engine_->loadData(data, mimeType, textEncodingName, baseURL);
}

void WebView::loadRequest(const URLRequest& request) {
    updateEngine();
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

std::string WebView::userAgent() {
    return engine_->userAgent();
}

std::string WebView::acceptLanguage() {
    return engine_->acceptLanguage();
}

void WebView::evaluateJavaScript(const std::string& script, ScriptCompletion completion) {
    engine_->evaluateJavaScript(script, std::move(completion));
}

std::string WebView::title() const {
    return engine_->title();
}

void WebView::setFrame(const Rect& frame) {
    View::setFrame(frame);
    updateEngine();
}

void WebView::setOpaque(bool opaque) {
    opaque_ = opaque;
    updateEngine();
}

void WebView::updateEngine() const {
    const Size size = bounds().size;
    if (engineSize_ != size) {
        engineSize_ = size;
        engine_->setSize(size.width, size.height);
    }
    const Color shown = opaque_ ? backgroundColor().value_or(Color::white()).withAlpha(1)
                                : backgroundColor().value_or(Color::clear());
    if (engineBackground_ != shown) {
        engineBackground_ = shown;
        engine_->setBackgroundColor(shown);
    }
}

Image WebView::snapshot() {
    updateEngine();
    return engine_->snapshot();
}

void WebView::drawContent(GraphicsContext& context, const Rect& bounds) const {
    updateEngine();
    const Image page = engine_->snapshot();
    if (!page.isEmpty()) context.drawImage(page, bounds);
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
