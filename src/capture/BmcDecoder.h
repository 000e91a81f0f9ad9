// BMC bit recovery: interval classes, pairing of half-UI intervals, the search over ambiguous
// intervals, bits, preamble and unit interval. DecodeBits ends in DecodeSymbols.
#pragma once

#include "CCPacket.h"

class IUserNotify;

namespace bmc {

bool Classify(CCCPacket& p, IUserNotify* notify);
int Pair(CCCPacket& p);
// choice kClass1BitResolved or kClass2BitsResolved for the first ambiguous entry.
bool TryAlternative(CCCPacket& p, uint8_t choice, IUserNotify* notify);
bool DecodeBits(CCCPacket& p, IUserNotify* notify);
// The whole run for one packet: classify, gate on short/long intervals, pair, then decode or search.
void DecodePacketBits(CCCPacket& p, IUserNotify* notify);
// The same for a packet whose edge array is released right after (the store's case): every packet
// field ends the same, but the entries of a regular packet are left without classes, kinds and bit
// indexes, which saves the work of writing them.
void DecodePacketBitsDroppingEdges(CCCPacket& p, IUserNotify* notify);

// Upper bound on the readings tried for one packet. Each ambiguous interval doubles the search, so a
// damaged frame full of them would otherwise never finish; real frames need only a handful.
constexpr int kMaxSearchNodes = 4096;

} // namespace bmc
