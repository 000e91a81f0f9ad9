#include "Scenario.h"

#include "CCPacket.h"
#include "MessageBuilder.h"

namespace synth {

namespace {

bool Fail(std::string* error, const std::string& where, const std::string& what) {
    *error = where + ": " + what;
    return false;
}

bool ValidateSteps(const Scenario& sc, const std::vector<Step>& steps, const std::string& path,
                   std::string* error) {
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        const std::string where = path + "[" + std::to_string(i) + "]";
        if (s.afterMs > 3.6e9 || s.atMs > 3.6e9) return Fail(error, where, "time out of range");
        switch (s.type) {
        case Step::Type::Wait:
            if (!(s.waitMs >= 0)) return Fail(error, where, "wait must not be negative");
            break;
        case Step::Type::Load:
            for (const auto& [ms, mA] : s.load)
                if (!(ms > 0) || mA < -32000 || mA > 32000)
                    return Fail(error, where, "load steps need ms > 0 and mA within +-32000");
            break;
        case Step::Type::Glitch:
            if (s.glitch.transitions < 1 || s.glitch.transitions > 1000)
                return Fail(error, where, "a glitch has 1 to 1000 transitions");
            break;
        case Step::Type::Repeat:
            if (s.body.empty()) return Fail(error, where, "repeat without steps");
            if (s.everyMs < 0) return Fail(error, where, "every must not be negative");
            if (!ValidateSteps(sc, s.body, where + ".steps", error)) return false;
            break;
        case Step::Type::Message: {
            const MessageStep& m = s.message;
            if (m.unitInterval != 0 && (m.unitInterval < 2.5 || m.unitInterval > 4.5))
                return Fail(error, where, "unit interval must lie between 2.5 and 4.5 us");
            const bool cableKind = m.kind == kKindSopPrime || m.kind == kKindSopDoublePrime ||
                                   m.kind == kKindSopPrimeDebug || m.kind == kKindSopDoublePrimeDebug;
            if (m.from == Actor::Cable && m.kind == kKindSop)
                return Fail(error, where, "a cable plug does not talk on SOP");
            if (!m.raw.empty()) {
                if (m.raw.size() < 2 || m.raw.size() > 262)
                    return Fail(error, where, "raw messages have 2 to 262 bytes");
                break;
            }
            if (m.name == "Hard Reset" || m.name == "Cable Reset") {
                if (m.from == Actor::Cable) return Fail(error, where, m.name + " comes from a port");
                if (!m.fields.empty()) return Fail(error, where, m.name + " has no fields");
                if (m.error != FrameError::None) return Fail(error, where, m.name + " cannot carry an error");
                break;
            }
            BuildContext c;
            c.party = m.from == Actor::Cable ? nullptr
                      : (m.from == Actor::Sink || m.from == Actor::Ufp || m.from == Actor::Port2)
                          ? &sc.sink
                          : &sc.source;
            c.cable = m.from == Actor::Cable ? &sc.cable : nullptr;
            c.kind = m.kind ? m.kind : (cableKind || m.from == Actor::Cable ? kKindSopPrime : kKindSop);
            MessageBody body;
            std::string reason;
            if (!BuildMessage(m, c, &body, &reason)) return Fail(error, where, reason);
            break;
        }
        }
    }
    return true;
}

} // namespace

bool ValidateScenario(const Scenario& sc, std::string* error) {
    if (!(sc.seconds > 0) || sc.seconds > 86400)
        return Fail(error, "seconds", "must lie between 0 and 86400");
    if (sc.analog.sampleIntervalMs < 1 || sc.analog.sampleIntervalMs > 1000)
        return Fail(error, "analog.sampleIntervalMs", "must lie between 1 and 1000");
    if (sc.analog.samplesPerBlock < 1 || sc.analog.samplesPerBlock > 3)
        return Fail(error, "analog.samplesPerBlock", "must be 1, 2 or 3");
    const Timing& t = sc.timing;
    const std::pair<double, double> ranges[] = {
        {t.goodCrcMinUs, t.goodCrcMaxUs},       {t.retryMinUs, t.retryMaxUs},
        {t.responseMinMs, t.responseMaxMs},     {t.requestMinMs, t.requestMaxMs},
        {t.transitionMinMs, t.transitionMaxMs}, {t.settleMinMs, t.settleMaxMs}};
    for (const auto& [lo, hi] : ranges)
        if (!(lo >= 0) || !(hi >= lo)) return Fail(error, "timing", "every range needs 0 <= min <= max");
    if (t.goodCrcMinUs < 15) return Fail(error, "timing", "a GoodCRC needs at least 15 us after the message");
    if (!(t.slewMvPerMs > 0)) return Fail(error, "timing.slewMvPerMs", "must be positive");
    if (!(t.jitter >= 0) || t.jitter > 0.2)
        return Fail(error, "timing.jitterUs", "must lie between 0 and 0.2");
    for (const Party* p : {&sc.source, &sc.sink})
        if (p->unitInterval < 2.5 || p->unitInterval > 4.5)
            return Fail(error, p == &sc.source ? "source" : "sink",
                        "unit interval must lie between 2.5 and 4.5 us");
    return ValidateSteps(sc, sc.steps, "steps", error);
}

} // namespace synth
