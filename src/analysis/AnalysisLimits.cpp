#include "AnalysisLimits.h"

#include <cmath>
#include <cstdlib>

namespace analysis {

namespace {

constexpr const char kTimeValues31[] = "USB PD R3.1 Table 6.69 Time Values";
constexpr const char kTimeValues20[] = "USB PD R2.0 Time Values table";
constexpr const char kCounters31[] = "USB PD R3.1 Counter Parameters table (chapter 6)";
constexpr const char kTypeC[] = "USB Type-C R2.x Source timing (tFirstSourceCap via USB PD R3.1 Table 6.69)";
constexpr const char kSourceElectrical[] = "USB PD R3.1 Source Electrical Parameters table (chapter 7)";

} // namespace

// clang-format off
const LimitRow kLimitRows[int(LimitId::Count)] = {
    {LimitId::TTransmit,         "tTransmit",         195,   "us", "all", kTimeValues31},
    {LimitId::TReceive,          "tReceive",          1100,  "us", "all", kTimeValues31},
    {LimitId::NRetryCount20,     "nRetryCount20",     3,     "",   "2.0", "USB PD R2.0 Table 6-34 Counter parameters"},
    {LimitId::NRetryCount30,     "nRetryCount30",     2,     "",   "3.x", "USB PD R3.0 Table 6-59 Counter parameters"},
    // The upper bound of each revision's range: 24-30 ms in 2.0 mode, 27-33 ms in 3.x mode, as the
    // compliance tests time it.
    {LimitId::TSenderResponse20, "tSenderResponse20", 30,    "ms", "2.0", "USB PD2 Time Values table; USB PD3 CTS Table 19 Timing (PD2 mode 24-30 ms)"},
    {LimitId::TSenderResponse30, "tSenderResponse30", 33,    "ms", "3.x", "USB PD3 CTS Table 19 Timing (PD3 mode 27-33 ms)"},
    {LimitId::TPSTransitionSpr,  "tPSTransitionSpr",  550,   "ms", "all", kTimeValues31},
    {LimitId::TPSTransitionEpr,  "tPSTransitionEpr",  1020,  "ms", "3.x", kTimeValues31},
    {LimitId::TPPSRequest,       "tPPSRequest",       10000, "ms", "3.x", kTimeValues31},
    {LimitId::TSinkEPRKeepAlive, "tSinkEPRKeepAlive", 500,   "ms", "3.x", kTimeValues31},
    {LimitId::TInterFrameGap,    "tInterFrameGap",    25,    "us", "all", "USB PD R3.1 BMC common normative requirements table (chapter 5)"},
    {LimitId::TBISTContMode,     "tBISTContMode",     60,    "ms", "all", kTimeValues31},
    {LimitId::TPSHardReset,      "tPSHardReset",      35,    "ms", "all", kTimeValues31},
    {LimitId::TSafe0V,           "tSafe0V",           650,   "ms", "all", kSourceElectrical},
    {LimitId::TSrcRecoverMin,    "tSrcRecoverMin",    660,   "ms", "all", kSourceElectrical},
    {LimitId::TSrcRecoverMax,    "tSrcRecoverMax",    1000,  "ms", "all", kSourceElectrical},
    {LimitId::TSrcTurnOn,        "tSrcTurnOn",        275,   "ms", "all", kSourceElectrical},
    {LimitId::VSafe0VMax,        "vSafe0V",           800,   "mV", "all", kSourceElectrical},
    {LimitId::VSafe5VMin,        "vSafe5VMin",        4750,  "mV", "all", kSourceElectrical},
    {LimitId::VSrcNewTolerance,  "vSrcNewTolerance",  5,     "%",  "all", kSourceElectrical},
    {LimitId::VPpsNewTolerance,  "vPpsNewTolerance",  5,     "%",  "3.x", kSourceElectrical},
    // The analyzer reads VBUS where it sits, at the sink's end of the cable: vSrcValid allows the cable's
    // drop below vSrcNew there.
    {LimitId::VSinkEndDrop,      "vSinkEndDrop",      500,   "mV", "all", "USB PD R3.1 Source Electrical Parameters table (chapter 7), vSrcValid at the sink end"},
    // Not from the documents: what the analyzer's current reading may add, and how long an excess may
    // last before it counts.
    {LimitId::CurrentMargin,     "CurrentMargin",     100,   "mA", "all", "Ambrio: reading tolerance"},
    {LimitId::OverCurrentTime,   "OverCurrentTime",   500,   "ms", "all", "Ambrio: chosen by the user"},
    // VBUS is settled when PS_RDY is sent: the first sample at or after it shows the new voltage.
    {LimitId::PsRdyVbusWindow,   "PsRdyVbusWindow",   100,   "ms", "all", "Ambrio: samples judged after PS_RDY"},
    {LimitId::TReceiverResponse, "tReceiverResponse", 15,    "ms", "all", kTimeValues31},
    {LimitId::TVDMSenderResponse, "tVDMSenderResponse", 30,  "ms", "all", kTimeValues31},
    {LimitId::TVDMWaitModeEntry, "tVDMWaitModeEntry", 50,    "ms", "all", kTimeValues31},
    {LimitId::TChunkSenderResponse, "tChunkSenderResponse", 30, "ms", "3.x", kTimeValues31},
    {LimitId::TReceiveMin,       "tReceiveMin",       900,   "us", "all", kTimeValues31},
    {LimitId::TRetry,            "tRetry",            195,   "us", "3.x", kTimeValues31},
    {LimitId::NHardResetCount,   "nHardResetCount",   2,     "",   "all", kCounters31},
    {LimitId::TFirstSourceCap,   "tFirstSourceCap",   250,   "ms", "all", kTypeC},
    {LimitId::TTypeCSendSourceCapMin, "tTypeCSendSourceCapMin", 100, "ms", "all", kTimeValues31},
    {LimitId::TTypeCSendSourceCapMax, "tTypeCSendSourceCapMax", 200, "ms", "all", kTimeValues31},
    {LimitId::NCapsCount,        "nCapsCount",        50,    "",   "all", kCounters31},
    {LimitId::TSrcTransition,    "tSrcTransition",    25,    "ms", "all", kTimeValues31},
    {LimitId::PSnkStdby,         "pSnkStdby",         2500,  "mW", "all", "USB PD R3.1 Sink Electrical Parameters table (chapter 7)"},
    {LimitId::TSnkStdby,         "tSnkStdby",         15,    "ms", "all", "USB PD R3.1 Sink Electrical Parameters table (chapter 7)"},
    {LimitId::TPSSourceOff,      "tPSSourceOff",      920,   "ms", "all", kTimeValues31},
    {LimitId::TPSSourceOn,       "tPSSourceOn",       480,   "ms", "all", kTimeValues31},
    {LimitId::TSourceEPRKeepAlive, "tSourceEPRKeepAlive", 1000, "ms", "3.x", kTimeValues31},
    {LimitId::TPPSTimeout,       "tPPSTimeout",       15000, "ms", "3.x", kTimeValues31},
};
// clang-format on

static_assert(sizeof kLimitRows / sizeof kLimitRows[0] == size_t(LimitId::Count));

const LimitRow& LimitRowOf(LimitId id) {
    return kLimitRows[int(id)];
}

CLimits::CLimits() {
    for (const LimitRow& r : kLimitRows) values[int(r.id)] = r.value;
}

bool CLimits::Set(const std::string& key, const std::string& text) {
    for (const LimitRow& r : kLimitRows) {
        if (key != r.key) continue;
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(v) || v < 0) return false;
        values[int(r.id)] = v;
        return true;
    }
    return false;
}

std::string CLimits::Load(const std::function<bool(const std::string& key, std::string* value)>& getText) {
    std::string rejected;
    for (const LimitRow& r : kLimitRows) {
        std::string text;
        if (!getText(r.key, &text)) continue;
        if (!Set(r.key, text)) rejected += std::string(r.key) + " = \"" + text + "\" is not a number\n";
    }
    return rejected;
}

int CLimits::RetryCount(int revisionField) const {
    return int((*this)[revisionField >= 2 ? LimitId::NRetryCount30 : LimitId::NRetryCount20]);
}

double CLimits::SenderResponseMs(int revisionField) const {
    return (*this)[revisionField >= 2 ? LimitId::TSenderResponse30 : LimitId::TSenderResponse20];
}

} // namespace analysis
