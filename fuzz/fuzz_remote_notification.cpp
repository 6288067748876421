// The command line of a start and the notification payload file it names: any arguments
// give a URL with a scheme or none, any file bytes a JSON object or nothing, read the same
// from the file as from its text.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/HostArguments.h"
#include "platform/foundation/URL.h"

namespace {

// A file of the run's own, removed when it ends.
struct PayloadFile {
    PayloadFile() {
        char name[] = "/tmp/fuzz_remote_notification.XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        ::close(fd);
        path = name;
    }
    ~PayloadFile() { ::unlink(path.c_str()); }
    std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const PayloadFile payloadFile;
    const std::string& file = payloadFile.path;
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The input as a command line, its arguments split at NUL bytes.
    std::vector<std::string> pieces{"app"};
    for (size_t at = 0; at <= text.size();) {
        const size_t end = std::min(text.find('\0', at), text.size());
        pieces.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    std::vector<const char*> argv;
    for (const auto& piece : pieces) argv.push_back(piece.c_str());
    const auto arguments = HostArguments::parse(static_cast<int>(argv.size()), argv.data());
    if (arguments.url) {
        auto url = platform::URL::parse(*arguments.url);
        if (!url || url->scheme().empty()) __builtin_trap();
    }

    // The input as the payload file.
    const auto payload = HostArguments::remoteNotificationPayload(text, file);
    if (payload && !payload->is_object()) __builtin_trap();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    HostArguments fromFile;
    fromFile.url = arguments.url;
    fromFile.remoteNotificationFile = file;
    const auto options = fromFile.launchOptions();
    const bool read = options && options->contains("remoteNotification");
    if (read != payload.has_value() || (read && (*options)["remoteNotification"] != *payload))
        __builtin_trap();
    return 0;
}
