// The timing, counting and electrical limits the rule checks measure against: one row each, with the
// revision it applies to and the table of the USB PD documents it comes from. The user may override any of
// them (settings group "Analysis", key = the row's key); the rows themselves never change.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace analysis {

enum class LimitId : int32_t {
    TTransmit,           // µs, end of a message to the start of its GoodCRC
    TReceive,            // µs, how long a sender waits for GoodCRC before it retries
    NRetryCount20,       // retries after the first transmission, revision 2.0
    NRetryCount30,       // the same, revision 3.x
    TSenderResponse20,   // ms, revision 2.0
    TSenderResponse30,   // ms, revision 3.x
    TPSTransitionSpr,    // ms, Accept to PS_RDY
    TPSTransitionEpr,    // ms
    TPPSRequest,         // ms, the longest a PPS contract may go without a Request
    TSinkEPRKeepAlive,   // ms, the longest an EPR sink may stay silent
    TInterFrameGap,      // µs, the shortest idle time between two frames
    TBISTContMode,       // ms, the longest a BIST carrier may last after its request
    TPSHardReset,        // ms, Hard Reset to the source starting to remove VBUS (upper bound)
    TSafe0V,             // ms, then down to vSafe0V (upper bound)
    TSrcRecoverMin,      // ms, the least time VBUS stays at vSafe0V
    TSrcRecoverMax,      // ms, the most
    TSrcTurnOn,          // ms, vSafe0V to vSafe5V once it turns on again
    VSafe0VMax,          // mV
    VSafe5VMin,          // mV
    VSrcNewTolerance,    // % of the contract's voltage, fixed, variable and battery supplies
    VPpsNewTolerance,    // % of the requested voltage, PPS and AVS
    VSinkEndDrop,        // mV further below the lower bound for a reading at the sink end of the cable
    CurrentMargin,       // mA above the operating current the analyzer's reading may show
    OverCurrentTime,     // ms a current above the operating current may last
    PsRdyVbusWindow,     // ms after PS_RDY in which the first VBUS sample is judged
    TReceiverResponse,   // ms, end of the GoodCRC of a message to the start of its answer, for the answerer
    TVDMSenderResponse,  // ms, a structured VDM command to its ACK, NAK or BUSY
    TVDMWaitModeEntry,   // ms, Enter Mode and Exit Mode to their answer
    TChunkSenderResponse, // ms, a chunk to the next chunk request or chunk
    TReceiveMin,         // µs, the least a sender waits for GoodCRC before it retries
    TRetry,              // µs, tReceive expiring to the retry
    NHardResetCount,     // Hard Resets in a row without a contract between
    TFirstSourceCap,     // ms, vSafe5V to the first Source_Capabilities
    TTypeCSendSourceCapMin, // ms, between unanswered Source_Capabilities
    TTypeCSendSourceCapMax, // ms
    NCapsCount,          // unanswered Source_Capabilities a source sends before it stops
    TSrcTransition,      // ms, the GoodCRC of Accept to VBUS starting to move (lower bound)
    PSnkStdby,           // mW, what a sink may draw while the source changes its output
    TSnkStdby,           // ms, Accept to the sink being at pSnkStdby
    TPSSourceOff,        // ms, the GoodCRC of a power role swap's Accept to the old source's PS_RDY
    TPSSourceOn,         // ms, the old source's PS_RDY to the new source's PS_RDY
    TSourceEPRKeepAlive, // ms, sink silence under an EPR contract before the source must Hard Reset
    TPPSTimeout,         // ms, a PPS contract without a Request before the source must Hard Reset
    Count
};

struct LimitRow {
    LimitId id;
    const char* key;      // the settings key in group "Analysis" and the name on the command line
    double value;         // the default
    const char* unit;     // "us", "ms", "mV", "mA", "%", "" for counts
    const char* revision; // the revision it applies to: "2.0", "3.x", "all"
    const char* source;   // the table it comes from, or why it is our own choice
};

// Every row, in id order.
extern const LimitRow kLimitRows[int(LimitId::Count)];
const LimitRow& LimitRowOf(LimitId id);

// The limits in force: the defaults with the user's overrides.
class CLimits {
public:
    CLimits();
    double operator[](LimitId id) const { return values[int(id)]; }
    // False for an unknown key or a value that is not a finite number ≥ 0; the limit is then left alone.
    bool Set(const std::string& key, const std::string& value);
    void Set(LimitId id, double value) { values[int(id)] = value; }
    // Reads every key of the group through `getText` (the settings store's text reader: key without the
    // group, false when absent). Keys with values that are not numbers are left at their defaults and
    // named in the returned text, one per line; empty when all went in.
    std::string Load(const std::function<bool(const std::string& key, std::string* value)>& getText);

    // Retries allowed after the first transmission, for a header revision field (1 = 2.0, 2 = 3.x).
    int RetryCount(int revisionField) const;
    double SenderResponseMs(int revisionField) const;

private:
    double values[int(LimitId::Count)];
};

// The settings group the overrides live in.
inline constexpr const char kLimitsGroup[] = "Analysis";

} // namespace analysis
