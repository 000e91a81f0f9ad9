#include "ImportCommand.h"

#include "ImportModule.h"

#include <atomic>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <string>

namespace {

constexpr int kUsageError = 2;
constexpr int kInputError = 1;

// Ctrl+C or a termination request stops the import; the half-written file is removed, the output
// left as it was.
std::atomic<bool> stopRequested{false};
void RequestStop(int) { stopRequested = true; }

} // namespace

int ImportCommand(const ImportArgs& a) {
    if (a.clock < 0 || a.clock > 0xFFFF) {
        std::fprintf(stderr, "qxtool: --clock: a clock setting from 0 to 65535\n");
        return kUsageError;
    }
    if (!a.cc2.empty() && a.cc2 == a.cc1) {
        std::fprintf(stderr, "qxtool: --cc1 and --cc2 name the same channel\n");
        return kUsageError;
    }
    imp::ImportRequest r;
    r.input = a.file;
    r.output = a.out;
    r.cc1 = a.cc1;
    r.cc2 = a.cc2;
    r.clockSetting = uint16_t(a.clock);
    r.format = a.format;
    r.overwrite = a.overwrite;
    r.cancel = &stopRequested;
    // The library may go on for long in one call; a child process can be ended whatever it does.
    r.separateProcess = true;
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::string error;
    const imp::ImportModuleApi* module = imp::LoadImportModule(&error);
    if (!module) {
        std::fprintf(stderr, "qxtool: %s\n", error.c_str());
        return kInputError;
    }
    const imp::ImportReport rep = module->importCapture(r);
    if (!rep.ok) {
        std::fprintf(stderr, "qxtool: %s\n", rep.error.c_str());
        return kInputError;
    }
    std::printf("%s: %" PRIu64 " samples at %" PRIu64 " Hz (%s)\n", a.file.c_str(), rep.samples, rep.sampleRate,
                rep.format.c_str());
    for (int c = 0; c < 2; ++c) {
        if (rep.channelName[c].empty()) continue;
        const imp::ChannelTally& t = rep.tally[c];
        std::printf("CC%d from %s: %" PRIu64 " level changes, %" PRIu64 " transitions written", c + 1,
                    rep.channelName[c].c_str(), t.changes, t.written);
        if (t.cancelled) std::printf(", %" PRIu64 " dropped in pairs within one tick", t.cancelled);
        if (t.changes == 0) std::printf(" (never changes: no packets)");
        std::printf("\n");
    }
    if (rep.moved) std::printf("%" PRIu64 " transitions placed one tick early\n", rep.moved);
    std::printf("wrote %s (%" PRIu64 " bytes, clock setting %d)\n", a.out.c_str(), rep.bytes, a.clock);
    return 0;
}
