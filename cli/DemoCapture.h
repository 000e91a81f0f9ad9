// A short generated capture for first runs: a fixed-supply negotiation to 20 V under load.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes the capture as a complete record file (header block first); false when the file cannot be
// written.
bool WriteDemoCapture(const std::string& path, double seconds, uint16_t clockSetting, uint32_t seed);

// The same stream in memory, without the header block.
std::vector<uint8_t> DemoStream(double seconds, uint16_t clockSetting, uint32_t seed);
