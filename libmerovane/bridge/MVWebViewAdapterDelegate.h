#pragma once
// What an MVWebViewAdapter reports of its platform web view: the navigation question
// and the start, finish and failure of loads, each with the adapter as first argument.
// Every method is optional; a delegate that does not answer the question lets every
// request load. Main thread only.

#include <optional>

#include "platform/web/NavigationType.h"

namespace platform {
class Error;
class URLRequest;
}  // namespace platform

class MVWebViewAdapter;

class MVWebViewAdapterDelegate {
  public:
    virtual ~MVWebViewAdapterDelegate() = default;

    // False refuses the navigation; none: not answered.
    virtual std::optional<bool> webViewShouldStartLoadWithRequest(
        MVWebViewAdapter& adapter, const platform::URLRequest& request,
        platform::NavigationType navigationType) {
        return std::nullopt;
    }
    virtual void webViewDidStartLoad(MVWebViewAdapter& adapter) {}
    virtual void webViewDidFinishLoad(MVWebViewAdapter& adapter) {}
    virtual void webViewDidFailLoadWithError(MVWebViewAdapter& adapter,
                                             const platform::Error& error) {}
};
