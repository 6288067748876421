// A fetched document's response head and bytes come from any server: its encoding, the
// header policies written into it and, for a download, the file name it is saved under
// must come out of any bytes without a crash, the name always one plain file name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "libmerovane/bridge/MVDocumentDownload.h"
#include "libmerovane/bridge/MVDocumentEncoding.h"
#include "libmerovane/bridge/MVDocumentHeaderPolicies.h"
#include "libmerovane/bridge/URLResponseExtensions.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto url = *platform::URL::parse("https://shop.example/orders/invoice%20A.pdf");
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The head up to its blank line, the document after it.
    const size_t end = bytes.find("\r\n\r\n");
    if (end == std::string_view::npos) return 0;
    auto response = responseWithString(bytes.substr(0, end + 4), url);
    if (!response) return 0;
    const std::string document(bytes.substr(end + 4));

    const std::string encoding =
        documentTextEncodingName(document, response->mimeType(), response->textEncodingName());
    const std::string written = documentWithHeaderPolicies(document, encoding, *response);
    // A document whose encoding does not write ASCII as itself is never changed.
    if (!encodingWritesASCIIAsItself(encoding) && written != document) __builtin_trap();

    (void)isDownloadResponse(*response);
    const std::string name = downloadFileName(*response);
    if (name.empty() || name == "." || name == ".." || name.front() == '.') __builtin_trap();
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f) __builtin_trap();
    }
    return 0;
}
