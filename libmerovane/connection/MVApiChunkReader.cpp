#include "libmerovane/connection/MVApiChunkReader.h"

#include <fmt/core.h>

#include <algorithm>
#include <climits>
#include <nlohmann/json.hpp>
#include <optional>

#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"

namespace {

constexpr const char* kInvalidChunkSize =
    "MVApiConnection closed. Invalid chunk size. Reconnecting in 5 seconds...";
constexpr const char* kInvalidChunkSizeFormat =
    "MVApiConnection closed. Invalid chunk size format. Reconnecting in 5 seconds...";
constexpr const char* kChunkNotTerminated =
    "MVApiConnection closed. Chunk not terminted correctly. Reconnecting in 5 seconds...";
constexpr const char* kChunkTooLarge =
    "MVApiConnection closed. Chunk size {} exceeds {} bytes. Reconnecting in 5 seconds...";
constexpr const char* kPacketTooLarge = "MVApiConnection dropped a packet of more than {} bytes";
constexpr const char* kPacketIncomplete =
    "MVApiConnection dropped an incomplete packet of {} bytes: a whole packet followed it";

constexpr std::string_view kCRLF = "\r\n";

// A whole command collection: a packet, or one nested in the commands of a packet. What
// else a map holds ("serial" too) tells nothing: merchant data may hold any key.
bool isCommandCollection(const nlohmann::json& packet) {
    return packet.is_object() && packet.contains("ver") && packet.contains("cmds");
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A hexadecimal number at the start of `line`: leading blanks and a "0x" are allowed,
// it ends at the first other character (a chunk extension is ignored). Values past 32
// bits saturate at kPast32Bits. None when no digit comes.
constexpr uint64_t kPast32Bits = uint64_t{UINT32_MAX} + 1;

std::optional<uint64_t> scanHex(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i + 2 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X') &&
        hexDigit(line[i + 2]) >= 0)
        i += 2;
    uint64_t value = 0;
    bool any = false;
    for (; i < line.size(); ++i) {
        const int d = hexDigit(line[i]);
        if (d < 0) break;
        any = true;
        value = std::min<uint64_t>(value * 16 + d, kPast32Bits);
    }
    if (!any) return std::nullopt;
    return value;
}

}  // namespace

MVApiChunkReader::MVApiChunkReader() = default;
MVApiChunkReader::~MVApiChunkReader() = default;

void MVApiChunkReader::start(MVApiChunkState state, MVApiContentType contentType, bool compressed) {
    reset();
    state_ = state;
    contentType_ = contentType;
    compressed_ = compressed;
}

void MVApiChunkReader::reset() {
    data_.clear();
    offset_ = 0;
    dropStarts(0);
    chunkSize_ = 0;
    decoder_.restart();
}

size_t MVApiChunkReader::decodeCount() const {
    size_t count = decoder_.decodeCount();
    for (const auto& start : starts_)
        if (start.decoder) count += start.decoder->decodeCount();
    for (const auto& decoder : spareDecoders_) count += decoder->decodeCount();
    return count;
}

size_t MVApiChunkReader::decodedBytes() const {
    size_t bytes = decoder_.decodedBytes();
    for (const auto& start : starts_)
        if (start.decoder) bytes += start.decoder->decodedBytes();
    for (const auto& decoder : spareDecoders_) bytes += decoder->decodedBytes();
    return bytes;
}

std::unique_ptr<MVApiPacketDecoder> MVApiChunkReader::takeDecoder() {
    if (spareDecoders_.empty()) return std::make_unique<MVApiPacketDecoder>();
    auto decoder = std::move(spareDecoders_.back());
    spareDecoders_.pop_back();
    return decoder;
}

void MVApiChunkReader::reportProblem(const std::string& problem) {
    MVLogError("{}", problem);
    MVErrorLogger::logError(problem);
}

void MVApiChunkReader::dropStarts(size_t dropped) {
    if (dropped > 0) reportProblem(fmt::format(kPacketIncomplete, dropped));
    for (auto& start : starts_) retireDecoder(start.decoder);
    starts_.clear();
    combined_.clear();
}

void MVApiChunkReader::dropOldestStart() {
    retireDecoder(starts_.front().decoder);
    starts_.erase(starts_.begin());
    if (starts_.empty()) {
        combined_.clear();
        return;
    }
    const size_t cut = starts_.front().offset;
    combined_.erase(0, cut);
    for (auto& start : starts_) start.offset -= cut;
}

void MVApiChunkReader::takePayload(std::string_view payload, const PacketHandler& onPacket) {
    if (!starts_.empty()) {
        joinPayload(payload, onPacket);
        return;
    }
    auto decoder = takeDecoder();
    nlohmann::json packet;
    std::string problem;
    switch (decoder->decodeArriving(payload, contentType_, compressed_, packet, problem)) {
        case MVApiPacketDecoder::Result::Incomplete:
            // The common case, a packet in one chunk, never gets here and is not copied.
            combined_.assign(payload);
            starts_.push_back({0, std::move(decoder), nullptr});
            return;
        case MVApiPacketDecoder::Result::Nothing:
            break;
        case MVApiPacketDecoder::Result::Rejected:
            reportProblem(problem);
            break;
        case MVApiPacketDecoder::Result::Packet:
            if (onPacket) onPacket(packet);
            break;
    }
    spareDecoders_.push_back(std::move(decoder));
}

void MVApiChunkReader::joinPayload(std::string_view payload, const PacketHandler& onPacket) {
    if (combined_.size() + payload.size() > kMaxPacketSize) {
        dropOversizedPacket();
        // The whole collections waiting behind the cut packet go on; only it is dropped.
        if (hasUndecidedPacket()) settleStartsBefore(starts_.size(), combined_.size(), onPacket);
        dropStarts(0);
        combined_.assign(payload);
        readOnItsOwn(0, onPacket);
        ++oldestPacketGrowth_;
        return;
    }
    combined_.append(payload);
    for (size_t i = 0; i < starts_.size();) {
        if (starts_[i].whole) {
            ++i;
            continue;
        }
        nlohmann::json packet;
        std::string problem;
        const auto result = starts_[i].decoder->decodeArriving(
            std::string_view(combined_).substr(starts_[i].offset), contentType_, compressed_,
            packet, problem, i == 0);
        if (result == MVApiPacketDecoder::Result::Incomplete) {
            ++i;
            continue;
        }
        if (i == 0) {
            // The oldest packet ends here whatever it holds; what began after it was a
            // piece of it.
            if (result == MVApiPacketDecoder::Result::Packet) {
                dropStarts(0);
                if (onPacket) onPacket(packet);
                return;
            }
            if (result == MVApiPacketDecoder::Result::Rejected) reportProblem(problem);
            dropOldestStart();
            handOverWholeStarts(onPacket);
            continue;
        }
        if (result == MVApiPacketDecoder::Result::Packet && isCommandCollection(packet)) {
            // A packet of its own or a piece of the older one: the older bytes decide,
            // or the bound.
            retireDecoder(starts_[i].decoder);
            starts_[i].whole = std::make_unique<nlohmann::json>(std::move(packet));
            ++i;
            continue;
        }
        // A newer start that failed was only a piece of an older packet.
        retireDecoder(starts_[i].decoder);
        starts_.erase(starts_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (starts_.empty()) {
        // Every packet under way failed with this chunk: it is read on its own.
        combined_.clear();
        takePayload(payload, onPacket);
        return;
    }
    // Dropped starts cut bytes from the front: the chunk is still the tail.
    if (!readOnItsOwn(combined_.size() - payload.size(), onPacket)) ++oldestPacketGrowth_;
}

bool MVApiChunkReader::readOnItsOwn(size_t offset, const PacketHandler& onPacket) {
    auto decoder = takeDecoder();
    nlohmann::json packet;
    std::string problem;
    const auto alone = decoder->decodeArriving(std::string_view(combined_).substr(offset),
                                               contentType_, compressed_, packet, problem, false);
    const auto unfinished = std::count_if(starts_.begin(), starts_.end(), [](const Start& start) {
        return start.decoder != nullptr;
    });
    if (alone == MVApiPacketDecoder::Result::Incomplete) {
        if (static_cast<size_t>(unfinished) >= kMaxStarts) {
            // The newest start may be a packet after an abandoned one: the oldest newer
            // start gives way (its bytes stay, as a piece of the oldest packet).
            const auto oldestNewer =
                std::find_if(starts_.begin() + 1, starts_.end(),
                             [](const Start& start) { return start.decoder != nullptr; });
            retireDecoder(oldestNewer->decoder);
            starts_.erase(oldestNewer);
        }
        starts_.push_back({offset, std::move(decoder), nullptr});
        return false;
    }
    retireDecoder(decoder);
    const bool collection =
        alone == MVApiPacketDecoder::Result::Packet && isCommandCollection(packet);
    const bool noProgress = collection || alone == MVApiPacketDecoder::Result::Nothing;
    if (starts_.empty()) {
        // Nothing older waits (it was dropped): quietly a packet or nothing.
        combined_.clear();
        if (collection && onPacket) onPacket(packet);
        return noProgress;
    }
    if (!collection) return noProgress;
    if (starts_.size() - static_cast<size_t>(unfinished) >= kMaxWaitingCollections) {
        // A join that swallowed so many whole collections is given up, as at the bound.
        settleStartsBefore(starts_.size(), offset, onPacket);
        dropStarts(0);
        if (onPacket) onPacket(packet);
        return noProgress;
    }
    // Whatever the whole map holds, the join may still make it a piece of the older
    // packet: it waits for the join to complete (a piece) or fail (a packet of its own).
    starts_.push_back({offset, nullptr, std::make_unique<nlohmann::json>(std::move(packet))});
    return noProgress;
}

void MVApiChunkReader::retireDecoder(std::unique_ptr<MVApiPacketDecoder>& decoder) {
    if (!decoder) return;
    decoder->restart();
    spareDecoders_.push_back(std::move(decoder));
}

void MVApiChunkReader::handOverWholeStarts(const PacketHandler& onPacket) {
    while (!starts_.empty() && starts_.front().whole) {
        nlohmann::json packet = std::move(*starts_.front().whole);
        dropOldestStart();
        if (onPacket) onPacket(packet);
    }
}

void MVApiChunkReader::settleStartsBefore(size_t end, size_t endOffset,
                                          const PacketHandler& onPacket) {
    if (end == 0) return;
    // The oldest is a packet cut short: its bytes up to the first whole collection go.
    size_t firstWhole = 0;
    while (firstWhole < end && !starts_[firstWhole].whole) ++firstWhole;
    reportProblem(
        fmt::format(kPacketIncomplete, firstWhole < end ? starts_[firstWhole].offset : endOffset));
    std::vector<nlohmann::json> whole;
    for (size_t i = 0; i < end; ++i) {
        if (starts_[i].whole) whole.push_back(std::move(*starts_[i].whole));
        retireDecoder(starts_[i].decoder);
    }
    starts_.erase(starts_.begin(), starts_.begin() + static_cast<std::ptrdiff_t>(end));
    combined_.erase(0, endOffset);
    for (auto& start : starts_) start.offset -= endOffset;
    if (onPacket)
        for (auto& packet : whole) onPacket(packet);
}

bool MVApiChunkReader::hasUndecidedPacket() const {
    return std::any_of(starts_.begin(), starts_.end(),
                       [](const Start& start) { return start.whole != nullptr; });
}

void MVApiChunkReader::settle(const PacketHandler& onPacket) {
    size_t end = starts_.size();
    while (end > 0 && !starts_[end - 1].whole) --end;
    settleStartsBefore(end, end < starts_.size() ? starts_[end].offset : combined_.size(),
                       onPacket);
}

void MVApiChunkReader::consume(size_t count) {
    offset_ += count;
    if (offset_ == data_.size()) {
        data_.clear();
        offset_ = 0;
    } else if (offset_ > 4096 && offset_ * 2 > data_.size()) {
        data_.erase(0, offset_);
        offset_ = 0;
    }
}

void MVApiChunkReader::dropOversizedPacket() {
    const std::string line = fmt::format(kPacketTooLarge, kMaxPacketSize);
    MVLogError("{}", line);
    MVErrorLogger::logError(line);
}

MVApiChunkReader::Outcome MVApiChunkReader::fail(std::string line) {
    MVLogError("{}", line);
    reset();
    state_ = MVApiChunkStateHeader;
    return Outcome::FramingError;
}

MVApiChunkReader::Outcome MVApiChunkReader::append(std::string_view bytes,
                                                   const PacketHandler& onPacket) {
    data_.append(bytes);
    if (state_ == MVApiChunkStateUnchunked) {
        parseStreamData(onPacket);
        return Outcome::Ok;
    }
    for (;;) {
        const Step step = state_ == MVApiChunkStateData ? parseStreamChunkData(onPacket)
                                                        : parseStreamChunkHeader();
        if (step == Step::Wait) return Outcome::Ok;
        if (step == Step::Failed) return Outcome::FramingError;
    }
}

void MVApiChunkReader::parseStreamData(const PacketHandler& onPacket) {
    if (parseDataForJSON(unread(), onPacket)) {
        data_.clear();
        offset_ = 0;
    } else if (bufferedBytes() > kMaxPacketSize) {
        dropOversizedPacket();
        data_.clear();
        offset_ = 0;
        decoder_.restart();
    }
}

MVApiChunkReader::Step MVApiChunkReader::parseStreamChunkHeader() {
    const std::string_view line = unread();
    if (line.size() < 4) return Step::Wait;
    const size_t end = line.substr(0, kSizeLineWindow).find(kCRLF);
    if (end == std::string_view::npos) {
        if (line.size() >= kSizeLineLimit) {
            fail(kInvalidChunkSize);
            return Step::Failed;
        }
        return Step::Wait;
    }
    const auto size = scanHex(line.substr(0, end));
    if (!size) {
        fail(kInvalidChunkSizeFormat);
        return Step::Failed;
    }
    if (*size > kMaxChunkSize) {
        const std::string sent =
            *size == kPast32Bits ? fmt::format("more than {}", UINT32_MAX) : std::to_string(*size);
        const std::string text = fmt::format(kChunkTooLarge, sent, kMaxChunkSize);
        MVErrorLogger::logError(text);
        fail(text);
        return Step::Failed;
    }
    chunkSize_ = *size;
    state_ = MVApiChunkStateData;
    consume(end + kCRLF.size());
    return Step::Continue;
}

MVApiChunkReader::Step MVApiChunkReader::parseStreamChunkData(const PacketHandler& onPacket) {
    const std::string_view chunk = unread();
    if (chunk.size() < chunkSize_ + kCRLF.size()) return Step::Wait;
    if (chunk.substr(chunkSize_, kCRLF.size()) != kCRLF) {
        fail(kChunkNotTerminated);
        return Step::Failed;
    }
    takePayload(chunk.substr(0, chunkSize_), onPacket);
    consume(chunkSize_ + kCRLF.size());
    state_ = MVApiChunkStateHeader;
    chunkSize_ = 0;
    return Step::Continue;
}

bool MVApiChunkReader::parseDataForJSON(std::string_view payload, const PacketHandler& onPacket) {
    nlohmann::json packet;
    std::string problem;
    switch (decoder_.decodeArriving(payload, contentType_, compressed_, packet, problem)) {
        case MVApiPacketDecoder::Result::Incomplete:
            return false;
        case MVApiPacketDecoder::Result::Nothing:
            return true;
        case MVApiPacketDecoder::Result::Rejected:
            MVLogError("{}", problem);
            MVErrorLogger::logError(problem);
            return true;
        case MVApiPacketDecoder::Result::Packet:
            if (onPacket) onPacket(packet);
            return true;
    }
    return true;
}
