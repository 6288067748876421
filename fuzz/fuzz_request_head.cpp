// A document request's head carries what a page and servers chose: the page's address as
// its Referer, an Origin, and the addresses redirects send it on to. From any of them the
// head that leaves has no Referer with a fragment or credentials, none that is not
// http(s), and none of an https page sent on to an http address.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/bridge/MVDocumentRequestHead.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLRedirectHead.h"
#include "platform/foundation/URLRequest.h"

namespace {

// No fragment, no credentials, http(s) only.
void checkReferer(const platform::URLRequest& request) {
    const auto referer = request.valueForHTTPHeaderField("Referer");
    if (!referer) return;
    const auto url = platform::URL::parse(*referer);
    if (!url || url->fragment() || url->authority().find('@') != std::string::npos)
        __builtin_trap();
    const std::string scheme = url->schemeLowercased();
    if (scheme != "http" && scheme != "https") __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Lines: the document's address, its Referer, its Origin, then the redirects' addresses.
    std::vector<std::string> lines;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty() && lines.size() < 8) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        lines.emplace_back(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    if (lines.size() < 3) return 0;
    auto address = platform::URL::parse(lines[0]);
    if (!address) return 0;
    platform::URLRequest request(*address);
    request.setValue(lines[1], "Referer");
    request.setValue(lines[2], "Origin");
    completeDocumentRequest(request, "agent", "en-US");
    checkReferer(request);
    rememberDocumentHead(request);
    if (auto head = takeDocumentHead(request.url().absoluteString())) {
        platform::URLRequest load(request.url());
        applyDocumentHead(*head, load);
    }
    for (size_t i = 3; i < lines.size(); ++i) {
        auto next = platform::URL::parse(lines[i]);
        if (!next) continue;
        // A Referer of an https page never goes to an http address.
        const auto referer = request.valueForHTTPHeaderField("Referer");
        const bool lowered =
            referer && referer->starts_with("https:") && next->schemeLowercased() == "http";
        const platform::URL from = request.url();
        request.setURL(*next);
        keepHeadAcrossRedirect(request, from);
        checkReferer(request);
        if (lowered && request.valueForHTTPHeaderField("Referer")) __builtin_trap();
    }
    return 0;
}
