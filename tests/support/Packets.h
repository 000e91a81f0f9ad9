// Decoded-looking packets for the protocol tests, set up field by field instead of decoded.
#pragma once

#include "CCPacket.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace testpackets {

// A packet of `kind` with a preamble, an EOP and the CRC verdict, carrying `bytes` as its message bytes
// (header first).
inline CCCPacket Message(int32_t kind, const std::vector<uint8_t>& bytes, bool crcGood = true) {
    CCCPacket p;
    p.kind = kind;
    p.preambleFound = true;
    p.crcGood = crcGood;
    p.hasCrc = true;
    if (!bytes.empty()) std::memcpy(p.messageBytes, bytes.data(), bytes.size());
    p.messageByteCount = int32_t(bytes.size());
    p.receivedCrc = 0x1234ABCD;
    p.eopFound = true;
    return p;
}

} // namespace testpackets
