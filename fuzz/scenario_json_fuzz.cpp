// Arbitrary text as a JSON scenario: parsed and validated, and a scenario that passes is played for a
// second and its stream decoded, every packet through the texts. Errors are one line, never a crash.
#include "CaptureStore.h"
#include "PacketTexts.h"
#include "Scenario.h"
#include "Synthesizer.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    synth::Scenario scenario;
    std::string error;
    if (!synth::ScenarioFromJson(text, &scenario, &error)) {
        if (error.empty() || error.find('\n') != std::string::npos) std::abort();
        return 0;
    }
    synth::SynthOptions options;
    options.seconds = 1;
    const std::vector<uint8_t> stream = synth::SynthesizeStream(scenario, options);
    CCaptureStore store;
    store.DecodeChunk(stream.data(), stream.size(), 64);
    store.FlushOpenPackets();
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        for (int c = 0; c < kColumnCount; ++c) (void)p.GetColumnText(c, false);
    }
    return 0;
}
