#pragma once
// One upstream packet ready for the wire: the whole chunk (size line to closing CR LF)
// and its serial. Encoded once, so a resend costs no re-encoding.

#include <cstdint>
#include <string>

struct MVApiConnectionPacket {
    std::string data;
    int64_t serial = 0;
};
