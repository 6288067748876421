#include "platform/ui/Image.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace platform {

namespace {

constexpr const char* kRangeException = "NSRangeException";

bool sizeAllowed(int64_t width, int64_t height) {
    return width >= 0 && height >= 0 && width * height <= Image::kMaxPixels;
}

void checkSize(int width, int height, double scale) {
    if (!sizeAllowed(width, height))
        throw Exception(kInvalidArgumentException,
                        fmt::format("image size {} x {} out of range", width, height));
    if (!(scale > 0)) throw Exception(kInvalidArgumentException, "image scale must be positive");
}

// ---- PNG through libpng's simplified interface (it keeps longjmp to itself) ----

std::optional<Image> decodePng(std::string_view bytes, double scale) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        PLATFORM_LOG_WARN("Image could not read PNG header: {}", image.message);
        return std::nullopt;
    }
    if (!sizeAllowed(image.width, image.height) || image.width > INT32_MAX ||
        image.height > INT32_MAX) {
        PLATFORM_LOG_WARN("Image PNG of {} x {} pixels is too large", image.width, image.height);
        png_image_free(&image);
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        PLATFORM_LOG_WARN("Image could not decode PNG: {}", image.message);
        png_image_free(&image);
        return std::nullopt;
    }
    return Image::fromRGBA(int(image.width), int(image.height), std::move(pixels), scale);
}

std::string encodePng(const Image& source) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(source.width());
    image.height = png_uint_32(source.height());
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, source.rgba().data(), 0, nullptr)) {
        PLATFORM_LOG_ERROR("Image could not encode PNG: {}", image.message);
        return {};
    }
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, source.rgba().data(), 0,
                                   nullptr)) {
        PLATFORM_LOG_ERROR("Image could not encode PNG: {}", image.message);
        return {};
    }
    out.resize(size);
    return out;
}

// ---- JPEG through libjpeg: errors leave by longjmp, so every piece of state that
// must survive one lives behind a pointer taken before setjmp ----

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
    bool truncated = false;
};

extern "C" void jpegErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings are dropped but for a file that ends early, which counts as corrupt.
extern "C" void jpegEmitMessage(j_common_ptr info, int level) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) errors->truncated = true;
}

JpegErrors* installErrors(JpegErrors* errors) {
    jpeg_std_error(&errors->manager);
    errors->manager.error_exit = jpegErrorExit;
    errors->manager.emit_message = jpegEmitMessage;
    return errors;
}

struct JpegDecoding {
    jpeg_decompress_struct info;
    JpegErrors errors;
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    bool tooLarge = false;
};

bool runJpegDecode(JpegDecoding* d, std::string_view bytes) {
    d->info.err = &installErrors(&d->errors)->manager;
    if (setjmp(d->errors.jump)) {
        jpeg_destroy_decompress(&d->info);
        return false;
    }
    jpeg_create_decompress(&d->info);
    jpeg_mem_src(&d->info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d->info, TRUE);
    if (!sizeAllowed(d->info.image_width, d->info.image_height)) {
        d->tooLarge = true;
        jpeg_destroy_decompress(&d->info);
        return false;
    }
    d->info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&d->info);
    d->width = int(d->info.output_width);
    d->height = int(d->info.output_height);
    d->pixels.resize(size_t(d->width) * size_t(d->height) * 4);
    while (d->info.output_scanline < d->info.output_height) {
        JSAMPROW row = d->pixels.data() + size_t(d->info.output_scanline) * size_t(d->width) * 4;
        jpeg_read_scanlines(&d->info, &row, 1);
    }
    jpeg_finish_decompress(&d->info);
    jpeg_destroy_decompress(&d->info);
    return !d->errors.truncated;
}

std::optional<Image> decodeJpeg(std::string_view bytes, double scale) {
    auto d = std::make_unique<JpegDecoding>();
    if (!runJpegDecode(d.get(), bytes)) {
        if (d->tooLarge)
            PLATFORM_LOG_WARN("Image JPEG of {} x {} pixels is too large", d->info.image_width,
                              d->info.image_height);
        else
            PLATFORM_LOG_WARN("Image could not decode JPEG: {}",
                              d->errors.truncated ? "premature end of data" : d->errors.message);
        return std::nullopt;
    }
    return Image::fromRGBA(d->width, d->height, std::move(d->pixels), scale);
}

struct JpegEncoding {
    jpeg_compress_struct info;
    JpegErrors errors;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> row;
};

bool runJpegEncode(JpegEncoding* e, const Image& image, int quality) {
    e->info.err = &installErrors(&e->errors)->manager;
    e->row.resize(size_t(image.width()) * 3);
    if (setjmp(e->errors.jump)) {
        jpeg_destroy_compress(&e->info);
        return false;
    }
    jpeg_create_compress(&e->info);
    jpeg_mem_dest(&e->info, &e->buffer, &e->size);
    e->info.image_width = JDIMENSION(image.width());
    e->info.image_height = JDIMENSION(image.height());
    e->info.input_components = 3;
    e->info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&e->info);
    jpeg_set_quality(&e->info, quality, TRUE);
    jpeg_start_compress(&e->info, TRUE);
    const uint8_t* src = image.rgba().data();
    while (e->info.next_scanline < e->info.image_height) {
        const uint8_t* in = src + size_t(e->info.next_scanline) * size_t(image.width()) * 4;
        for (int x = 0; x < image.width(); ++x, in += 4) {
            for (int c = 0; c < 3; ++c)
                e->row[size_t(x) * 3 + size_t(c)] = uint8_t((in[c] * in[3] + 127) / 255);
        }
        JSAMPROW row = e->row.data();
        jpeg_write_scanlines(&e->info, &row, 1);
    }
    jpeg_finish_compress(&e->info);
    jpeg_destroy_compress(&e->info);
    return true;
}

// ---- resampling: per axis, each target pixel is a weighted sum of source pixels ----

struct Contribution {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Contribution> contributions(int source, int target) {
    std::vector<Contribution> result(static_cast<size_t>(target));
    const double ratio = double(source) / double(target);
    for (int i = 0; i < target; ++i) {
        Contribution& c = result[size_t(i)];
        if (ratio > 1) {
            // Shrinking: the target pixel covers [lo, hi) of the source.
            const double lo = i * ratio, hi = std::min(double(source), (i + 1) * ratio);
            c.first = int(std::floor(lo));
            const int last = std::min(source - 1, int(std::ceil(hi)) - 1);
            for (int s = c.first; s <= last; ++s) {
                const double overlap = std::min(hi, double(s + 1)) - std::max(lo, double(s));
                c.weights.push_back(float(overlap / ratio));
            }
        } else {
            // Growing or equal: bilinear between the two nearest pixel centres.
            const double at = std::clamp((i + 0.5) * ratio - 0.5, 0.0, double(source - 1));
            c.first = int(std::floor(at));
            const double frac = at - c.first;
            c.weights.push_back(float(1 - frac));
            if (frac > 0 && c.first + 1 < source) c.weights.push_back(float(frac));
        }
    }
    return result;
}

uint8_t toByte(float v) {
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

Image::Image(int width, int height, double scale) : Image(width, height, scale, Pixel{}) {}

Image::Image(int width, int height, double scale, Pixel fill)
    : width_(width), height_(height), scale_(scale) {
    checkSize(width, height, scale);
    rgba_.resize(size_t(width) * size_t(height) * 4);
    for (size_t i = 0; i < rgba_.size(); i += 4) {
        rgba_[i] = fill.r;
        rgba_[i + 1] = fill.g;
        rgba_[i + 2] = fill.b;
        rgba_[i + 3] = fill.a;
    }
}

Image Image::fromRGBA(int width, int height, std::vector<uint8_t> rgba, double scale) {
    checkSize(width, height, scale);
    if (rgba.size() != size_t(width) * size_t(height) * 4)
        throw Exception(kInvalidArgumentException,
                        fmt::format("{} bytes are no RGBA image of {} x {} pixels", rgba.size(),
                                    width, height));
    Image image;
    image.width_ = width;
    image.height_ = height;
    image.scale_ = scale;
    image.rgba_ = std::move(rgba);
    return image;
}

std::optional<Image> Image::decode(std::string_view bytes, double scale) {
    static constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!(scale > 0)) scale = 1;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0)
        return decodePng(bytes, scale);
    if (bytes.size() >= 3 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xD8 &&
        uint8_t(bytes[2]) == 0xFF)
        return decodeJpeg(bytes, scale);
    PLATFORM_LOG_WARN("Image data of {} bytes is neither PNG nor JPEG", bytes.size());
    return std::nullopt;
}

std::optional<Image> Image::fromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        PLATFORM_LOG_WARN("Image could not open {}", path);
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string name = path.substr(path.find_last_of('/') + 1);
    double scale = 1;
    if (auto at = name.rfind('@'); at != std::string::npos && at + 2 < name.size() &&
                                   name[at + 1] >= '1' && name[at + 1] <= '9' &&
                                   name[at + 2] == 'x')
        scale = name[at + 1] - '0';
    return decode(bytes.str(), scale);
}

void Image::setScale(double scale) {
    if (!(scale > 0)) throw Exception(kInvalidArgumentException, "image scale must be positive");
    scale_ = scale;
}

size_t Image::offset(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        throw Exception(kRangeException,
                        fmt::format("pixel ({}, {}) outside {} x {} image", x, y, width_, height_));
    return (size_t(y) * size_t(width_) + size_t(x)) * 4;
}

Image::Pixel Image::pixel(int x, int y) const {
    const uint8_t* p = rgba_.data() + offset(x, y);
    return {p[0], p[1], p[2], p[3]};
}

void Image::setPixel(int x, int y, Pixel p) {
    uint8_t* d = rgba_.data() + offset(x, y);
    d[0] = p.r;
    d[1] = p.g;
    d[2] = p.b;
    d[3] = p.a;
}

std::string Image::pngData() const {
    if (isEmpty()) return {};
    return encodePng(*this);
}

std::string Image::jpegData(double quality) const {
    if (isEmpty()) return {};
    if (!(quality >= 0)) quality = 0;  // NaN too
    const int q = std::max(1, int(std::lround(std::min(quality, 1.0) * 100)));
    auto e = std::make_unique<JpegEncoding>();
    const bool ok = runJpegEncode(e.get(), *this, q);
    std::string out;
    if (ok && e->buffer) out.assign(reinterpret_cast<const char*>(e->buffer), e->size);
    if (!ok) PLATFORM_LOG_ERROR("Image could not encode JPEG: {}", e->errors.message);
    std::free(e->buffer);
    return out;
}

Image Image::scaled(int width, int height) const {
    Image result(width, height, scale_);
    if (result.isEmpty() || isEmpty()) return result;
    const auto across = contributions(width_, width);
    const auto down = contributions(height_, height);

    // Horizontal pass into premultiplied floats, then the vertical pass.
    std::vector<float> rows(size_t(width) * size_t(height_) * 4);
    for (int y = 0; y < height_; ++y) {
        const uint8_t* in = rgba_.data() + size_t(y) * size_t(width_) * 4;
        float* out = rows.data() + size_t(y) * size_t(width) * 4;
        for (int x = 0; x < width; ++x, out += 4) {
            const Contribution& c = across[size_t(x)];
            for (size_t k = 0; k < c.weights.size(); ++k) {
                const uint8_t* p = in + size_t(c.first + int(k)) * 4;
                const float w = c.weights[k], a = p[3] * w;
                out[0] += p[0] * a;
                out[1] += p[1] * a;
                out[2] += p[2] * a;
                out[3] += a;
            }
        }
    }
    for (int y = 0; y < height; ++y) {
        const Contribution& c = down[size_t(y)];
        uint8_t* out = result.rgba_.data() + size_t(y) * size_t(width) * 4;
        for (int x = 0; x < width; ++x, out += 4) {
            float sum[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < c.weights.size(); ++k) {
                const float* p = rows.data() + (size_t(c.first + int(k)) * size_t(width) + x) * 4;
                for (int i = 0; i < 4; ++i) sum[i] += p[i] * c.weights[k];
            }
            if (sum[3] <= 0) continue;
            for (int i = 0; i < 3; ++i) out[i] = toByte(sum[i] / sum[3]);
            out[3] = toByte(sum[3]);
        }
    }
    return result;
}

Image Image::rotated(int degrees) const {
    if (degrees % 90 != 0)
        throw Exception(kInvalidArgumentException,
                        fmt::format("images turn by multiples of 90 degrees, not {}", degrees));
    const int quarter = ((degrees / 90) % 4 + 4) % 4;
    if (quarter == 0) return *this;
    const bool swap = quarter % 2 == 1;
    Image result(swap ? height_ : width_, swap ? width_ : height_, scale_);
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            int tx = x, ty = y;
            switch (quarter) {
                case 1:
                    tx = height_ - 1 - y, ty = x;
                    break;  // clockwise
                case 2:
                    tx = width_ - 1 - x, ty = height_ - 1 - y;
                    break;  // half turn
                case 3:
                    tx = y, ty = width_ - 1 - x;
                    break;  // counter-clockwise
            }
            std::memcpy(result.rgba_.data() + (size_t(ty) * size_t(result.width_) + tx) * 4,
                        rgba_.data() + (size_t(y) * size_t(width_) + x) * 4, 4);
        }
    }
    return result;
}

}  // namespace platform
