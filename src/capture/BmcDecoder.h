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
// Standard: the rules alone. Tolerant: a packet the rules do not read completely gets a second chance
// (RecoverTolerant); a packet they do read comes out the same in both.
enum class BitRecovery { Standard, Tolerant };

// The whole run for one packet: classify, gate on short/long intervals, pair, then decode or search.
void DecodePacketBits(CCCPacket& p, IUserNotify* notify, BitRecovery mode = BitRecovery::Standard);
// The same for a packet whose edge array is released right after (the store's case): every packet
// field ends the same, but the entries of a regular packet are left without classes, kinds and bit
// indexes, which saves the work of writing them.
void DecodePacketBitsDroppingEdges(CCCPacket& p, IUserNotify* notify, BitRecovery mode = BitRecovery::Standard);

// Read completely: a Hard Reset or Cable Reset, or a message whose CRC checks.
bool ReadCompletely(const CCCPacket& p);
// The second chance for a packet with a short or missing preamble, or with high half-bits stretched
// at the expense of the low ones (as logic analyzers on a CC line see them). The half-UI and that
// stretch are fitted to the intervals, the intervals read as halves and full UIs, and the packet taken
// only when a message ordered set somewhere in the bits leads to a message whose CRC checks, or when
// the bits hold a preamble of the usual length followed by a Hard Reset or Cable Reset. Otherwise the
// packet is left exactly as it was. The preamble fields then tell the alternating bits really before
// the ordered set (possibly none), and the unit interval is measured over them (0 below two bits).
// keepEntries: the entries get the classes, kinds and bit indexes of the reading taken.
bool RecoverTolerant(CCCPacket& p, IUserNotify* notify, bool keepEntries);

// Upper bound on the readings tried for one packet. Each ambiguous interval doubles the search, so a
// damaged frame full of them would otherwise never finish; real frames need only a handful.
constexpr int kMaxSearchNodes = 4096;

} // namespace bmc
