#include "libmerovane/connection/MVApiUpstreamWriter.h"

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiPacketEncoder.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"

namespace {

constexpr const char* kInvalidClientSerial = "MVApiConnection received invalid CSERIAL";
constexpr const char* kUnknownClientSerial = "MVApiConnection";

size_t lowered(size_t position, size_t by) {
    return position > by ? position - by : 0;
}

}  // namespace

void MVApiUpstreamWriter::append(MVApiConnectionPacket packet) {
    // Made changeable so that its bytes can be taken back once nothing else holds it.
    packets_.push_back(std::make_shared<MVApiConnectionPacket>(std::move(packet)));
    if (packets_.size() >= kTrimThreshold) {
        spares_.clear();
        for (size_t i = 0; i < kTrimCount; ++i) {
            auto& dropped = packets_[i];
            if (dropped.use_count() == 1)
                spares_.push_back(std::move(const_cast<MVApiConnectionPacket&>(*dropped).data));
        }
        packets_.erase(packets_.begin(), packets_.begin() + kTrimCount);
        position_ = lowered(position_, kTrimCount);
        next_ = lowered(next_, kTrimCount);
    }
}

std::string MVApiUpstreamWriter::takeSpareBuffer() {
    if (spares_.empty()) return {};
    std::string spare = std::move(spares_.back());
    spares_.pop_back();
    return spare;
}

std::string_view MVApiUpstreamWriter::bytesToWrite(bool persistent, bool responseHeadArrived) {
    // A persistent connection's head may ask for earlier packets again: nothing goes before
    // it, so that the server gets its packets in serial order.
    if (!chunk_ && position_ < packets_.size() && position_ == next_ &&
        (!persistent || responseHeadArrived)) {
        const auto& packet = packets_[position_];
        next_ = position_ + 1;
        if (persistent) {
            chunk_ = std::shared_ptr<const std::string>(packet, &packet->data);
            position_ = next_;
        } else {
            auto bytes = std::make_shared<std::string>();
            bytes->reserve(packet->data.size() + MVApiPacketEncoder::kLastChunk.size());
            bytes->append(packet->data);
            bytes->append(MVApiPacketEncoder::kLastChunk);
            chunk_ = std::move(bytes);
        }
        written_ = 0;
    }
    if (!chunk_) return {};
    return std::string_view(*chunk_).substr(written_);
}

bool MVApiUpstreamWriter::didWrite(long accepted) {
    if (!chunk_) return false;
    if (accepted > 0) written_ += static_cast<size_t>(accepted);
    if (written_ < chunk_->size()) return false;
    chunk_.reset();
    written_ = 0;
    return true;
}

void MVApiUpstreamWriter::dropChunkInProgress() {
    chunk_.reset();
    written_ = 0;
}

bool MVApiUpstreamWriter::resetClientSerial(int64_t serial) {
    if (serial == 0) return true;
    if (serial < 0) {
        MVLogError("{}", kInvalidClientSerial);
        MVErrorLogger::logError(kInvalidClientSerial, serial);
    }
    for (size_t i = packets_.size(); i-- > 0;) {
        if (packets_[i]->serial != serial) continue;
        position_ = next_ = i + 1;
        return true;
    }
    MVLogError("{}", kUnknownClientSerial);
    return false;
}

std::vector<int64_t> MVApiUpstreamWriter::serials() const {
    std::vector<int64_t> out;
    for (const auto& packet : packets_) out.push_back(packet->serial);
    return out;
}

bool MVApiUpstreamWriter::hasWritten(int64_t serial) const {
    for (size_t i = 0; i < next_ && i < packets_.size(); ++i) {
        if (packets_[i]->serial < serial) continue;
        if (chunk_ && i + 1 == next_) continue;  // still being written
        return true;
    }
    return false;
}
