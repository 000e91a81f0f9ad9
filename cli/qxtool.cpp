// qxtool: the headless companion of Ambrio. Decodes record files and lists what they hold, exports
// ranges of them and stitches numbered series, writes generated captures from traffic scenarios, imports
// logic-analyzer captures of the CC lines, and records from an analyzer, real or emulated.
#include "AnalysisCommands.h"
#include "ImportCommand.h"
#include "CaptureStore.h"
#include "EmulatedAnalyzer.h"
#include "FlowCommand.h"
#include "LibusbLink.h"
#include "MessageTypes.h"
#include "PacketTexts.h"
#include "QXDoc.h"
#include "RecordFile.h"
#include "RecordSession.h"
#include "StopSignals.h"
#include "TextCommands.h"
#include "ToolCommands.h"
#include "RecordStream.h"
#include "Scenario.h"
#include "Synthesizer.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

namespace {

// Exit statuses: a command line that is wrong in itself, and input that cannot be used.
constexpr int kUsageError = 2;
constexpr int kInputError = 1;

using OpenedFile = rec::RecordFileHead;

// --tolerant of the commands that decode: packets the bit recovery rules reject get a second chance.
bool tolerantBits = false;

// Checks and decodes a record file; a file shorter than its header block says is decoded as far as
// it goes, with a warning.
bool OpenAndDecode(CQXDoc& doc, const std::string& path, OpenedFile* file) {
    std::string reason;
    if (!rec::CheckRecordFile(path, file, &reason)) {
        std::fprintf(stderr, "qxtool: %s: %s\n", path.c_str(), reason.c_str());
        return false;
    }
    doc.store.tolerantBits = tolerantBits;
    if (!doc.OpenDocument(path)) {
        std::fprintf(stderr, "qxtool: %s: cannot be opened\n", path.c_str());
        return false;
    }
    if (const int64_t missing = rec::MissingBytes(*file); missing > 0)
        std::fprintf(stderr, "qxtool: warning: %s: %s\n", path.c_str(),
                     rec::MissingBytesText(missing, rec::HeaderBytesWritten(*file)).c_str());
    return true;
}

int ListPackets(const std::string& path) {
    CQXDoc doc;
    OpenedFile file;
    if (!OpenAndDecode(doc, path, &file)) return kInputError;
    const CCaptureStore& store = doc.store;
    std::string line;
    std::printf("Number\tChannel\tTime[us]\tOrdered Set\tCRC\tMessage Type\tBytes\n");
    char buf[64];
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        line.clear();
        std::snprintf(buf, sizeof buf, "%d\tCC%d\t%" PRId64 "\t", p.index, p.channel + 1, store.DisplayTime(p));
        line += buf;
        line += p.preambleFound ? p.GetColumnText(kColumnOrderedSet, false) : "-";
        line += '\t';
        line += !p.hasCrc ? "-" : p.crcGood ? "good" : "bad";
        line += '\t';
        line += p.GetMessageTypeText();
        line += '\t';
        for (int32_t k = 0; k < p.messageByteCount; ++k) {
            std::snprintf(buf, sizeof buf, k ? " %02X" : "%02X", p.messageBytes[k]);
            line += buf;
        }
        line += '\n';
        std::fputs(line.c_str(), stdout);
    }
    return 0;
}

int ListColumns(const std::string& path, const std::string& list, bool invertCurrent) {
    std::vector<int> ids;
    std::string unknown;
    if (!ParseColumnList(list, &ids, &unknown)) {
        std::fprintf(stderr, "qxtool: unknown column: %s (qxtool packets --help lists them)\n", unknown.c_str());
        return kUsageError;
    }
    CQXDoc doc;
    OpenedFile file;
    if (!OpenAndDecode(doc, path, &file)) return kInputError;
    PrintColumns(doc.store, ids, invertCurrent);
    return 0;
}

int ListFields(const std::string& path, int64_t packet, bool blockView, const std::string& range) {
    BitRange bits;
    if (!ParseBitRange(range, &bits)) {
        std::fprintf(stderr, "qxtool: --range must be START:LENGTH in bits\n");
        return kUsageError;
    }
    CQXDoc doc;
    OpenedFile file;
    if (!OpenAndDecode(doc, path, &file)) return kInputError;
    std::string error;
    if (!PrintFields(doc.store, packet, blockView, bits, &error)) {
        std::fprintf(stderr, "qxtool: %s\n", error.c_str());
        return kInputError;
    }
    return 0;
}

void PrintHeaderBlock(const std::vector<uint8_t>& head) {
    if (head.size() < size_t(rec::kBlockSize) || rec::ClassifyBlock(head.data()) != rec::BlockKind::Marker) {
        std::printf("Header block\tnone\n");
        return;
    }
    bool any = false;
    rec::ForEachMarkerEntry(head.data(), [&](const rec::MarkerEntry& e) {
        if (e.type == 2 && e.length >= 2) {
            const uint16_t v = rec::ReadU16(e.value);
            std::printf("Firmware version\t%X.%02X\n", v >> 8, v & 0xFF);
            any = true;
        } else if (e.type == 3) {
            // Serial bytes are stored least significant first; the serial text reads them backwards.
            std::string serial;
            char hex[4];
            for (int k = e.length - 1; k >= 0; --k) {
                std::snprintf(hex, sizeof hex, "%02X", e.value[k]);
                serial += hex;
            }
            std::printf("Serial\t%s\n", serial.c_str());
            any = true;
        } else if (e.type == 4 && e.length >= 8) {
            std::printf("Bytes written\t%" PRIu64 "\n", rec::ReadU64(e.value));
            any = true;
        }
        return true;
    });
    if (!any) std::printf("Header block\topen (the recording was not closed)\n");
}

int ShowInfo(const std::string& path) {
    CQXDoc doc;
    OpenedFile file;
    if (!OpenAndDecode(doc, path, &file)) return kInputError;
    const CCaptureStore& s = doc.store;
    std::printf("File\t%s\n", path.c_str());
    std::printf("File size\t%" PRId64 "\n", file.size);
    std::printf("Decoded bytes\t%" PRId64 "\n", s.decodePosition);
    std::printf("Samples\t%zu\n", s.SampleCount());
    std::printf("Packets\t%zu\n", s.PacketCount());
    // The capture origin is a time stamp of the analyzer; every other time counts from it.
    std::printf("Capture origin [us, analyzer clock]\t%" PRId64 "\n", s.captureOrigin);
    if (s.SampleCount() > 0)
        std::printf("Last sample [us since capture origin]\t%" PRId64 "\n", s.SampleAt(s.SampleCount() - 1)->time);
    std::printf("Time origin [us since capture origin]\t%" PRId64 "\n", s.timeOrigin);
    PrintHeaderBlock(file.head);

    const CaptureTallies& t = s.tallies;
    std::printf("Tallies\tall %u, CC1 %u, CC2 %u, no preamble %u, bad CRC %u, no EOP %u, UI out of range %u\n",
                t.all, t.cc1, t.cc2, t.noPreamble, t.badCrc, t.noEop, t.uiOutOfRange);
    std::printf("Ordered sets\tSOP %u, SOP' %u, SOP'' %u, Hard Reset %u, Cable Reset %u, SOP'_Debug %u, "
                "SOP''_Debug %u, other %u\n",
                t.sop, t.sopPrime, t.sopDoublePrime, t.hardReset, t.cableReset, t.sopPrimeDebug,
                t.sopDoublePrimeDebug, t.otherKind);
    std::printf("SOP roles\tSource %u, Sink %u, DFP %u, UFP %u\n", t.sopFromSource, t.sopFromSink, t.sopFromDfp,
                t.sopFromUfp);
    // "1 GoodCRC: 54, 3 Accept: 5"; a code without a name stands alone.
    auto byType = [](const char* label, MessageFamily family, const uint32_t (&counts)[32]) {
        std::string text;
        for (int i = 0; i < 32; ++i)
            if (counts[i]) {
                const MessageTypeInfo* m = FindMessageType(family, i);
                text += (text.empty() ? "" : ", ") + std::to_string(i) + (m ? std::string(" ") + m->name : "") +
                        ": " + std::to_string(counts[i]);
            }
        std::printf("%s\t%s\n", label, text.empty() ? "-" : text.c_str());
    };
    byType("Control messages by type", MessageFamily::Control, t.controlByType);
    byType("Data messages by type", MessageFamily::Data, t.dataByType);
    byType("Extended messages by type", MessageFamily::Extended, t.extendedByType);

    const CaptureExtremes& x = s.extremes;
    std::printf("Max voltage [mV]\t%d\n", x.maxVoltage);
    std::printf("Current [mA]\tmin %d, max %d\n", x.minCurrent, x.maxCurrent);
    std::printf("Power [mW]\tmin %d, max %d\n", x.minPower, x.maxPower);
    std::printf("Max VBUS power [mW]\t%d at %d mV, %d mA\n", x.maxVbusPower, x.maxVbusPowerVoltage,
                x.maxVbusPowerCurrent);
    std::printf("Min VBUS power [mW]\t%d at %d mV, %d mA\n", x.minVbusPower, x.minVbusPowerVoltage,
                x.minVbusPowerCurrent);

    std::printf("Marker A\t%s\n", s.markerAPacket ? std::to_string(s.markerAPacket->index).c_str() : "-");
    std::printf("Marker B\t%s\n", s.markerBPacket ? std::to_string(s.markerBPacket->index).c_str() : "-");
    std::string bookmarks;
    for (size_t i = 0; i < s.PacketCount(); ++i)
        if (s.PacketAt(i)->bookmarked) bookmarks += (bookmarks.empty() ? "" : " ") + std::to_string(i);
    std::printf("Bookmarks\t%s\n", bookmarks.empty() ? "-" : bookmarks.c_str());
    // Saved graph markers are capture-relative (the graph adds the time origin when it saves them).
    std::printf("Graph marker O [us since capture origin]\t%s\n",
                s.loadedGraphO >= 0 ? std::to_string(s.loadedGraphO).c_str() : "-");
    std::printf("Graph marker X [us since capture origin]\t%s\n",
                s.loadedGraphX >= 0 ? std::to_string(s.loadedGraphX).c_str() : "-");
    return 0;
}

int Synthesize(const std::string& name, const std::string& out, double seconds, uint16_t clockSetting,
               uint32_t seed, double highStretch, bool list) {
    if (list) {
        for (const std::string& n : synth::BuiltinScenarioNames()) {
            synth::Scenario sc;
            synth::BuiltinScenario(n, &sc);
            std::printf("%s\t%g s\t%s\n", n.c_str(), sc.seconds, sc.description.c_str());
        }
        return 0;
    }
    if (name.empty() || out.empty()) {
        std::fprintf(stderr, "qxtool: synth needs a scenario and -o OUT.qxc\n");
        return kUsageError;
    }
    if (!synth::ClockSettingCarriesBmc(clockSetting)) {
        std::fprintf(stderr,
                     "qxtool: clock setting %u: divisor %d is too coarse for BMC traffic (at most %d)\n",
                     unsigned(clockSetting), rec::ClockDivisor(clockSetting), synth::kMaxBmcDivisor);
        return kUsageError;
    }
    synth::Scenario sc;
    std::string error;
    if (!FindScenario(name, &sc, &error)) {
        std::fprintf(stderr, "qxtool: %s\n", error.c_str());
        return 1;
    }
    synth::SynthOptions options;
    options.seconds = seconds;
    options.clockSetting = clockSetting;
    options.seed = seed;
    options.highStretch = highStretch;
    if (!synth::WriteScenarioFile(out, sc, options, &error)) {
        std::fprintf(stderr, "qxtool: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

// Puts "qxtool: " before every line written through it, so that the recording session's messages read
// like the tool's own.
class CPrefixedLines : public std::streambuf {
public:
    explicit CPrefixedLines(std::ostream& to) : to(to) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        if (atLineStart) to << "qxtool: ";
        to.put(traits_type::to_char_type(c));
        atLineStart = traits_type::to_char_type(c) == '\n';
        if (atLineStart) to.flush();
        return c;
    }

private:
    std::ostream& to;
    bool atLineStart = true;
};

struct RecordArgs {
    bool emulate = false;
    std::string scenario; // empty: the default scenario
    RecordSessionOptions session;
    // Emulated analyzer only: the analyzer's clock, the timer and the length of the recording run this
    // much faster.
    double speed = 1;
};

int Record(RecordArgs args) {
    std::unique_ptr<IAnalyzerLink> link;
    if (args.emulate) {
        synth::Scenario sc;
        std::string error;
        if (!FindScenario(args.scenario.empty() ? "demo" : args.scenario, &sc, &error)) {
            std::fprintf(stderr, "qxtool: %s\n", error.c_str());
            return 1;
        }
        EmulatorOptions eo;
        eo.speed = args.speed;
        link = std::make_unique<CEmulatedAnalyzer>(sc, eo);
        args.session.tickMs = std::max<uint32_t>(1, uint32_t(1000 / args.speed));
        args.session.seconds /= args.speed;
    } else {
        link = std::make_unique<CLibusbLink>();
    }

    // Stopped by a signal, the recording ends cleanly and its file gets its header block; an output
    // nobody reads any more loses the status lines, not the recording.
    const std::atomic<bool>& stop = InstallStopSignals();
    CPrefixedLines prefixed(std::cerr);
    std::ostream err(&prefixed);
    const RecordSessionResult r = RunRecordSession(*link, args.session, stop, std::cout, err);
    for (const std::string& file : r.files) std::cout << "Record file\t" << file << '\n';
    std::cout.flush();
    return r.exitCode;
}

// A decimal number from 1 to max, digits only, as udev passes $attr{busnum} and $attr{devnum}.
bool ParseDeviceNumber(const std::string& text, int max, int* value) {
    if (text.empty() || text.size() > 3) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > max) return false;
    *value = v;
    return true;
}

// For udev's IMPORT{program}: the property line when the device is an analyzer, otherwise no output and
// status 1, whatever went wrong.
int UdevProbe(const std::string& busText, const std::string& addressText) {
    int bus = 0, address = 0;
    if (!ParseDeviceNumber(busText, 255, &bus) || !ParseDeviceNumber(addressText, 127, &address)) return 1;
    if (!IsAnalyzerAt(bus, address)) return 1;
    std::fputs("AMBRIO_ANALYZER=1\n", stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// summary and check: the analysis of the whole file. check's status says whether a finding reached the
// severity asked for.
constexpr int kFindingsFound = 2;

struct AnalysisArgs {
    std::string file;
    bool json = false;
    std::string rules;
    std::string severity = "warning";
    std::vector<std::string> limits; // KEY=VALUE
};

int AnalysisCommand(const AnalysisArgs& a, bool check) {
    std::vector<analysis::RuleId> rules;
    std::string unknown;
    if (!ParseRuleList(a.rules, &rules, &unknown)) {
        std::fprintf(stderr, "qxtool: unknown rule: %s (qxtool check --help lists them)\n", unknown.c_str());
        return kInputError;
    }
    analysis::Severity threshold;
    if (!analysis::ParseSeverity(a.severity, &threshold)) {
        std::fprintf(stderr, "qxtool: --severity must be info, warning or error\n");
        return kInputError;
    }
    analysis::CLimits limits;
    for (const std::string& kv : a.limits) {
        const size_t eq = kv.find('=');
        if (eq == std::string::npos || !limits.Set(kv.substr(0, eq), kv.substr(eq + 1))) {
            std::fprintf(stderr, "qxtool: --limit %s: not a known limit set to a number (see --help)\n", kv.c_str());
            return kInputError;
        }
    }
    CQXDoc doc;
    OpenedFile file;
    if (!OpenAndDecode(doc, a.file, &file)) return kInputError;
    const analysis::Results results = analysis::Analyze(doc.store, limits);
    if (!check) {
        PrintSummary(doc.store, results, a.json);
        return 0;
    }
    return PrintFindings(doc.store, results, rules, threshold, a.json) > 0 ? kFindingsFound : 0;
}

int JsonCommand(const std::string& path, const std::function<int(CQXDoc&, const OpenedFile&)>& print) {
    CQXDoc doc;
    OpenedFile file;
    if (!OpenAndDecode(doc, path, &file)) return kInputError;
    return print(doc, file);
}

// The column ids and headers, two columns of them, for the help of `packets`.
std::string ColumnHelp() {
    std::string text = "Columns for --columns, by id or header, comma-separated; \"all\" is every column in id "
                       "order, \"default\" the columns shown by default:\n";
    const int rows = (kColumnCount + 1) / 2;
    char cell[64];
    for (int row = 0; row < rows; ++row) {
        std::snprintf(cell, sizeof cell, "  %2d %-22s", row, kColumns[row].header);
        std::string line = cell;
        if (row + rows < kColumnCount) {
            std::snprintf(cell, sizeof cell, "  %2d %s", row + rows, kColumns[row + rows].header);
            line += cell;
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + '\n';
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"qxtool: decode and list USB PD record files (.qxc)"};
    app.require_subcommand(1);

    std::string packetsFile, columns;
    bool invertCurrent = false;
    auto* packets = app.add_subcommand("packets", "List the decoded packets of a record file");
    packets->add_option("FILE", packetsFile, "Record file")->required();
    packets->add_option("--columns", columns,
                        "Packet-list columns to print, by id or header, comma-separated; \"all\" for every "
                        "column, \"default\" for the columns shown by default (listed below)");
    packets->footer(ColumnHelp());
    packets->add_flag("--invert-current", invertCurrent, "Count VBUS current positive from receptacle to plug");
    bool packetsJson = false;
    packets->add_flag("--json", packetsJson, "JSON Lines: one object per packet");

    std::string fieldsFile, range;
    int64_t fieldsPacket = 0;
    bool blockView = false;
    auto* fields = app.add_subcommand("fields", "Print the field table of one packet");
    fields->add_option("FILE", fieldsFile, "Record file")->required();
    fields->add_option("N", fieldsPacket, "Packet number")->required();
    fields->add_flag("--block", blockView, "The extended message's data block instead of the message bytes");
    fields->add_option("--range", range, "START:LENGTH in bits (default: the whole message or block)");
    bool fieldsJson = false;
    fields->add_flag("--json", fieldsJson, "JSON Lines: one object per field row");

    std::string infoFile;
    auto* info = app.add_subcommand("info", "Summarise a record file");
    info->add_option("FILE", infoFile, "Record file")->required();
    bool infoJson = false;
    info->add_flag("--json", infoJson, "One JSON object");

    AnalysisArgs summaryArgs, checkArgs;
    auto* summaryCmd = app.add_subcommand(
        "summary", "What the ports agreed on: offers, requests, contracts, cable, modes, resets, swaps");
    summaryCmd->add_option("FILE", summaryArgs.file, "Record file")->required();
    summaryCmd->add_flag("--json", summaryArgs.json, "JSON Lines: one object per connection");
    summaryCmd->add_option("--limit", summaryArgs.limits, "Override a limit: KEY=VALUE (see qxtool check --help)");
    auto* checkCmd = app.add_subcommand(
        "check", "Timing and electrical rule findings; exit status 2 when one reaches --severity");
    checkCmd->add_option("FILE", checkArgs.file, "Record file")->required();
    checkCmd->add_flag("--json", checkArgs.json, "JSON Lines: one object per finding");
    checkCmd->add_option("--rules", checkArgs.rules, "Rules to check, comma-separated (default: all)");
    checkCmd->add_option("--severity", checkArgs.severity,
                         "Lowest severity that sets exit status 2: info, warning or error")
        ->capture_default_str();
    checkCmd->add_option("--limit", checkArgs.limits, "Override a limit: KEY=VALUE (listed below)");
    checkCmd->footer(RuleHelp());

    FlowArgs flowArgs;
    auto* flowCmd = app.add_subcommand("flow", "Exchanges and transactions, or the sequence diagram as SVG");
    flowCmd->add_option("FILE", flowArgs.file, "Record file")->required();
    flowCmd->add_flag("--json", flowArgs.json, "JSON Lines: one object per exchange");
    flowCmd->add_option("--from", flowArgs.from, "First packet number (default: the capture's top)")
        ->check(CLI::NonNegativeNumber);
    flowCmd->add_option("--to", flowArgs.to, "Last packet number (default: the capture's end)")
        ->check(CLI::NonNegativeNumber);
    flowCmd->add_option("--svg", flowArgs.svg, "Write the sequence diagram to this SVG file instead");
    flowCmd->add_flag("--overwrite", flowArgs.overwrite, "Replace an existing SVG file");

    std::string scenario, synthOut;
    double seconds = 0;
    uint16_t clockSetting = 0;
    uint32_t seed = 1;
    bool listScenarios = false;
    auto* synthCmd = app.add_subcommand("synth", "Write a generated capture from a traffic scenario");
    synthCmd->add_option("SCENARIO", scenario, "Built-in scenario (see --list) or a JSON scenario file");
    synthCmd->add_option("-o,--output", synthOut, "Record file to write");
    synthCmd->add_option("--seconds", seconds, "Length of the capture (default: the scenario's own)")
        ->check(CLI::Range(0.01, 86400.0));
    synthCmd->add_option("--clock", clockSetting, "Clock setting of the CC edge blocks (0 = divisor 20)");
    synthCmd->add_option("--seed", seed, "Seed of the timing, jitter and analog noise");
    double highStretch = 0;
    synthCmd
        ->add_option("--high-stretch", highStretch,
                     "Microseconds by which high half-bits outlast low ones, as a logic analyzer may see the "
                     "CC line (default 0)")
        ->check(CLI::Range(0.0, 1.5));
    synthCmd->add_flag("--list", listScenarios, "List the built-in scenarios");

    RecordArgs rec;
    auto* recordCmd =
        app.add_subcommand("record", "Record from the analyzer until stopped (Ctrl+C) or for a time");
    auto* emulateOpt =
        recordCmd
            ->add_option(
                "--emulate", rec.scenario,
                "Record from an emulated analyzer playing a built-in scenario or a JSON scenario file "
                "(default: demo)")
            ->expected(0, 1);
    recordCmd
        ->add_option("--seconds", rec.session.seconds,
                     "Length of the recording in seconds (default, or 0: until Ctrl+C)")
        ->check(CLI::NonNegativeNumber);
    recordCmd->add_option("--folder", rec.session.folder, "Record folder (default: the current folder)");
    recordCmd->add_option("--caption", rec.session.caption, "First part of the record file names")
        ->capture_default_str();
    recordCmd->add_flag("--timestamp", rec.session.appendTimestamp,
                        "Append the start time to the file names");
    recordCmd->add_flag("--multi", rec.session.multiFile,
                        "A numbered series of files (_0001, _0002, ...) instead of one");
    recordCmd->add_flag("--overwrite", rec.session.overwrite,
                        "Replace record files of an earlier recording under the same names");
    recordCmd->add_option("--max-file-size", rec.session.maxFileSizeMB, "Size limit of a record file in MB")
        ->capture_default_str()
        ->check(CLI::Range(1, 9999));
    recordCmd
        ->add_option("--interval", rec.session.samplingIntervalMs,
                     "VBUS sampling interval sent to the analyzer in ms (0 sends none)")
        ->capture_default_str();
    recordCmd
        ->add_option("--speed", rec.speed,
                     "With --emulate: the emulated analyzer, the timer and --seconds run this many times "
                     "faster (default 1)")
        ->check(CLI::Range(0.01, 1000.0));

    ExportArgs exportArgs;
    auto* exportCmd = app.add_subcommand("export", "Export a range of a record file as CSV or as a record file");
    exportCmd->add_option("FILE", exportArgs.file, "Record file")->required();
    exportCmd->add_option("-o,--output", exportArgs.out, "File to write")->required();
    exportCmd->add_flag("--csv", exportArgs.csv, "CSV text of PD messages and/or voltage and current samples");
    exportCmd->add_flag("--qxc", exportArgs.qxc, "A record file holding the record blocks of the range");
    exportCmd->add_option("--from", exportArgs.from,
                          "Start of the range: a packet number or a saved marker A, B, O or X (default: the "
                          "capture's top)");
    exportCmd->add_option("--to", exportArgs.to,
                          "End of the range: a packet number or a saved marker A, B, O or X (default: the "
                          "capture's end)");
    exportCmd->add_option("--items", exportArgs.items,
                          "What the CSV holds: messages, samples or both (default: both, samples without "
                          "PD messages)");
    exportCmd->add_flag("--all-columns", exportArgs.allColumns,
                        "Every packet-list column, not only those shown by default");
    exportCmd->add_flag("--invert-current", exportArgs.invertCurrent,
                        "Count VBUS current positive from receptacle to plug");
    exportCmd->add_flag("--overwrite", exportArgs.overwrite, "Replace an existing output file");

    StitchArgs stitchArgs;
    auto* stitchCmd =
        app.add_subcommand("stitch", "Join a record file of a numbered series with the files that follow it");
    stitchCmd->add_option("BASE", stitchArgs.base, "First file to join, named like rec_0001.qxc")->required();
    stitchCmd->add_option("-o,--output", stitchArgs.out,
                          "File to write (default: Stitched_<base>-<last number>.qxc beside the base)");
    stitchCmd->add_option("--last", stitchArgs.last, "Number of the last file to join (default: all that follow)")
        ->check(CLI::Range(1, 9999));
    stitchCmd->add_flag("--overwrite", stitchArgs.overwrite, "Replace an existing output file");
    stitchCmd->footer(
        "Only files of one recording are joined: each must continue the one before it (the analyzer's clock\n"
        "and CC block numbering run on across the join). A file that does not, such as one left by an older,\n"
        "longer recording under the same name, ends the stitch there: without --last the files before it are\n"
        "joined and a note on stderr names it and says why; with a --last that reaches it nothing is written\n"
        "and the exit status is 1. A failed stitch leaves no output file behind.\n");

    ImportArgs importArgs;
    auto* importCmd =
        app.add_subcommand("import", "Write a record file from a logic-analyzer capture of the CC lines");
    importCmd->add_option("FILE", importArgs.file, "Logic capture: a session file, VCD, CSV, raw binary, ...")
        ->required();
    importCmd->add_option("-o,--output", importArgs.out, "Record file to write")->required();
    importCmd->add_option("--cc1", importArgs.cc1, "Name of the logic channel that carries CC1")->required();
    importCmd->add_option("--cc2", importArgs.cc2, "Name of the logic channel that carries CC2");
    importCmd->add_option("--clock", importArgs.clock, "Clock setting of the edge blocks (default 0: 2.4 MHz ticks)");
    importCmd->add_option("--format", importArgs.format,
                          "Input format and options, as binary:samplerate=6M (default: found from the file)");
    importCmd->add_flag("--overwrite", importArgs.overwrite, "Replace an existing output file");

    std::string udevBus, udevAddress;
    auto* udevProbe = app.add_subcommand(
        "udev-probe", "For the udev rule: print AMBRIO_ANALYZER=1 when a USB device is an analyzer");
    udevProbe->add_option("BUSNUM", udevBus, "Bus number of the USB device");
    udevProbe->add_option("DEVNUM", udevAddress, "Device address of the USB device");
    // Missing, extra or malformed arguments end in status 1 without output, like any other "no".
    udevProbe->allow_extras();

    // Every command that decodes takes --tolerant.
    const char* tolerantHelp = "Give packets that the bit recovery rules reject a second chance: a short or "
                               "missing preamble, stretched high half-bits; a message counts only when its "
                               "CRC checks";
    for (CLI::App* cmd : {packets, fields, info, summaryCmd, checkCmd, flowCmd})
        cmd->add_flag("--tolerant", tolerantBits, tolerantHelp);
    exportCmd->add_flag("--tolerant", exportArgs.tolerant, tolerantHelp);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e); // --help
        // The first word that is no option names the command; the tool itself takes no other words.
        if (app.get_subcommands().empty()) {
            for (int i = 1; i < argc; ++i) {
                if (argv[i][0] == '-') continue;
                std::string commands;
                for (const CLI::App* sub : app.get_subcommands({}))
                    commands += (commands.empty() ? "" : ", ") + sub->get_name();
                std::fprintf(stderr, "qxtool: %s is not a command; the commands are %s (see qxtool --help)\n",
                             argv[i], commands.c_str());
                return kUsageError;
            }
        }
        std::string what = e.what();
        std::replace(what.begin(), what.end(), '\n', ' ');
        std::string help = "qxtool";
        for (const CLI::App* sub : app.get_subcommands()) help += " " + sub->get_name();
        std::fprintf(stderr, "qxtool: %s (see %s --help)\n", what.c_str(), help.c_str());
        return kUsageError;
    }

    if (*udevProbe) return udevProbe->remaining().empty() ? UdevProbe(udevBus, udevAddress) : 1;

    if (*recordCmd) {
        rec.emulate = emulateOpt->count() > 0;
        if (!rec.emulate && rec.speed != 1) {
            std::fprintf(stderr, "qxtool: --speed needs --emulate\n");
            return kUsageError;
        }
        return Record(rec);
    }
    if (*exportCmd) return ExportCommand(exportArgs);
    if (*stitchCmd) return StitchCommand(stitchArgs);
    if (*importCmd) return ImportCommand(importArgs);
    if (*synthCmd) return Synthesize(scenario, synthOut, seconds, clockSetting, seed, highStretch, listScenarios);
    if (*summaryCmd) return AnalysisCommand(summaryArgs, false);
    if (*checkCmd) return AnalysisCommand(checkArgs, true);
    if (*flowCmd)
        return FlowCommand(flowArgs, [&](CQXDoc& doc) {
            OpenedFile file;
            return OpenAndDecode(doc, flowArgs.file, &file);
        });
    if (*packets && packetsJson) {
        std::vector<int> ids;
        std::string unknown;
        if (!columns.empty() && !ParseColumnList(columns, &ids, &unknown)) {
            std::fprintf(stderr, "qxtool: unknown column: %s (qxtool packets --help lists them)\n", unknown.c_str());
            return kUsageError;
        }
        return JsonCommand(packetsFile, [&](CQXDoc& doc, const OpenedFile&) {
            PrintPacketsJson(doc.store, ids, invertCurrent);
            return 0;
        });
    }
    if (*fields && fieldsJson) {
        BitRange bits;
        if (!ParseBitRange(range, &bits)) {
            std::fprintf(stderr, "qxtool: --range must be START:LENGTH in bits\n");
            return kUsageError;
        }
        return JsonCommand(fieldsFile, [&](CQXDoc& doc, const OpenedFile&) {
            std::string error;
            if (PrintFieldsJson(doc.store, fieldsPacket, blockView, bits, &error)) return 0;
            std::fprintf(stderr, "qxtool: %s\n", error.c_str());
            return kInputError;
        });
    }
    if (*info && infoJson)
        return JsonCommand(infoFile, [&](CQXDoc& doc, const OpenedFile& file) {
            PrintInfoJson(doc.store, {infoFile, file.size, &file.head});
            return 0;
        });
    if (*packets) return columns.empty() ? ListPackets(packetsFile) : ListColumns(packetsFile, columns, invertCurrent);
    if (*fields) return ListFields(fieldsFile, fieldsPacket, blockView, range);
    if (*info) return ShowInfo(infoFile);
    return 1;
}
