// The streaming half of the API connection: batching of commands into upstream packets,
// the packet writer and the keep-alive, the downstream reader and the hand-over of
// server collections to the dispatcher, the reading gate and the application's moves
// to the background and back.
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiPacketBuilder.h"
#include "libmerovane/core/MVCommandTrace.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVLog.h"
#include "platform/device/Reachability.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Thread.h"

namespace {

constexpr const char* kNoCommandsLine = "MVApiConnection tried to send 0 commands.";
constexpr const char* kKeepAliveLine = "MVApiConnection sending keep-alive packet";
constexpr const char* kReadFailedLine =
    "MVAPiConnection reading from stream failed. Will retry in 5 seconds. {}";
constexpr const char* kClosingPersistentLine = "MVApiConnection closing persistent connection...";
constexpr const char* kRestoringPersistentLine =
    "MVApiConnection restoring persistent connection...";

constexpr const char* kSerialNotAheadLine =
    "MVApiConnection kept the server serial {1}: a packet came with serial {0}";

constexpr const char* kReaderFailedLine =
    "MVApiConnection closed. Reading the stream failed: {}. Reconnecting in 5 seconds...";

constexpr size_t kReadSize = 10240;

}  // namespace

// Upstream ------------------------------------------------------------------------------

void MVApiConnection::sendCommands(const std::vector<MVCommand>& commands) {
    if (commands.empty()) {
        MVLogError(kNoCommandsLine);
        platform::assertThat(false, kNoCommandsLine);
    }
    std::lock_guard lock(mutex_);
    commandBuffer_.insert(commandBuffer_.end(), commands.begin(), commands.end());
    if (hasCommandBufferTimer_) return;
    hasCommandBufferTimer_ = true;
    commandBufferTimer_ =
        platform::RunLoop::main().postAfter(kCommandBatchDelay, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->submitCurrentCommandBuffer();
        });
}

void MVApiConnection::submitCurrentCommandBuffer() {
    std::vector<MVCommand> commands;
    int64_t serial = 0;
    MVApiUpstreamEncoding encoding;
    {
        std::lock_guard lock(mutex_);
        commandBufferTimer_.cancel();
        hasCommandBufferTimer_ = false;
        if (shutDown_ || commandBuffer_.empty()) return;
        commands.swap(commandBuffer_);
        serial = ++upstreamSerial_;
        encoding = {serverWillAcceptMsgPack_, serverWillAcceptGZip_};
    }
    const std::string version = MVApiPacketBuilder::commandHandlerVersion();
    for (const auto& command : commands)
        MVCommandTrace::record(MVCommandTrace::Direction::Sent, version, command.name());
    // The upstream thread builds every packet, so packets reach the pending list in serial
    // order, and writes it at once when the stream has room.
    upstreamThread_->runLoop().post(
        [weak = weak_from_this(), commands = std::move(commands), serial, encoding] {
            auto self = weak.lock();
            if (!self) return;
            const auto variables = MVApiPacketBuilder::connectionVariables();
            const char* type =
                MVApiPacketBuilder::connectionTypeName(platform::Reachability::shared().status());
            std::string spare;
            {
                std::lock_guard lock(self->mutex_);
                spare = self->writer_.takeSpareBuffer();
            }
            auto packet = self->packetBuilder_->build(commands, serial, variables, type, encoding,
                                                      std::move(spare));
            if (packet) self->submitCommandDataPacket(std::move(*packet));
        });
}

void MVApiConnection::submitCommandDataPacket(MVApiConnectionPacket packet) {
    if (!upstreamThread_->runLoop().isCurrent()) {
        upstreamThread_->runLoop().post(
            [weak = weak_from_this(), packet = std::move(packet)]() mutable {
                if (auto self = weak.lock()) self->submitCommandDataPacket(std::move(packet));
            });
        return;
    }
    std::lock_guard lock(mutex_);
    if (shutDown_) return;
    writer_.append(std::move(packet));
    // Asked for even while a connection is open: one whose end or failure is being
    // handled may have found nothing pending and so asked for no reopening, and it is
    // closed on the main thread by a task posted before this one. Otherwise it does
    // nothing.
    askForConnection();
    if (!isConnectionOpenedLocked()) return;
    // This thread handles the output stream's events: write now rather than post one.
    if (streamToServer_ && streamToServer_->hasSpaceAvailable()) {
        handleEvent(*streamToServer_, platform::kStreamEventHasSpaceAvailable);
        return;
    }
    scheduleStreamEvent(false, platform::kStreamEventHasSpaceAvailable);
}

void MVApiConnection::writePackets() {
    // The writer runs once the POST head is out, in states 5 and 6, and not on a
    // connection whose failure or end is being handled (its input is closed already):
    // a packet handed out there would wait for a confirmation that never comes.
    if (state_ != MVApiConnectionStateResponse && state_ != MVApiConnectionStateStreaming) return;
    if (!streamFromServer_ || streamFromServer_->streamStatus() == platform::StreamStatus::Closed)
        return;
    // A legacy request is complete once its packet is out.
    if (streamToServer_->streamStatus() == platform::StreamStatus::Closed) return;
    const bool persistent = hasPersistentConnection_;
    const bool continuing = writer_.isWritingChunk();
    // A legacy request carries one packet and its end, whatever its head said meanwhile.
    if (!persistent && !continuing && packetsOnConnection_ > 0) return;
    const auto bytes = writer_.bytesToWrite(persistent, state_ == MVApiConnectionStateStreaming);
    if (bytes.empty()) return;
    if (!continuing) ++packetsOnConnection_;
    const long written =
        streamToServer_->write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!writer_.didWrite(written)) return;
    if (persistent) {
        scheduleKeepAlive();
    } else {
        // One packet per legacy request: its body is complete.
        streamToServer_->close();
    }
}

void MVApiConnection::keepStreamAlive() {
    std::lock_guard lock(mutex_);
    if (shutDown_ || !isConnectionOpenedLocked()) return;
    // Never inside a chunk or a head that is partly written.
    if (hasPersistentConnection_ && streamToServer_ && streamToServer_->hasSpaceAvailable() &&
        unwrittenHead_.empty() && !writer_.isWritingChunk()) {
        MVLogVerbose(kKeepAliveLine);
        const std::string& chunk =
            MVApiPacketEncoder::keepAliveChunk({serverWillAcceptMsgPack_, serverWillAcceptGZip_});
        const long written =
            streamToServer_->write(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
        // What the stream did not take goes out before anything else.
        if (written >= 0 && static_cast<size_t>(written) < chunk.size())
            unwrittenHead_ = chunk.substr(static_cast<size_t>(written));
    }
    scheduleKeepAlive();
}

void MVApiConnection::cancelKeepAlives() {
    upstreamKeepAlive_.cancel();
    downstreamKeepAlive_.cancel();
}

void MVApiConnection::scheduleKeepAlive() {
    platform::RunLoop* loop = platform::RunLoop::current();
    platform::TimerHandle* timer = nullptr;
    if (loop == &upstreamThread_->runLoop()) timer = &upstreamKeepAlive_;
    if (loop == &downstreamThread_->runLoop()) timer = &downstreamKeepAlive_;
    if (!timer) return;
    timer->cancel();
    *timer = loop->postAfter(kKeepAliveInterval, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->keepStreamAlive();
    });
}

// Downstream ----------------------------------------------------------------------------

void MVApiConnection::readStreamChunked(std::unique_lock<std::recursive_mutex>& lock) {
    // Reading and decoding happen outside the lock, so that a large packet never holds
    // up sendCommands; what they found is handed over under it, while the stream is
    // still the current one.
    const std::shared_ptr<platform::InputStream> stream = streamFromServer_;
    std::vector<nlohmann::json> packets;
    uint8_t buffer[kReadSize];
    while (stream && stream->hasBytesAvailable() && isAllowedToReadCommands_) {
        lock.unlock();
        const long count = stream->read(buffer, sizeof buffer);
        auto outcome = MVApiChunkReader::Outcome::Ok;
        if (count > 0) {
            // A failure inside the reader ends the stream as a framing error does; the
            // packets it decoded before go on.
            try {
                outcome = reader_.append(
                    std::string_view(reinterpret_cast<const char*>(buffer),
                                     static_cast<size_t>(count)),
                    [&packets](nlohmann::json& packet) { packets.push_back(std::move(packet)); });
            } catch (const std::exception& error) {
                MVLogError(kReaderFailedLine, error.what());
                reader_.reset();
                outcome = MVApiChunkReader::Outcome::FramingError;
            }
        }
        lock.lock();
        if (shutDown_ || streamFromServer_ != stream) return;  // closed meanwhile
        if (count < 0) {
            const auto error = stream->streamError();
            MVLogError(kReadFailedLine, error ? error->localizedDescription() : std::string());
            closeAfterReadFailure();
            return;
        }
        if (count == 0) return;
        streamedBytes_ += static_cast<uint64_t>(count);
        timeOfLastRead_ = platform::Date::now();
        currentChunkState_ = reader_.chunkState();
        // A server writes a packet whole once begun, whatever chunks carry it.
        insideChunk_ = reader_.isInsideChunk() || reader_.isInsidePacket();
        boundBegunChunk();
        // A stream that answers is a reachable network, whatever other loads report.
        if (!packets.empty()) MVConnectionLossMonitor::reportConnectionSuccess();
        for (auto& packet : packets) handleJSONData(packet);
        packets.clear();
        if (outcome == MVApiChunkReader::Outcome::FramingError) {
            closeAfterReadFailure();
            return;
        }
    }
}

void MVApiConnection::resetReader() {
    auto& loop = downstreamThread_->runLoop();
    if (loop.isCurrent()) {
        reader_.reset();
        return;
    }
    loop.post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->reader_.reset();
    });
}

void MVApiConnection::handleJSONData(nlohmann::json& packet) {
    // The serial is taken here, under the lock, before the collection is performed, so
    // that a request head written from now on reports it and the server does not send
    // this collection again. Only a collection the command handler performs counts ("ver"
    // a string, "cmds" an array), and the serial never moves backwards: the server would
    // send again what was performed.
    const auto* version = platform::json::find(packet, "ver");
    const auto* commands = platform::json::find(packet, "cmds");
    if (version && version->is_string() && commands && commands->is_array() &&
        platform::json::find(packet, "serial")) {
        const int64_t serial = platform::json::integerValue(packet, "serial");
        if (serial > downstreamSerial_) {
            downstreamSerial_ = serial;
        } else {
            MVLogWarn(kSerialNotAheadLine, serial, downstreamSerial_);
        }
    }
    auto collection = std::make_shared<nlohmann::json>(std::move(packet));
    platform::RunLoop::main().post([collection] {
        MVCommandHandler::performCommandsFromCommandCollection(std::move(*collection), nullptr);
    });
}

// Gate and application state ------------------------------------------------------------

void MVApiConnection::setIsAllowedToReadCommands(bool allowed) {
    std::lock_guard lock(mutex_);
    if (allowed == isAllowedToReadCommands_) return;
    isAllowedToReadCommands_ = allowed;
    if (allowed && state_ == MVApiConnectionStateStreaming && streamFromServer_ &&
        streamFromServer_->hasBytesAvailable())
        scheduleStreamEvent(true, platform::kStreamEventHasBytesAvailable);
}

bool MVApiConnection::isAllowedToReadCommands() const {
    std::lock_guard lock(mutex_);
    return isAllowedToReadCommands_;
}

void MVApiConnection::applicationDidEnterBackground() {
    std::lock_guard lock(mutex_);
    if (!hasPersistentConnection_ || !isConnectionOpenedLocked()) return;
    MVLogVerbose(kClosingPersistentLine);
    closeStreamConnection();
}

void MVApiConnection::applicationWillEnterForeground() {
    {
        std::lock_guard lock(mutex_);
        if (!supportsPersistentConnection_) return;
    }
    MVLogVerbose(kRestoringPersistentLine);
    establishStreamConnection();
}
