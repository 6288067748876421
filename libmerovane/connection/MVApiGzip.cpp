#include "libmerovane/connection/MVApiGzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace {

// 15 window bits plus 16: a gzip wrapper rather than a zlib one.
constexpr int kGzipWindowBits = 15 + 16;
// zlib counts in uInt; larger inputs go in slices.
constexpr size_t kMaxSlice = UINT_MAX;

Bytef* bytes(const char* p) {
    return reinterpret_cast<Bytef*>(const_cast<char*>(p));
}

}  // namespace

bool hasGzipSignature(std::string_view data) {
    return data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0x1f &&
           static_cast<unsigned char>(data[1]) == 0x8b;
}

struct MVApiGzipDeflater::Stream {
    z_stream z{};
    bool ready = false;
    bool used = false;
    ~Stream() {
        if (ready) deflateEnd(&z);
    }
};

MVApiGzipDeflater::MVApiGzipDeflater() : stream_(std::make_unique<Stream>()) {
    stream_->ready = deflateInit2(&stream_->z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits,
                                  8, Z_DEFAULT_STRATEGY) == Z_OK;
}

MVApiGzipDeflater::~MVApiGzipDeflater() = default;

std::string MVApiGzipDeflater::compress(std::string_view data) {
    auto& s = *stream_;
    if (!s.ready) return {};
    if (s.used && deflateReset(&s.z) != Z_OK) return {};
    s.used = true;
    std::string out;
    out.resize(deflateBound(&s.z, static_cast<uLong>(data.size())));
    s.z.next_out = bytes(out.data());
    s.z.avail_out = static_cast<uInt>(std::min(out.size(), kMaxSlice));
    size_t consumed = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        const size_t slice = std::min(data.size() - consumed, kMaxSlice);
        s.z.next_in = bytes(data.data() + consumed);
        s.z.avail_in = static_cast<uInt>(slice);
        const bool last = consumed + slice == data.size();
        status = deflate(&s.z, last ? Z_FINISH : Z_NO_FLUSH);
        consumed += slice - s.z.avail_in;
        if (s.z.avail_out == 0 && status == Z_OK) {
            // deflateBound is an upper bound; a slice boundary may still need room.
            const size_t used = out.size();
            out.resize(used + used / 2 + 64);
            s.z.next_out = bytes(out.data() + used);
            s.z.avail_out = static_cast<uInt>(std::min(out.size() - used, kMaxSlice));
        }
    }
    if (status != Z_STREAM_END) return {};
    out.resize(s.z.total_out);
    return out;
}

struct MVApiGzipInflater::Stream {
    z_stream z{};
    bool ready = false;
    bool used = false;
    // The member under way: signature bytes checked, bytes of `out` inflated, and
    // Incomplete while it may go on.
    size_t signatureSeen = 0;
    size_t produced = 0;
    MVApiInflateStatus status = MVApiInflateStatus::Incomplete;
    ~Stream() {
        if (ready) inflateEnd(&z);
    }
};

MVApiGzipInflater::MVApiGzipInflater() : stream_(std::make_unique<Stream>()) {
    stream_->ready = inflateInit2(&stream_->z, kGzipWindowBits) == Z_OK;
}

MVApiGzipInflater::~MVApiGzipInflater() = default;

MVApiInflateStatus MVApiGzipInflater::inflate(std::string_view data, std::string& out,
                                              size_t maxSize) {
    begin(out);
    const auto status = feed(data, out, maxSize);
    if (status == MVApiInflateStatus::Incomplete) out.clear();
    return status;
}

void MVApiGzipInflater::begin(std::string& out) {
    auto& s = *stream_;
    out.clear();
    s.signatureSeen = 0;
    s.produced = 0;
    s.status = MVApiInflateStatus::Incomplete;
    if (!s.ready || (s.used && inflateReset(&s.z) != Z_OK))
        s.status = MVApiInflateStatus::Malformed;
    s.used = true;
}

MVApiInflateStatus MVApiGzipInflater::feed(std::string_view data, std::string& out, size_t maxSize,
                                           size_t* used) {
    auto& s = *stream_;
    size_t consumed = 0;
    if (used) *used = 0;
    const auto finish = [&](MVApiInflateStatus status) {
        if (used) *used = consumed;
        s.status = status;
        out.clear();
        s.produced = 0;
        return status;
    };
    if (s.status == MVApiInflateStatus::Ok)
        return data.empty() ? s.status : finish(MVApiInflateStatus::Malformed);
    if (s.status != MVApiInflateStatus::Incomplete) return s.status;
    // Bytes that cannot begin a gzip member are no gzip payload, however many follow.
    for (size_t i = 0; s.signatureSeen < 2 && i < data.size(); ++i, ++s.signatureSeen) {
        const unsigned expected = s.signatureSeen == 0 ? 0x1f : 0x8b;
        if (static_cast<unsigned char>(data[i]) != expected)
            return finish(MVApiInflateStatus::Malformed);
    }

    int status = Z_OK;
    for (;;) {
        if (s.produced == out.size()) {
            if (out.size() > maxSize) return finish(MVApiInflateStatus::TooLarge);
            // Doubling keeps regrowth linear; the first guess suits text, which packs
            // about four to one.
            const size_t want = std::max({out.size() * 2, data.size() * 4, size_t{4096}});
            out.resize(std::min(maxSize + 1, want));
        }
        const size_t inSlice = std::min(data.size() - consumed, kMaxSlice);
        const size_t outSlice = std::min(out.size() - s.produced, kMaxSlice);
        s.z.next_in = bytes(data.data() + consumed);
        s.z.avail_in = static_cast<uInt>(inSlice);
        s.z.next_out = reinterpret_cast<Bytef*>(out.data() + s.produced);
        s.z.avail_out = static_cast<uInt>(outSlice);
        status = ::inflate(&s.z, Z_NO_FLUSH);
        consumed += inSlice - s.z.avail_in;
        s.produced += outSlice - s.z.avail_out;
        if (s.produced > maxSize) return finish(MVApiInflateStatus::TooLarge);
        if (status == Z_STREAM_END) break;
        if (status == Z_OK) continue;
        if (status == Z_BUF_ERROR) {
            // No progress: either the output is full (grow it) or the input ran out.
            if (s.produced == out.size()) continue;
            if (consumed == data.size()) {
                if (used) *used = consumed;
                return MVApiInflateStatus::Incomplete;
            }
        }
        return finish(MVApiInflateStatus::Malformed);  // Z_DATA_ERROR, Z_NEED_DICT, ...
    }
    // Bytes after the member: no gzip payload, or the next member of a stream.
    if (consumed != data.size() && !used) return finish(MVApiInflateStatus::Malformed);
    if (used) *used = consumed;
    out.resize(s.produced);
    s.status = MVApiInflateStatus::Ok;
    return s.status;
}
