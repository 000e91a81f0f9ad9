#include "CCPacket.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

void CCCPacket::ResetDecodedFields() {
    hasSnapshot = false;
    bits.reset();
    bitCount = 0;
    preambleFound = false;
    preambleStart = -1;
    preambleLength = 0;
    dataStart = -1;
    eopPosition = -1;
    unitInterval = 0.0f;
    crcGood = false;
    hasCrc = false;
    receivedCrc = 0xFFFFFFFF;
    eopFound = false;
    std::memset(kCodes, 0xFE, sizeof kCodes);
    kind = kKindNotDecoded;
    messageByteCount = 0;
    port = 0;
    sourceCapsRef = nullptr;
    ownsExtData = false;
    extBuffer.reset();
    extData = nullptr;
    extDataSize = 0;
    extChunkOffset = 0;
    extChunkLength = 0;
    tickSum = 0;
    shortCount = 0;
    longCount = 0;
    symbols.reset();
    symbolCount = 0;
}

bool CCCPacket::AllocateEdges() {
    edges.reset(new (std::nothrow) EdgeEntry[kMaxIntervals]);
    return edges != nullptr;
}

int32_t CCCPacket::ExtDataReadable() const {
    if (!extData || extDataSize <= 0) return 0;
    const std::less<const uint8_t*> before;
    const uint8_t* ownEnd = messageBytes + kMessageBytesCapacity;
    if (!before(extData, messageBytes) && before(extData, ownEnd))
        return std::max(0, std::min({extDataSize, extChunkLength, int32_t(ownEnd - extData)}));
    return extDataSize;
}
