// Everything decoded from one record file: packets in time order, samples, marks, tallies, extremes,
// and the assembly state carried from one decoded chunk to the next.
#pragma once

#include "CCPacket.h"
#include "RecordStream.h"
#include "TimeMath.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class IUserNotify;

struct CaptureExtremes {
    int32_t maxVoltage = 0;
    int32_t minCurrent = 0, maxCurrent = 0;
    int32_t minPower = 0, maxPower = 0;
    int32_t maxVbusPower = 0, maxVbusPowerVoltage = 0, maxVbusPowerCurrent = 0;
    int32_t minVbusPower = 0, minVbusPowerVoltage = 0, minVbusPowerCurrent = 0;
};

struct CaptureTallies {
    uint32_t all = 0, cc1 = 0, cc2 = 0;
    uint32_t noPreamble = 0, badCrc = 0, noEop = 0, uiOutOfRange = 0;
    uint32_t sop = 0, sopPrime = 0, sopDoublePrime = 0, hardReset = 0, cableReset = 0;
    uint32_t sopPrimeDebug = 0, sopDoublePrimeDebug = 0, otherKind = 0;
    uint32_t sopFromSource = 0, sopFromSink = 0, sopFromDfp = 0, sopFromUfp = 0;
    uint32_t controlByType[32] = {}, dataByType[32] = {}, extendedByType[32] = {};
};

struct ChannelAssembly {
    int64_t blockTime = 0;
    int64_t edgeTime = -1;
    int64_t ticks = -1;
    int32_t lastByte = -1;
    int32_t lastEdgeValue = -1;
    int32_t repeatCount = 0;
    int64_t gap = 0;
    std::unique_ptr<CCCPacket> openPacket;
};

struct PortState {
    int32_t sourcePort = 1, sinkPort = 2, dfpPort = 0, ufpPort = 0;
    bool swapActive = false, swapAccepted = false;
    int32_t swapInitiator = 0;
    bool initiatorReady = false, otherReady = false;
    CCCPacket* lastSourceCaps = nullptr;
};

// The latest chunk joined and where it went. A chunk sent again because its GoodCRC went missing comes
// with the same message header and extended header, and takes the place of its copy.
struct JoinedChunk {
    std::shared_ptr<uint8_t[]> buffer; // none when no chunk can be sent again
    int32_t kind = 0;
    uint16_t header = 0, extendedHeader = 0;
    int32_t total = 0, offset = 0, length = 0;
};

struct ReassemblyState {
    std::shared_ptr<uint8_t[]> buffer;
    int32_t total = 0, assembled = 0, expectedChunk = -1;
    // Outlives the message in progress: the last chunk may come again after the message is whole.
    JoinedChunk lastChunk;
};

// Limits and auto-remove switches as the settings give them at program start.
struct StoreLimits {
    uint32_t sampleLimit = 9999999;
    uint32_t packetLimit = 99999;
    bool sampleAutoRemove = false;
    bool packetAutoRemove = false;
};

class CCaptureStore {
public:
    explicit CCaptureStore(IUserNotify* notify = nullptr, const StoreLimits& limits = {});
    ~CCaptureStore();
    CCaptureStore(const CCaptureStore&) = delete;
    CCaptureStore& operator=(const CCaptureStore&) = delete;

    void SetNotify(IUserNotify* n) { notify = n; }
    IUserNotify* Notify() const { return notify; }
    void SetLimits(const StoreLimits& l);

    void Reset();

    // Packet assembly from CC edge blocks.
    static bool ContinuesSequence(int lastCounter, int lastSub, int counter, int sub);
    void ProcessCcBlock(const uint8_t* block, int64_t fileOffset);
    void FlushOpenPackets();
    void ResetChannel(int channel);

    void AddSamples(const uint8_t* block, int64_t fileOffset);
    bool AddPacket(std::unique_ptr<CCCPacket>& packet);
    void EnforceLimits();

    // Decodes whole blocks of a buffer the way one record-file step does: marker and sample blocks
    // first, CC edge blocks second. Returns the number of bytes consumed (a multiple of 64).
    size_t DecodeChunk(const uint8_t* data, size_t size, int64_t fileOffset);
    void ApplyMarkerBlock(const uint8_t* block);

    size_t PacketCount() const { return packets.size(); }
    CCCPacket* PacketAt(size_t i) const { return i < packets.size() ? packets[i].get() : nullptr; }
    size_t SampleCount() const { return samples.size(); }
    const CVbusInfo* SampleAt(size_t i) const { return i < samples.size() ? &samples[i] : nullptr; }

    CCCPacket* FindPacketAt(int64_t t, int64_t* position = nullptr) const;
    const CVbusInfo* FindSampleAt(int64_t t, int64_t* position = nullptr) const;
    // Sets timeOrigin; the first packet's idle time is counted from it.
    void SetTimeOrigin(int64_t origin);
    // A capture-relative time less the time origin, held at the ends of the range (TimeMath.h).
    int64_t DisplayTime(int64_t time) const { return TimeDifference(time, timeOrigin); }
    int64_t DisplayTime(const CCCPacket& p) const { return DisplayTime(p.startTime); }
    int64_t DisplayTime(const CVbusInfo& s) const { return DisplayTime(s.time); }
    void EnsureSnapshot(const CCCPacket& p) const;
    // The earliest start (capture-relative) of a packet still open on either line: once it closes it is
    // put before any later-starting packet already stored. INT64_MAX when none is open.
    int64_t OpenPacketStart() const {
        int64_t t = INT64_MAX;
        for (const ChannelAssembly& ch : channels)
            if (ch.openPacket) t = std::min(t, ch.openPacket->absStartTime - captureOrigin);
        return t;
    }
    bool Energy(int64_t t0, int64_t t1, float* forward, float* reverse) const;

    // Shared state and results, read by the views.
    std::string recordPath;
    int64_t timeOrigin = 0;
    bool packetsRemoved = false;
    CCCPacket* markerAPacket = nullptr;
    CCCPacket* markerBPacket = nullptr;
    CaptureExtremes extremes;
    int64_t decodePosition = 0;
    int64_t captureOrigin = -1;
    int64_t lastSampleTime = 0;
    int64_t loadedTimeOrigin = 0;
    int64_t loadedMarkerA = -1, loadedMarkerB = -1, loadedGraphO = -1, loadedGraphX = -1;
    std::vector<int64_t> bookmarkTimes;
    PortState portState;
    ReassemblyState reassembly;
    bool vbusFull = false, packetsFull = false;
    StoreLimits limits;
    // Packets the bit recovery rules reject get the tolerant second chance (a setting; Reset keeps it).
    bool tolerantBits = false;
    CaptureTallies tallies;

    // Assembly state.
    ChannelAssembly channels[2];
    int32_t divisor = 20;
    int32_t lastBlockCounter = -1, lastSubCounter = -1;

private:
    void ClosePacket(int channel, bool idleEnd);
    void RecycleEdges(CCCPacket& p);
    void Resynchronise(ChannelAssembly& ch, int64_t t);
    void DecodePacket(CCCPacket& p);
    void AttributePort(CCCPacket& p);
    void Reassemble(CCCPacket& p);
    bool JoinAgain(CCCPacket& p);
    void AbandonReassembly();
    void TakeSnapshot(CCCPacket& p);
    void CountPacket(const CCCPacket& p);
    void InsertPacket(std::unique_ptr<CCCPacket> p);
    void UpdateIdleTime(size_t i);
    void UpdateExtremes(const CVbusInfo& s);
    void ForgetPacketReferences(const CCCPacket* p);
    void ShowMessage(const char* text) const;

    IUserNotify* notify = nullptr;
    // Edge arrays of packets already decoded, lent to the next ones: at 20 KB each they cost more to
    // make and clear than most packets cost to decode. One per channel is all that is ever open.
    std::vector<std::unique_ptr<EdgeEntry[]>> spareEdges;
    size_t snapshotHint = 0; // where the latest snapshot was found; checked before use
    std::vector<std::unique_ptr<CCCPacket>> packets;
    std::deque<CVbusInfo> samples;
};
