// Pages answer the library's scripts with text of their own choosing: the ready-poll
// answer, the background colour and size, colour texts, and the addresses the history
// overrides report. Any text must give a value, never a crash or an exception.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "libmerovane/bridge/MVJavascriptOverrides.h"
#include "libmerovane/bridge/MVWebViewAnswers.h"
#include "libmerovane/core/UIColorExtensions.h"
#include "platform/foundation/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)MVDocumentReadyPoll::PageState::parse(text);
    (void)mvwebview_answers::backgroundColorFromAnswer(text, "<1>");
    (void)mvwebview_answers::sizeFromAnswer(text);
    (void)colorWithHexString(text);
    if (auto url = platform::URL::parse(text)) {
        (void)MVJavascriptOverrides::overrideForScheme(url->scheme());
        (void)MVJavascriptOverrides::reportedAddress(*url);
    }
    return 0;
}
