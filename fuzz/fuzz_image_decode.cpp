// Arbitrary bytes through the image decoders: never a crash, and what decodes encodes
// and decodes again to the same pixels.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/ui/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto image =
        platform::Image::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!image || image->width() * int64_t(image->height()) > 1 << 16) return 0;
    auto again = platform::Image::decode(image->pngData());
    if (!again || *again != *image) std::abort();
    (void)image->jpegData(0.5);
    (void)image->scaled(image->width() / 2 + 1, 3).rotated(90);
    return 0;
}
