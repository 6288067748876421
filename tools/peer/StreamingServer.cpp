#include "tools/peer/StreamingServer.h"

#include <cstdlib>

namespace peer {

StreamingServer::StreamingServer(StreamingServerOptions options) : options_(std::move(options)) {}

PeerResponder StreamingServer::responder() {
    return [this](const PeerEvent& event) {
        std::lock_guard lock(mutex_);
        return respond(event);
    };
}

std::vector<PeerAction> StreamingServer::respond(const PeerEvent& event) {
    std::vector<PeerAction> actions;
    Connection& connection = connections_[event.connection];
    switch (event.kind) {
        case PeerEvent::Kind::RequestHead: {
            ++requestHeads_;
            const auto reported = event.head->field("X-Merovane-Api-SSerial");
            connection.sentUpTo = reported ? std::strtoll(reported->c_str(), nullptr, 10) : 0;
            reported_.push_back(connection.sentUpTo);
            if (options_.endBeforeHead) {
                connection.closed = true;
                actions.push_back(PeerAction::endOfStream());
                return actions;
            }
            if (event.connection >= options_.withholdHeadsFrom) return actions;
            return answerHead(event.connection);
        }
        case PeerEvent::Kind::Packet:
            take(event.packet->decoded.value, event.connection, actions);
            return actions;
        case PeerEvent::Kind::BodyEnded:
            // A proxy that waits for the whole body hands it on with a length: a legacy
            // request's one packet.
            if (event.body) take(decodePacket(*event.body).value, event.connection, actions);
            // A withheld head goes first: the response ends after it.
            connection.bodyEnded = true;
            if (connection.closed || !connection.answered) return actions;
            actions.push_back(PeerAction::lastChunk());
            actions.push_back(PeerAction::endOfStream());
            connection.closed = true;
            return actions;
    }
    return actions;
}

void StreamingServer::take(const nlohmann::json& value, size_t index,
                           std::vector<PeerAction>& actions) {
    if (!value.is_object() || !value.contains("serial")) return;  // keep-alive
    Connection& connection = connections_[index];
    const int64_t serial = value["serial"].get<int64_t>();
    arrivals_.push_back(serial);
    ++connection.received;
    if (serial == held_ + 1) {
        held_ = serial;
        released_ += static_cast<int64_t>(options_.collectionsPerPacket);
    }
    if (connection.closed) return;
    if (connection.answered) send(index, actions);
    if (options_.cutAfterReceived > 0 && connection.received >= options_.cutAfterReceived &&
        !connection.closed) {
        connection.closed = true;
        ++cuts_;
        actions.push_back(PeerAction::close());
    }
}

void StreamingServer::restart() {
    std::lock_guard lock(mutex_);
    connections_.clear();
}

std::vector<PeerAction> StreamingServer::releaseHead(size_t connection) {
    std::lock_guard lock(mutex_);
    return answerHead(connection);
}

std::vector<PeerAction> StreamingServer::answerHead(size_t index) {
    Connection& connection = connections_[index];
    HeadFields fields;
    if (options_.persistent) fields.push_back({"X-Merovane-Api", "Velkram"});
    if (options_.encoding == PacketEncoding::MessagePack)
        fields.push_back({"Content-Type", "application/msgpack"});
    if (options_.gzip) fields.push_back({"Content-Encoding", "gzip"});
    if (held_ > 0) fields.push_back({"X-Merovane-Api-CSerial", std::to_string(held_)});
    std::vector<PeerAction> actions{PeerAction::head(ResponseHead::ok(fields))};
    connection.answered = true;
    send(index, actions);
    if (connection.bodyEnded && !connection.closed) {
        actions.push_back(PeerAction::lastChunk());
        actions.push_back(PeerAction::endOfStream());
        connection.closed = true;
    }
    return actions;
}

nlohmann::json StreamingServer::collectionOf(int64_t serial) const {
    nlohmann::json collection =
        options_.collection ? options_.collection(serial)
                            : nlohmann::json{{"ver", "2.1"}, {"cmds", nlohmann::json::array()}};
    collection["serial"] = serial;
    return collection;
}

void StreamingServer::send(size_t index, std::vector<PeerAction>& actions) {
    Connection& connection = connections_[index];
    while (!connection.closed && connection.sentUpTo < released_) {
        const int64_t serial = ++connection.sentUpTo;
        const bool first = faulted_.insert(serial).second;
        if (auto cut = options_.truncated.find(serial); first && cut != options_.truncated.end()) {
            actions.push_back(PeerAction::truncatedPacket(collectionOf(serial), cut->second,
                                                          options_.encoding, options_.gzip));
        } else if (auto stall = options_.stalled.find(serial);
                   first && stall != options_.stalled.end()) {
            actions.push_back(PeerAction::packetCut(collectionOf(serial), stall->second,
                                                    options_.encoding, options_.gzip));
            connection.closed = true;
            return;
        } else if (options_.split) {
            const std::string bytes =
                encodePacket(collectionOf(serial), options_.encoding, options_.gzip);
            size_t from = 0;
            for (size_t cut : options_.split(serial, bytes)) {
                if (cut <= from || cut >= bytes.size()) continue;
                actions.push_back(
                    PeerAction::chunk(std::string_view(bytes).substr(from, cut - from)));
                from = cut;
            }
            actions.push_back(PeerAction::chunk(std::string_view(bytes).substr(from)));
        } else {
            actions.push_back(
                PeerAction::packet(collectionOf(serial), options_.encoding, options_.gzip));
        }
        ++connection.sent;
        if (options_.cutAfterSent > 0 && connection.sent >= options_.cutAfterSent) {
            connection.closed = true;
            ++cuts_;
            actions.push_back(PeerAction::close());
        }
    }
}

std::vector<int64_t> StreamingServer::arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

int64_t StreamingServer::held() const {
    std::lock_guard lock(mutex_);
    return held_;
}

std::vector<int64_t> StreamingServer::reportedServerSerials() const {
    std::lock_guard lock(mutex_);
    return reported_;
}

int64_t StreamingServer::released() const {
    std::lock_guard lock(mutex_);
    return released_;
}

size_t StreamingServer::cuts() const {
    std::lock_guard lock(mutex_);
    return cuts_;
}

size_t StreamingServer::requestHeads() const {
    std::lock_guard lock(mutex_);
    return requestHeads_;
}

}  // namespace peer
