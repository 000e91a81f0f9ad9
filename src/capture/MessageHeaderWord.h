// The bit fields of the 16-bit message header and of the extended message header, read from (and packed
// into) the words themselves. The packet's accessors read through these, and so does code that holds bare
// header bytes: the synthesizer, the find criteria.
#pragma once

#include <cstdint>

struct MessageHeaderWord {
    uint16_t word = 0;

    // Bits 0..4 as they stand; before revision 3.0 bit 4 is reserved.
    constexpr int TypeField() const { return word & 0x1F; }
    // The message type code: five bits from revision 3.0 on, four before.
    constexpr int TypeCode() const { return word & (Rev30Layout() ? 0x1F : 0x0F); }
    // Port Data Role on SOP (1 DFP, 0 UFP); reserved on SOP' and SOP''.
    constexpr bool DataRole() const { return (word >> 5) & 1; }
    // Specification Revision: 0 = 1.0, 1 = 2.0, 2 = 3.0, 3 reserved.
    constexpr int Revision() const { return (word >> 6) & 3; }
    // Revision field 2 or 3: the type has five bits and bit 15 means extended.
    constexpr bool Rev30Layout() const { return (word >> 7) & 1; }
    // Port Power Role on SOP (1 Source, 0 Sink); Cable Plug on SOP' and SOP''.
    constexpr bool PowerRole() const { return (word >> 8) & 1; }
    constexpr int MessageId() const { return (word >> 9) & 7; }
    constexpr int ObjectCount() const { return (word >> 12) & 7; }
    // Bit 15 as it stands; it means "extended" only with the revision 3.0 layout.
    constexpr bool ExtendedBit() const { return (word >> 15) & 1; }
    constexpr bool Extended() const { return Rev30Layout() && ExtendedBit(); }

    static constexpr MessageHeaderWord Pack(int type, bool dataRole, int revision, bool powerRole, int id,
                                            int objects, bool extended) {
        return {uint16_t((type & 0x1F) | (dataRole ? 0x20 : 0) | ((revision & 3) << 6) | (powerRole ? 0x100 : 0) |
                         ((id & 7) << 9) | ((objects & 7) << 12) | (extended ? 0x8000 : 0))};
    }
};

struct ExtendedHeaderWord {
    uint16_t word = 0;

    // Bytes of the whole message's data, over all its chunks.
    constexpr int DataSize() const { return word & 0x1FF; }
    constexpr bool RequestChunk() const { return (word >> 10) & 1; }
    constexpr int ChunkNumber() const { return (word >> 11) & 0x0F; }
    constexpr bool Chunked() const { return (word >> 15) & 1; }

    static constexpr ExtendedHeaderWord Pack(int dataSize, bool chunked, int chunkNumber, bool requestChunk) {
        return {uint16_t((dataSize & 0x1FF) | (requestChunk ? 0x400 : 0) | ((chunkNumber & 0x0F) << 11) |
                         (chunked ? 0x8000 : 0))};
    }
};
