#pragma once
// A web-view delegate that records what its web view tells it and decides navigations
// by a rule the test sets (everything is allowed by default).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/web/WebView.h"

class RecordingWebViewDelegate : public platform::WebViewDelegate {
  public:
    struct Decision {
        platform::URLRequest request;
        platform::NavigationType type;
        bool allowed;
        std::string url() const { return request.url().absoluteString(); }
    };
    using Rule = std::function<bool(const platform::URLRequest&, platform::NavigationType)>;

    bool shouldStartLoad(platform::WebView&, const platform::URLRequest& request,
                         platform::NavigationType type) override {
        const bool allowed = rule ? rule(request, type) : true;
        decisions.push_back({request, type, allowed});
        events.push_back(std::string(allowed ? "allow " : "refuse ") +
                         request.url().absoluteString());
        return allowed;
    }
    void didStartLoad(platform::WebView&) override {
        ++starts;
        events.push_back("start");
    }
    void didFinishLoad(platform::WebView&) override {
        ++finishes;
        events.push_back("finish");
    }
    void didFailLoad(platform::WebView&, const platform::Error& error) override {
        ++failures;
        lastError = error;
        events.push_back("fail " + std::to_string(error.code()));
    }

    // Refuses every address whose scheme is one of `schemes`.
    void refuseSchemes(std::vector<std::string> schemes) {
        rule = [schemes = std::move(schemes)](const platform::URLRequest& request,
                                              platform::NavigationType) {
            for (const auto& s : schemes) {
                if (request.url().schemeLowercased() == s) return false;
            }
            return true;
        };
    }

    Rule rule;
    std::vector<Decision> decisions;
    std::vector<std::string> events;
    int starts = 0;
    int finishes = 0;
    int failures = 0;
    std::optional<platform::Error> lastError;
};
