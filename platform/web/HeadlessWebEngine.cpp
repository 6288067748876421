#include "platform/web/HeadlessWebEngine.h"

#include <cmath>

#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URLConnection.h"

namespace platform {
namespace {

constexpr const char* kBlankPage = "about:blank";

URLRequest requestForBase(const std::optional<URL>& baseURL) {
    if (baseURL && !baseURL->isEmpty()) return URLRequest(*baseURL);
    return URLRequest(*URL::parse(kBlankPage));
}

uint8_t channel(double value) {
    if (!(value > 0)) return 0;
    if (value >= 1) return 255;
    return static_cast<uint8_t>(std::lround(value * 255));
}

bool isFragmentMove(const URLRequest& from, const URLRequest& to) {
    const auto& target = to.url().absoluteString();
    return to.httpMethod() == "GET" && target.find('#') != std::string::npos &&
           to.url().stringWithoutFragment() == from.url().stringWithoutFragment();
}

}  // namespace

// The fetch of the load under way, through URL loading (and so the URL protocols).
struct HeadlessWebEngine::Fetch {
    std::shared_ptr<URLConnection> connection;
};

HeadlessWebEngine::HeadlessWebEngine() = default;

HeadlessWebEngine::~HeadlessWebEngine() {
    cancelFetch();
}

size_t HeadlessWebEngine::addLoad(Load load, std::string line) {
    transcript_.push_back(std::move(line));
    loads_.push_back(std::move(load));
    const size_t index = loads_.size() - 1;
    later([this, index] { decide(index); });
    return index;
}

void HeadlessWebEngine::loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) {
    beginLoad();
    Load load;
    load.kind = LoadKind::HTMLString;
    load.request = requestForBase(baseURL);
    load.content = html;
    load.mimeType = "text/html";
    load.textEncodingName = "utf-8";
    std::string line = "loadHTMLString " + load.request.url().absoluteString();
    addLoad(std::move(load), std::move(line));
}

void HeadlessWebEngine::loadData(const std::string& data, const std::string& mimeType,
                                 const std::string& textEncodingName,
                                 const std::optional<URL>& baseURL) {
    beginLoad();
    Load load;
    load.kind = LoadKind::Data;
    load.request = requestForBase(baseURL);
    load.content = data;
    load.mimeType = mimeType;
    load.textEncodingName = textEncodingName;
    std::string line =
        "loadData " + mimeType + " " + textEncodingName + " " + load.request.url().absoluteString();
    addLoad(std::move(load), std::move(line));
}

void HeadlessWebEngine::loadRequest(const URLRequest& request) {
    beginLoad();
    Load load;
    load.kind = LoadKind::Request;
    load.request = request;
    std::string line = "loadRequest " + request.httpMethod() + " " + request.url().absoluteString();
    addLoad(std::move(load), std::move(line));
}

void HeadlessWebEngine::navigate(const URLRequest& request, NavigationType type) {
    Load load;
    load.kind = LoadKind::Navigation;
    load.request = request;
    // The page navigates its top frame: the request is its own main document.
    load.request.setMainDocumentURL(request.url());
    load.navigationType = type;
    load.generation = loadGeneration();
    std::string line =
        std::string("navigate ") + request.url().absoluteString() + " " + navigationTypeName(type);
    addLoad(std::move(load), std::move(line));
}

void HeadlessWebEngine::navigate(const std::string& url, NavigationType type) {
    auto parsed = URL::parse(url);
    assertThat(parsed.has_value(),
               "HeadlessWebEngine cannot navigate to a text that is no URL: " + url);
    navigate(URLRequest(*parsed), type);
}

void HeadlessWebEngine::setLocationHref(const std::string& url) {
    navigate(url, NavigationType::Other);
}

void HeadlessWebEngine::decide(size_t index) {
    if (loads_[index].state != LoadState::Deciding) return;
    const URLRequest request = loads_[index].request;
    const NavigationType type = loads_[index].navigationType;
    std::weak_ptr<const void> alive = lifetime();
    const bool allowed = loads_[index].kind == LoadKind::Navigation
                             ? askClientForPageNavigation(request, type, loads_[index].generation)
                             : askClient(request, type);
    if (!alive.lock()) return;
    decisions_.push_back(Decision{request, type, allowed});
    transcript_.push_back("decide " + request.url().absoluteString() + " " +
                          navigationTypeName(type) + " " + (allowed ? "allowed" : "refused"));
    if (loads_[index].state != LoadState::Deciding) return;  // stopped meanwhile
    if (!allowed) {
        loads_[index].state = LoadState::Refused;
        return;
    }
    begin(index);
}

void HeadlessWebEngine::begin(size_t index) {
    Load& load = loads_[index];
    if (load.kind == LoadKind::Navigation && pageIndex_ &&
        isFragmentMove(loads_[*pageIndex_].request, load.request)) {
        load.state = LoadState::Finished;
        loads_[*pageIndex_].request.setURL(load.request.url());
        transcript_.push_back("fragment " + load.request.url().absoluteString());
        return;
    }
    std::weak_ptr<const void> alive = lifetime();
    if (loadingIndex_) {
        // A new document replaces the one still loading, as in real engines.
        const size_t old = *loadingIndex_;
        cancelFetch();
        loads_[old].state = LoadState::Cancelled;
        loadingIndex_.reset();
        reportFailure(old, Error(kURLErrorDomain, kURLErrorCancelled, "cancelled"));
        if (!alive.lock()) return;
    }
    loads_[index].state = LoadState::Loading;
    pageIndex_ = index;
    loadingIndex_ = index;
    title_.clear();
    transcript_.push_back("start " + loads_[index].request.url().absoluteString());
    if (client()) client()->engineDidStartLoad();
    if (!alive.lock() || loadingIndex_ != index) return;
    const LoadKind kind = loads_[index].kind;
    if (kind == LoadKind::Request || kind == LoadKind::Navigation) {
        startFetch(index);
    } else if (finishesAutomatically_) {
        later([this, index] { finish(index); });
    }
}

void HeadlessWebEngine::startFetch(size_t index) {
    cancelFetch();
    if (loads_[index].request.url().absoluteString() == kBlankPage) {
        loads_[index].mimeType = "text/html";
        if (finishesAutomatically_) later([this, index] { finish(index); });
        return;
    }
    // Callbacks come on later turns of the main loop and never after cancel().
    URLConnectionCallbacks callbacks;
    callbacks.didReceiveResponse = [this, index](const HTTPURLResponse& response) {
        Load& load = loads_[index];
        load.mimeType = response.mimeType();
        load.textEncodingName = response.textEncodingName();
        load.content.clear();
        // The page's address is where redirects ended.
        if (!response.url().isEmpty()) load.request.setURL(response.url());
    };
    callbacks.didReceiveData = [this, index](const std::vector<uint8_t>& data) {
        loads_[index].content.append(data.begin(), data.end());
    };
    callbacks.didFinishLoading = [this, index] {
        fetch_.reset();
        if (finishesAutomatically_) finish(index);
    };
    callbacks.didFailWithError = [this, index](const Error& error) {
        fetch_.reset();
        fail(index, error);
    };
    fetch_ = std::make_shared<Fetch>();
    fetch_->connection =
        URLConnection::start(loads_[index].request, std::move(callbacks), RunLoop::main());
}

void HeadlessWebEngine::cancelFetch() {
    if (fetch_ && fetch_->connection) fetch_->connection->cancel();
    fetch_.reset();
}

void HeadlessWebEngine::finish(size_t index) {
    if (loadingIndex_ != index) return;
    cancelFetch();
    loads_[index].state = LoadState::Finished;
    loadingIndex_.reset();
    transcript_.push_back("finish " + loads_[index].request.url().absoluteString());
    if (client()) client()->engineDidFinishLoad();
}

void HeadlessWebEngine::fail(size_t index, const Error& error) {
    if (loadingIndex_ != index) return;
    cancelFetch();
    loads_[index].state = LoadState::Failed;
    loadingIndex_.reset();
    reportFailure(index, error);
}

void HeadlessWebEngine::reportFailure(size_t index, const Error& error) {
    transcript_.push_back("fail " + loads_[index].request.url().absoluteString() + " " +
                          std::to_string(error.code()));
    if (client()) client()->engineDidFailLoad(error);
}

void HeadlessWebEngine::finishLoad() {
    if (!loadingIndex_) return;
    const size_t index = *loadingIndex_;
    later([this, index] { finish(index); });
}

void HeadlessWebEngine::failLoad(const Error& error) {
    if (!loadingIndex_) return;
    const size_t index = *loadingIndex_;
    later([this, index, error] { fail(index, error); });
}

void HeadlessWebEngine::stopLoading() {
    transcript_.push_back("stop");
    for (auto& load : loads_) {
        if (load.state == LoadState::Deciding) load.state = LoadState::Cancelled;
    }
    if (!loadingIndex_) return;
    const size_t index = *loadingIndex_;
    cancelFetch();
    loads_[index].state = LoadState::Cancelled;
    loadingIndex_.reset();
    later([this, index] {
        reportFailure(index, Error(kURLErrorDomain, kURLErrorCancelled, "cancelled"));
    });
}

std::optional<URLRequest> HeadlessWebEngine::request() const {
    if (!pageIndex_) return std::nullopt;
    return loads_[*pageIndex_].request;
}

const HeadlessWebEngine::Load* HeadlessWebEngine::currentPage() const {
    return pageIndex_ ? &loads_[*pageIndex_] : nullptr;
}

HeadlessWebEngine::ScriptAnswer HeadlessWebEngine::answer(const std::string& script) {
    scripts_.push_back(script);
    transcript_.push_back("evaluate " + script);
    if (!responder_) return {};
    ScriptAnswer reply = responder_(script);
    if (reply.error) reply.result.clear();
    return reply;
}

std::string HeadlessWebEngine::stringByEvaluatingJavaScript(const std::string& script) {
    return answer(script).result;
}

void HeadlessWebEngine::evaluateJavaScript(const std::string& script, ScriptCompletion completion) {
    // Scripts run in the order they were sent; only the answer comes later.
    ScriptAnswer reply = answer(script);
    if (!completion) return;
    later([reply = std::move(reply), completion = std::move(completion)] {
        completion(reply.result, reply.error);
    });
}

void HeadlessWebEngine::setSize(double width, double height) {
    width_ = width;
    height_ = height;
}

void HeadlessWebEngine::setBackgroundColor(const Color& color) {
    background_ = color;
}

Image HeadlessWebEngine::snapshot() {
    transcript_.push_back("snapshot");
    const double pixels = width_ * height_;
    if (!(width_ >= 1 && height_ >= 1 && pixels <= static_cast<double>(Image::kMaxPixels)))
        return {};
    const Image::Pixel fill{channel(background_.red), channel(background_.green),
                            channel(background_.blue), channel(background_.alpha)};
    return Image(static_cast<int>(width_), static_cast<int>(height_), 1, fill);
}

}  // namespace platform
