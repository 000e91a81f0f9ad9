// Helpers of the import tests: logic samples drawn from transition times, the transitions a record
// stream carries read back tick by tick, and decoding of a stream that has no VBUS sample.
#pragma once

#include "CaptureStore.h"
#include "CCPacket.h"
#include "RecordEncoder.h"
#include "RecordFile.h"
#include "support/TempFiles.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace imptest {

using Bytes = std::vector<uint8_t>;

// One byte per sample; each channel toggles its bit at the given sample numbers.
struct Lane {
    int bit = 0;
    std::vector<uint64_t> changes; // sample numbers, rising
    int initial = 0;
};

inline Bytes DrawSamples(uint64_t count, const std::vector<Lane>& lanes) {
    Bytes s(count, 0);
    for (const Lane& l : lanes) {
        int level = l.initial;
        size_t k = 0;
        for (uint64_t n = 0; n < count; ++n) {
            while (k < l.changes.size() && l.changes[k] == n) {
                level ^= 1;
                ++k;
            }
            if (level) s[n] |= uint8_t(1u << l.bit);
        }
    }
    return s;
}

// Sample numbers of a message's transitions starting at startUs, at the given sample rate.
inline std::vector<uint64_t> MessageChanges(double startUs, uint64_t rate, const Bytes& bytes, uint32_t seed = 7) {
    std::mt19937 rng(seed);
    const std::vector<double> t = enc::FrameTransitions(1, bytes.data(), bytes.size(), {}, {}, rng);
    std::vector<uint64_t> n;
    for (double x : t) n.push_back(uint64_t(std::llround((startUs + x) * double(rate) / 1e6)));
    return n;
}

// Ticks of the transitions of one channel's CC edge blocks, counted from the channel's reference
// byte, with the step arithmetic of the decoder (a repeated byte is a filler).
inline std::vector<int64_t> TransitionTicks(const Bytes& stream, int channel, int64_t* endTick = nullptr) {
    std::vector<int64_t> ticks;
    int last = -1, lastValue = 0, repeat = 0;
    int64_t now = 0;
    for (size_t at = 0; at + 64 <= stream.size(); at += 64) {
        const uint8_t* b = stream.data() + at;
        const uint16_t w = uint16_t(b[0] | b[1] << 8);
        if (w == 0xFFF0 || (w & 0x2000) || ((w >> 14) & 1) != channel) continue;
        for (int i = 8; i < 64; ++i) {
            const int v = b[i];
            if (last < 0) {
                last = lastValue = v;
                continue;
            }
            const bool edge = v != last;
            repeat = edge ? 0 : repeat + 1;
            const int d = edge ? v : 0;
            now += d > lastValue ? d - lastValue : d < lastValue ? d - lastValue + 256 : (repeat < 2 ? 0 : 256);
            last = v;
            lastValue = d;
            if (edge) ticks.push_back(now);
        }
    }
    if (endTick) *endTick = now;
    return ticks;
}

inline int CountBlocks(const Bytes& stream, bool vbus) {
    int n = 0;
    for (size_t at = 0; at + 64 <= stream.size(); at += 64) {
        const uint16_t w = uint16_t(stream[at] | stream[at + 1] << 8);
        if (w != 0xFFF0 && bool(w & 0x2000) == vbus) ++n;
    }
    return n;
}

// A converted stream behind the header block the importer writes, whose origin entry times the
// packets (the stream has no VBUS sample to do it), decoded as a file is. origin < 0: a header block
// without the entry, as every other writer makes it.
inline std::unique_ptr<CCaptureStore> DecodeImported(const Bytes& stream, int64_t origin = 0) {
    auto store = std::make_unique<CCaptureStore>();
    Bytes file(64);
    enc::WriteClosedHeaderBlock(file.data(), 0x0100, reinterpret_cast<const uint8_t*>("LOGICIMPORT1"), stream.size());
    if (origin >= 0) rec::AddCaptureOriginEntry(file.data(), origin);
    file.insert(file.end(), stream.begin(), stream.end());
    store->DecodeChunk(file.data(), file.size(), 0);
    return store;
}

inline Bytes MessageOf(const CCCPacket& p) {
    const int n = p.hasCrc ? p.messageByteCount + 4 : p.messageByteCount;
    return Bytes(p.messageBytes, p.messageBytes + std::max(0, n));
}

// Two messages at 10 MHz, one on each line (bits 0 and 1, channels CC1 and CC2), written as raw
// binary, CSV and VCD into dir; the transition sample numbers of each line come back too.
struct SmallCaptures {
    std::string bin, csv, vcd;
    std::vector<uint64_t> cc1, cc2;
    uint64_t rate = 10000000;
};

inline SmallCaptures WriteSmallCaptures(const TempDir& dir) {
    SmallCaptures c{dir.File("cap.bin"), dir.File("cap.csv"), dir.File("cap.vcd")};
    c.cc1 = MessageChanges(200.05, c.rate, {0xA1, 0x11, 0x2C, 0x91, 0x01, 0x26});
    c.cc2 = MessageChanges(700.02, c.rate, {0x82, 0x10, 0x2C, 0xB1, 0x04, 0x11});
    const uint64_t count = 30000;
    const Bytes samples = DrawSamples(count, {{0, c.cc1}, {1, c.cc2}});
    std::string csv = "CC1,CC2\n";
    std::string vcd = "$timescale 100 ns $end\n$scope module la $end\n$var wire 1 ! CC1 $end\n"
                      "$var wire 1 \" CC2 $end\n$upscope $end\n$enddefinitions $end\n#0\n0!\n0\"\n";
    for (uint64_t n = 0; n < count; ++n) {
        const int s = samples[n];
        csv += std::to_string(s & 1) + "," + std::to_string(s >> 1 & 1) + "\n";
        if (n > 0 && s != samples[n - 1]) {
            vcd += "#" + std::to_string(n) + "\n";
            if ((s ^ samples[n - 1]) & 1) vcd += std::to_string(s & 1) + "!\n";
            if ((s ^ samples[n - 1]) & 2) vcd += std::to_string(s >> 1 & 1) + "\"\n";
        }
    }
    vcd += "#" + std::to_string(count) + "\n";
    WriteFile(c.bin, samples);
    WriteFile(c.csv, Bytes(csv.begin(), csv.end()));
    WriteFile(c.vcd, Bytes(vcd.begin(), vcd.end()));
    return c;
}

// A session file as the capture library writes them: a zip archive of "metadata", "version" and the
// samples in "logic-1-1" (deflated, or stored as they are), made by Python's zipfile. false without
// python3.
inline bool WriteSession(const std::string& path, const std::string& metadata, const Bytes& logic,
                         bool deflate = true) {
    if (std::system("python3 -c 'import zipfile' >/dev/null 2>&1") != 0) return false;
    const TempDir dir;
    WriteFile(dir.File("metadata"), Bytes(metadata.begin(), metadata.end()));
    WriteFile(dir.File("logic"), logic);
    const std::string script = "import sys, zipfile\n"
                               "meta, logic, out, method = sys.argv[1:]\n"
                               "with zipfile.ZipFile(out, 'w', getattr(zipfile, method)) as z:\n"
                               "    z.writestr('metadata', open(meta).read())\n"
                               "    z.writestr('version', '2')\n"
                               "    z.writestr('logic-1-1', open(logic, 'rb').read())\n";
    const std::string py = dir.File("make.py");
    WriteFile(py, Bytes(script.begin(), script.end()));
    return std::system(("python3 " + py + " " + dir.File("metadata") + " " + dir.File("logic") + " " + path +
                        (deflate ? " ZIP_DEFLATED" : " ZIP_STORED")).c_str()) == 0;
}

// Where the stored (compressed) bytes of a zip archive's entry lie, from its local header; size 0 when
// the entry is missing.
inline size_t EntryData(const Bytes& zip, const std::string& name, size_t* size) {
    auto u16 = [&](size_t at) { return size_t(zip[at] | zip[at + 1] << 8); };
    for (size_t at = 0; at + 30 <= zip.size(); ++at) {
        if (zip[at] != 'P' || zip[at + 1] != 'K' || zip[at + 2] != 3 || zip[at + 3] != 4) continue;
        const size_t nameLen = u16(at + 26), data = at + 30 + nameLen + u16(at + 28);
        if (data > zip.size()) continue;
        if (std::string(zip.begin() + ptrdiff_t(at + 30), zip.begin() + ptrdiff_t(at + 30 + nameLen)) != name) continue;
        *size = u16(at + 18) | u16(at + 20) << 16;
        return data;
    }
    *size = 0;
    return 0;
}

} // namespace imptest
