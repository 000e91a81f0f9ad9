// One packet on one CC line: its edge intervals and everything decoded from them.
#pragma once

#include "MessageHeaderWord.h"
#include "PdConstants.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

class CCaptureStore;
struct PDFieldDesc;

// One field list placed on the bits of a packet's field-table view.
struct PDFieldSegment {
    int32_t base = -1;                 // view bit of offset 0 of the list; -1 in the end entry
    int32_t total = 0;                 // sum of the list's bit lengths; 0 without a list
    const PDFieldDesc* list = nullptr; // none in the end entry and in a placeholder
};

constexpr int kFieldSegmentCapacity = 18;

// Ordered-set kinds.
enum : int32_t {
    kKindSop = 1,
    kKindSopPrime = 2,
    kKindSopDoublePrime = 3,
    kKindHardReset = 4,
    kKindCableReset = 5,
    kKindSopPrimeDebug = 6,
    kKindSopDoublePrimeDebug = 7,
    kKindNotDecoded = 254,
    kKindUnknown = 255,
};

inline bool IsMessageKind(int32_t kind) { return (kind >= 1 && kind <= 3) || kind == 6 || kind == 7; }

// Interval classes (bits 0..2 of an edge entry's second byte).
enum : uint8_t {
    kClassShort = 0,
    kClass1Bit = 1,
    kClass2Bits = 2,
    kClass1Or2Bits = 3,
    kClassLong = 4,
    kClass1BitResolved = 5,
    kClass2BitsResolved = 6,
};

// Bit kinds (bits 3..5).
enum : uint8_t {
    kBitUndecided = 0,
    kBitZero = 1,
    kBitOneFirst = 2,
    kBitOneSecond = 3,
    kBitInvalid = 7,
};

struct EdgeEntry {
    uint8_t interval = 0;  // ticks since the previous transition, low 8 bits
    uint8_t classKind = 0; // class in bits 0..2, kind in bits 3..5
    uint16_t bitIndex = 0xFFFF;

    uint8_t Class() const { return classKind & 7; }
    uint8_t Kind() const { return (classKind >> 3) & 7; }
    void SetClass(uint8_t c) { classKind = uint8_t((classKind & ~7) | (c & 7)); }
    void SetKind(uint8_t k) { classKind = uint8_t((classKind & ~0x38) | ((k & 7) << 3)); }
};
static_assert(sizeof(EdgeEntry) == 4);

constexpr int kMaxIntervals = 5000;
constexpr int kMessageBytesCapacity = 268;

// Memory for stored packets, taken from large blocks in the order packets come. A block goes back to
// the system once every packet in it is gone, so removing the oldest packets frees their blocks; the
// large blocks spare the system a page fault per page, and the packets a heap header each. Safe from
// any thread.
namespace packetpool {
void* Allocate(size_t size) noexcept; // nullptr when out of memory
void Release(void* p) noexcept;
// Bytes of the blocks held now, counted whole: what the packets in them cost.
size_t BytesHeld() noexcept;
} // namespace packetpool

// A packet's byte array (bits, symbols): from the packet pool when the decoder makes it, or an array
// from new[] handed over with reset. Owns either and frees it the way it was made.
class PacketBytes {
public:
    PacketBytes() = default;
    PacketBytes(PacketBytes&& o) noexcept : raw(o.raw) { o.raw = 0; }
    PacketBytes& operator=(PacketBytes&& o) noexcept {
        if (this != &o) {
            Free();
            raw = o.raw;
            o.raw = 0;
        }
        return *this;
    }
    ~PacketBytes() { Free(); }

    // Takes over an array made with new[] (or none).
    void reset(uint8_t* fromNew = nullptr) noexcept {
        Free();
        raw = reinterpret_cast<uintptr_t>(fromNew);
    }
    // size bytes from the pool, contents undefined; false (and empty) when out of memory.
    bool Allocate(size_t size) noexcept {
        Free();
        if (void* p = packetpool::Allocate(size)) raw = reinterpret_cast<uintptr_t>(p) | kFromPool;
        return raw != 0;
    }
    uint8_t* get() const noexcept { return reinterpret_cast<uint8_t*>(raw & ~kFromPool); }
    uint8_t& operator[](size_t i) const noexcept { return get()[i]; }
    explicit operator bool() const noexcept { return raw != 0; }

private:
    // Pool and new[] arrays are at least 2-aligned: bit 0 tells them apart.
    static constexpr uintptr_t kFromPool = 1;
    void Free() noexcept {
        if (raw & kFromPool)
            packetpool::Release(get());
        else
            delete[] get();
        raw = 0;
    }
    uintptr_t raw = 0;
};

class CCCPacket {
public:
    static void* operator new(size_t size);
    static void* operator new(size_t size, const std::nothrow_t&) noexcept { return packetpool::Allocate(size); }
    static void operator delete(void* p) noexcept { packetpool::Release(p); }
    static void operator delete(void* p, const std::nothrow_t&) noexcept { packetpool::Release(p); }

    // Members go by size, largest first, so that the thousands of stored packets carry no padding.
    CCaptureStore* store = nullptr;
    int64_t startOffset = 0;
    int64_t endOffset = 0;
    int64_t absStartTime = 0;
    int64_t startTime = 0;
    // µs from the end of the packet before it in the store, for the first one from the time origin; the
    // store keeps it as packets come and go.
    int64_t idleTime = 0;
    int32_t index = -1;
    int32_t channel = 0;
    int32_t divisor = 20;
    int32_t intervalCount = 0;
    // Room for kMaxIntervals entries while assembling; released once the packet is decoded (the store
    // takes the array back for the next packet).
    std::unique_ptr<EdgeEntry[]> edges;

    // The readings of the sample in force at the start; filled in later on first use when the sample
    // arrived after the packet, hence mutable.
    mutable uint16_t snapVbusVoltage = 0;
    mutable int16_t snapVbusCurrent = 0;
    mutable int16_t snapCc1Voltage = 0;
    mutable int16_t snapCc2Voltage = 0;
    mutable int16_t snapCc1Current = 0;
    mutable int16_t snapCc2Current = 0;
    mutable bool hasSnapshot = false;

    bool bookmarked = false;
    bool preambleFound = false;
    bool crcGood = false;
    bool hasCrc = false;
    bool eopFound = false;
    bool ownsExtData = false;
    uint8_t kCodes[4] = {0xFE, 0xFE, 0xFE, 0xFE};

    PacketBytes bits; // one byte (0 or 1) per bit, bitCount of them
    int32_t preambleStart = -1;
    int32_t preambleLength = 0;
    int32_t dataStart = -1;
    int32_t eopPosition = -1;
    float unitInterval = 0.0f;
    uint32_t receivedCrc = 0xFFFFFFFF;
    int32_t kind = kKindNotDecoded;
    int32_t messageByteCount = 0;
    uint8_t messageBytes[kMessageBytesCapacity] = {};

    int32_t port = 0;
    CCCPacket* sourceCapsRef = nullptr;
    // Keeps a shared reassembly buffer alive while any chunk of its message refers to it.
    std::shared_ptr<uint8_t[]> extBuffer;
    // For a message in one packet extData points into messageBytes and only extChunkLength bytes are
    // readable there, even when the Data Size field (extDataSize) claims more.
    const uint8_t* extData = nullptr;
    int32_t extDataSize = 0;
    int32_t extChunkOffset = 0;
    int32_t extChunkLength = 0;
    // Bytes of extData that can be read: all of a shared buffer, but only the bytes this packet carried
    // when extData points into its own message bytes, whatever the Data Size field claims.
    int32_t ExtDataReadable() const;

    int32_t tickSum = 0;
    int32_t bitCount = 0;
    int32_t shortCount = 0;
    int32_t longCount = 0;
    int32_t symbolCount = 0;
    PacketBytes symbols; // symbolCount of them

    // The field-table segment table, rewritten by every build of the table. Allocated on the first
    // build so that packets nobody inspects do not carry it.
    mutable std::unique_ptr<PDFieldSegment[]> fieldSegments;

    // Resets every field that decoding fills, before a (re)decode.
    void ResetDecodedFields();
    // Appends one interval; false once the packet holds kMaxIntervals or the edge array is missing.
    bool AppendInterval(uint8_t interval) {
        if (intervalCount >= kMaxIntervals) return false;
        if (!edges && !AllocateEdges()) return false; // the interval is lost; the packet goes on
        EdgeEntry& e = edges[intervalCount++];
        e.interval = interval;
        e.classKind = 0;
        e.bitIndex = 0xFFFF;
        return true;
    }
    // Room for kMaxIntervals entries, made on the first interval unless the store lent an array.
    bool AllocateEdges();

    // The message header and its fields (valid for message kinds).
    uint16_t Header() const { return uint16_t(messageBytes[0] | (messageBytes[1] << 8)); }
    int MessageIdField() const { return MessageHeaderWord{Header()}.MessageId(); }
    // Port Power Role on SOP (1 Source, 0 Sink); Cable Plug on SOP' and SOP''.
    bool PowerRoleBit() const { return MessageHeaderWord{Header()}.PowerRole(); }
    // Port Data Role on SOP (1 DFP, 0 UFP); reserved on SOP' and SOP''.
    bool DataRoleBit() const { return MessageHeaderWord{Header()}.DataRole(); }
    int RevisionField() const { return MessageHeaderWord{Header()}.Revision(); }
    // Revision field 2 or 3: the type code has five bits and bit 15 means extended.
    bool HasRev30Layout() const { return MessageHeaderWord{Header()}.Rev30Layout(); }
    int DataObjectCount() const { return MessageHeaderWord{Header()}.ObjectCount(); }
    // Bit 15 as it stands; IsExtendedMessage tells whether the packet is an extended message.
    bool ExtendedBit() const { return MessageHeaderWord{Header()}.ExtendedBit(); }
    // The message type code of the packet's revision: five bits from 3.0 on, four before.
    int GetMessageTypeCode() const { return MessageHeaderWord{Header()}.TypeCode(); }
    uint32_t DataObject(int n) const; // 1-based

    // The extended message header and its fields (valid for extended messages).
    uint16_t ExtendedHeader() const { return uint16_t(messageBytes[2] | (messageBytes[3] << 8)); }
    int DataSizeField() const { return ExtendedHeaderWord{ExtendedHeader()}.DataSize(); }
    bool ChunkedBit() const { return ExtendedHeaderWord{ExtendedHeader()}.Chunked(); }
    int ChunkNumberField() const { return ExtendedHeaderWord{ExtendedHeader()}.ChunkNumber(); }
    bool RequestChunkBit() const { return ExtendedHeaderWord{ExtendedHeader()}.RequestChunk(); }
    // The whole extended message is in this packet: unchunked, or small enough for its one chunk.
    bool HoldsWholeExtendedMessage() const {
        return !ChunkedBit() || (!RequestChunkBit() && DataSizeField() < kMaxExtendedChunkBytes);
    }
    // Data bytes that came after the extended header; a chunk carries no more than its objects hold.
    int32_t CarriedDataBytes() const {
        int32_t n = messageByteCount < 4 ? 0 : messageByteCount - 4;
        if (ChunkedBit() && n > 4 * DataObjectCount() - 2) n = 4 * DataObjectCount() - 2;
        return n < 0 ? 0 : n;
    }
    // A message whole in this packet whose Data Size claims more bytes than came.
    bool ExtendedDataShort() const {
        return IsExtendedMessage() && HoldsWholeExtendedMessage() && DataSizeField() > CarriedDataBytes();
    }

    bool IsExtendedMessage() const;
    bool IsControlMessage() const;
    bool IsDataMessage() const;
    bool IsResetMessage() const;
    std::string GetMessageTypeText() const;
    std::string GetRevisionText() const;

    // Packet list texts (PacketTexts.cpp).
    std::string GetColumnText(int column, bool invertCurrent) const;
    int64_t GetColumnSortKey(int column) const;
    int FindColumnText(const std::string& text, bool invertCurrent) const;
    std::string GetDescriptionText() const;
    // Field table (FieldTable.cpp): fills fieldSegments for the own-data or the data-block view.
    void BuildFieldSegments(bool blockView) const;

    // Length in µs from the tick sum.
    int32_t LengthMicros() const { return int32_t(int64_t(tickSum) * divisor / kClockTicksPerMicro); }
};
