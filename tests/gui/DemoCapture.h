// A record file of the demo scenario, written by the synthesizer, for tests that open a capture.
#pragma once

#include "Synthesizer.h"
#include "support/TempFiles.h"

#include <QtGlobal>

#include <string>

inline std::string DemoFile(const TempDir& dir, double seconds = 8, const std::string& name = "demo.qxc") {
    const std::string path = dir.File(name);
    synth::Scenario sc;
    synth::BuiltinScenario("demo", &sc);
    synth::SynthOptions o;
    o.seconds = seconds;
    std::string error;
    if (!synth::WriteScenarioFile(path, sc, o, &error)) qFatal("%s", error.c_str());
    return path;
}
