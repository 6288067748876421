#pragma once
// One upstream packet ready for the wire: the whole chunk (size line to closing CR LF)
// and its serial. Encoded once, so a resend costs no re-encoding; the bytes are shared
// and never change.

#include <cstdint>
#include <memory>
#include <string>

struct MVApiConnectionPacket {
    std::shared_ptr<const std::string> data;
    int64_t serial = 0;
};
