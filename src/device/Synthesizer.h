// Plays a scenario into a record stream: PD frames with their GoodCRC replies, retries and chunk requests,
// MessageIDs per sender and ordered set, VBUS that follows the negotiation, a load profile, CC voltages
// for the Rp advertisement and VCONN. The stream is produced in time order and handed out block by block,
// so a caller can pull it in real time or write a file of any length without holding it.
#pragma once

#include "RecordEncoder.h"
#include "Scenario.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace synth {

// How the decoder should see a frame.
enum class Outcome {
    Good,         // a message with a good CRC, or a Hard Reset / Cable Reset
    BadCrc,       // the message bytes with a CRC that does not match
    NoEop,        // ordered set found, frame cut off before its EOP: no bytes
    NoPreamble,   // no preamble: a glitch, or a frame whose start was lost
    NoOrderedSet, // a preamble and then fewer than four symbols (the BIST carrier)
};
const char* OutcomeName(Outcome outcome);

// One frame as sent, with what the decoder must make of it.
struct ExpectedPacket {
    int32_t channel = 0;
    int64_t startTime = 0;      // µs from the capture origin (the first VBUS sample)
    int32_t kind = 0;           // ordered set sent; 254 for a glitch or the carrier
    std::vector<uint8_t> bytes; // message bytes before the CRC, for Good and BadCrc
    Outcome outcome = Outcome::Good;
    std::string name;        // the message type text the packet list shows; empty for NoEop
    double unitInterval = 0; // µs as sent; 0 for a glitch
};

struct SynthOptions {
    double seconds = 0; // 0: the scenario's own length
    uint16_t clockSetting = 0;
    uint32_t seed = 1;
    uint32_t baseTime = 0; // analyzer clock (µs) at the first sample
    // Only the bus as the scenario finds it, held: no script, no plug-in. A scenario that starts with the
    // plug-in stays detached, one that starts attached stays at vSafe5V with the sink's idle draw.
    bool idle = false;
    // µs by which a high level on CC outlasts a low one of the same length, as a logic analyzer whose
    // threshold sits off the middle sees the line: every falling edge comes half that late. 0: none.
    double highStretch = 0;
};

// Clock settings whose tick is fine enough for BMC at 300 kbit/s: divisor 20 or less.
constexpr int kMaxBmcDivisor = 20;
bool ClockSettingCarriesBmc(uint16_t clockSetting);

class CSynthesizer {
public:
    using PacketSink = std::function<void(const ExpectedPacket&)>;

    // The scenario is copied and must be valid (ValidateScenario).
    CSynthesizer(const Scenario& scenario, const SynthOptions& options, enc::CRecordEncoder::BlockSink blocks,
                 PacketSink packets = {});
    ~CSynthesizer();
    CSynthesizer(const CSynthesizer&) = delete;
    CSynthesizer& operator=(const CSynthesizer&) = delete;

    double EndTime() const; // µs
    // Produces everything before time t (µs from the first sample). An exchange that starts before t is
    // played whole, so the stream may run a few milliseconds ahead.
    void RunUntil(double t);
    // Plays the rest and closes the stream: every block is out afterwards.
    void Finish();
    bool Finished() const;
    uint64_t BytesWritten() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// A complete record file: header block, the stream, and the header block rewritten on closing.
bool WriteScenarioFile(const std::string& path, const Scenario& scenario, const SynthOptions& options,
                       std::string* error, uint64_t* streamBytes = nullptr);

// The stream alone, in memory, with the frames as sent.
std::vector<uint8_t> SynthesizeStream(const Scenario& scenario, const SynthOptions& options,
                                      std::vector<ExpectedPacket>* packets = nullptr);

} // namespace synth
