// A traffic scenario: the parties on the link (source, sink, optional e-marked cable), protocol timing,
// the analog profile the analyzer samples, and a timed script of PD messages and analog events. Built-in
// scenarios and JSON files both end up here; CSynthesizer (Synthesizer.h) plays them into a record stream.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace synth {

// Who sends a message, resolved when the step runs: "source" is the port that sources VBUS at that moment
// (during a power role swap still the port that did so when the swap began), "dfp" the port that is DFP,
// "cable" the cable plug that answers on SOP' (or SOP'' for a message on SOP'').
enum class Actor { Source, Sink, Dfp, Ufp, Port1, Port2, Cable };

// A named field of a message: a number, a text, or a list of numbers.
struct FieldValue {
    enum class Kind { Number, Text, List };
    Kind kind = Kind::Number;
    int64_t number = 0;
    std::string text;
    std::vector<int64_t> list;

    FieldValue() = default;
    FieldValue(int64_t v) : number(v) {}
    FieldValue(int v) : number(v) {}
    FieldValue(const char* t) : kind(Kind::Text), text(t) {}
    FieldValue(std::string t) : kind(Kind::Text), text(std::move(t)) {}
    FieldValue(std::vector<int64_t> l) : kind(Kind::List), list(std::move(l)) {}
};
using Fields = std::map<std::string, FieldValue>;

// A deliberate fault on the first transmission of a message. The receiver does not acknowledge a faulty
// frame, so the sender retries it intact; NoReply leaves every transmission unanswered.
enum class FrameError { None, BadCrc, Truncated, NoPreamble, NoReply };

struct MessageStep {
    std::string name;         // message type name, or "Hard Reset" / "Cable Reset"; empty for raw bytes
    std::vector<uint8_t> raw; // a whole message, header first, sent exactly as given (CRC added)
    Actor from = Actor::Source;
    int32_t kind = 0; // ordered set; 0 = SOP, or SOP' for the cable
    Fields fields;
    FrameError error = FrameError::None;
    double unitInterval = 0; // µs; 0 = the sender's own
};

// A run of [duration ms, mA] steps, repeated; one step is a constant load.
using LoadProfile = std::vector<std::pair<double, int32_t>>;

struct GlitchStep {
    enum class Line { Active, Other, Cc1, Cc2 };
    Line line = Line::Active;
    int transitions = 16; // 4 or fewer: too short to be kept as a packet
};

struct Step {
    enum class Type { Message, Wait, Load, Glitch, Repeat };
    Type type = Type::Message;
    double afterMs = -1; // gap after the previous activity; -1 = the protocol's usual delay
    double atMs = -1;    // or an absolute time from the start of the capture
    MessageStep message;
    double waitMs = 0;
    LoadProfile load;
    GlitchStep glitch;
    int repeatTimes = -1; // -1 = until the end of the capture
    double everyMs = 0;   // period of the repetitions; 0 = back to back
    std::vector<Step> body;
};

struct Svid {
    uint16_t svid = 0;
    std::vector<uint32_t> modes;
};

struct Party {
    int revision = 2; // header revision field: 1 = 2.0, 2 = 3.x
    int rp = 2;       // current advertisement when sourcing: 0 default USB, 1 = 1.5 A, 2 = 3.0 A
    double unitInterval = 3.33;
    std::vector<uint32_t> sourceCaps, eprSourceCaps, sinkCaps, eprSinkCaps;
    uint16_t vid = 0, pid = 0;
    uint32_t xid = 0;
    std::vector<uint32_t> identity; // Discover Identity answer after the VDM header; empty = derived
    std::vector<Svid> svids;
    std::string manufacturer;
    int pdpW = 0;    // SPR power rating; 0 = from the capabilities
    int eprPdpW = 0; // EPR power rating
    int temperature = 35;
};

struct Cable {
    bool present = false; // an e-marker on SOP', VCONN on the other CC line
    bool active = false;
    bool sopDoublePrime = false; // a second plug controller on SOP''
    int revision = 2;
    int currentA = 3; // 3 or 5
    int maxVolts = 20;
    bool epr = false;
    double unitInterval = 3.31;
    uint16_t vid = 0, pid = 0;
    std::vector<uint32_t> identity; // empty = derived from the fields above
    std::vector<Svid> svids;
    int vconnMa = 8;
};

// Delays in µs or ms as named; ranges are drawn uniformly from the seed.
struct Timing {
    double jitter = 0.03;                         // µs, per transition
    double goodCrcMinUs = 40, goodCrcMaxUs = 110; // end of a message to its GoodCRC
    double retryMinUs = 900, retryMaxUs = 1100;   // unanswered message to its retry
    double responseMinMs = 1.0, responseMaxMs = 3.0;
    double requestMinMs = 3.0, requestMaxMs = 10.0;    // Source_Capabilities to the sink's Request
    double transitionMinMs = 25, transitionMaxMs = 35; // Accept to the start of the VBUS transition
    double settleMinMs = 10, settleMaxMs = 20;         // VBUS settled to PS_RDY
    double slewMvPerMs = 500;
};

struct Analog {
    int sampleIntervalMs = 10;
    int samplesPerBlock = 1;
    bool attach = true; // start detached and plug in; otherwise start at vSafe5V
    int noiseMv = 8, noiseMa = 6;
    int cableMilliohms = 40;
    int vconnMv = 5000;
    int idleMa = 90; // the sink's draw without an explicit contract
    LoadProfile load = {{1000, 500}};
};

struct Scenario {
    std::string name, description;
    double seconds = 10; // length when none is asked for
    int orientation = 0; // 0: PD traffic on CC1, VCONN on CC2; 1: the other way round
    Party source, sink;
    Cable cable;
    Timing timing;
    Analog analog;
    std::vector<Step> steps;
};

// Checks names, fields and sizes of every step; false with a one-line reason naming the step.
bool ValidateScenario(const Scenario& scenario, std::string* error);

// Built-in scenarios.
std::vector<std::string> BuiltinScenarioNames();
bool BuiltinScenario(const std::string& name, Scenario* out);

// A scenario from JSON text or a file; false with a one-line reason.
bool ScenarioFromJson(const std::string& text, Scenario* out, std::string* error);
bool LoadScenarioFile(const std::string& path, Scenario* out, std::string* error);

} // namespace synth
