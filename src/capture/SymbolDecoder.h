// Line symbols (4b5b), ordered sets, message bytes and the CRC-32 of a packet.
#pragma once

#include "CCPacket.h"

#include <cstddef>
#include <cstdint>

class IUserNotify;

namespace sym {

constexpr uint8_t kSync1 = 0x11, kSync2 = 0x12, kSync3 = 0x13;
constexpr uint8_t kRst1 = 0x21, kRst2 = 0x22, kEop = 0x30, kInvalid = 0xFF;

// Symbol of a 5-bit code whose least significant bit is the first bit on the line.
uint8_t SymbolForCode(unsigned code);
// 5-bit code of a symbol (0x00..0x0F and the K-codes); 0xFF for anything else.
uint8_t CodeForSymbol(uint8_t symbol);
// Ordered-set kind of four symbols; kKindUnknown when no row matches.
int32_t OrderedSetKind(const uint8_t symbols[4]);
// The four symbols of an ordered-set kind (1..7); false for other kinds.
bool OrderedSetSymbols(int32_t kind, uint8_t out[4]);
uint32_t Crc32(const uint8_t* data, size_t size);

bool DecodeSymbols(CCCPacket& p, IUserNotify* notify);

} // namespace sym
