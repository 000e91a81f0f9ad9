#include "ExportWorker.h"

#include "CaptureStore.h"
#include "FileCopy.h"
#include "QXDoc.h"
#include "RecordEncoder.h"
#include "RecordFile.h"
#include "RecordRange.h"
#include "WholeFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

const char* const kExportValueTitles[kExportValueCount] = {"VBUS Voltage", "VBUS Current", "VBUS Wattage",
                                                           "CC1 Voltage",  "CC1 Current",  "CC2 Voltage",
                                                           "CC2 Current"};

namespace {

// The packet-list column that carries each of the seven values on a packet line.
constexpr int kValueColumns[kExportValueCount] = {kColumnVbusVoltage, kColumnVbusCurrent, kColumnVbusPower,
                                                  kColumnCc1Voltage,  kColumnCc1Current,  kColumnCc2Voltage,
                                                  kColumnCc2Current};

constexpr const char* kValueUnits[kExportValueCount] = {"[V]", "[A]", "[W]", "[V]", "[A]", "[V]", "[A]"};

bool IsAnalogColumn(int id) { return !kColumns[id].inCsv; }

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

bool EndsWithNoCase(const std::string& s, const char* tail) {
    const size_t n = std::char_traits<char>::length(tail);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
    return true;
}

const char* Extension(int exportType) { return exportType == kExportQxc ? ".qxc" : ".csv"; }

// A cell's text in double quotes. A double quote inside is doubled, so that column texts holding one
// (the ASCII bytes column can) still read back as one cell.
void AppendCell(std::string& line, const std::string& text) {
    line += ",\"";
    if (text.find('"') == std::string::npos) {
        line += text;
    } else {
        for (char c : text) {
            if (c == '"') line += '"';
            line += c;
        }
    }
    line += '"';
}

// Every column id in display order that the export writes, analog columns left out. Display
// positions 0..37 in turn; every id at a position counts, as for the packet's CSV cells.
std::vector<int> CsvColumns(const ExportOptions& o) {
    std::vector<int> ids;
    for (int position = 0; position < kColumnCount; ++position)
        for (int id = 0; id < kColumnCount; ++id) {
            if (o.columns.position[id] != position || (o.visibleColumnsOnly && !o.columns.visible[id])) continue;
            if (!IsAnalogColumn(id)) ids.push_back(id);
        }
    return ids;
}

void AppendTime(std::string& line, int64_t t) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, t);
    line += '"';
    line.append(buf, r.ptr);
    line += '"';
}

void AppendValue(std::string& line, float v, int decimals) {
    line += ",\"";
    AppendFixed(line, v, decimals);
    line += '"';
}

void AppendSampleValues(std::string& line, const CVbusInfo& s, const ExportOptions& o) {
    const auto amps = [&](int16_t mA) { return float(o.invertCurrent ? -int32_t(mA) : int32_t(mA)); };
    const float vbus = float(s.vbusVoltage);
    if (o.values[kVbusVoltage]) AppendValue(line, vbus / 1000.0f, 2);
    if (o.values[kVbusCurrent]) AppendValue(line, amps(s.vbusCurrent) / 1000.0f, 3);
    if (o.values[kVbusWattage]) AppendValue(line, amps(s.vbusCurrent) * vbus / 1000.0f / 1000.0f, 3);
    if (o.values[kCc1Voltage]) AppendValue(line, float(s.cc1Voltage) / 1000.0f, 2);
    if (o.values[kCc1Current]) AppendValue(line, amps(s.cc1Current) / 1000.0f, 3);
    if (o.values[kCc2Voltage]) AppendValue(line, float(s.cc2Voltage) / 1000.0f, 2);
    if (o.values[kCc2Current]) AppendValue(line, amps(s.cc2Current) / 1000.0f, 3);
}

// Lines are gathered and written in pieces, under a temporary name until the file is whole.
class CCsvOut {
public:
    CCsvOut() { buffer.reserve(kPiece + 4096); }
    bool Open(const std::string& path) { return file.Open(path); }
    std::string& Line() { return buffer; }
    // Ends the current line with CR LF.
    bool EndLine() {
        buffer += "\r\n";
        return buffer.size() < kPiece || Flush();
    }
    bool Flush() {
        const bool ok = file.Write(buffer.data(), buffer.size());
        buffer.clear();
        return ok;
    }
    bool Commit() { return Flush() && file.Commit(); }
    std::string Error() const { return file.Error(); }

private:
    static constexpr size_t kPiece = 1 << 20;
    CWholeFile file;
    std::string buffer;
};

constexpr const char* kExportStopped = "Export stopped; nothing was written.";

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

} // namespace

void AppendFixed(std::string& out, float v, int decimals) {
    const uint64_t scale = decimals == 2 ? 100 : 1000;
    const float a = std::fabs(v);
    int e = 0;
    const float m = std::frexp(a, &e); // a = m * 2^e, 0.5 <= m < 1
    const uint64_t mant = uint64_t(std::ldexp(m, 24));
    const int shift = 24 - e; // a = mant / 2^shift
    // Outside these bounds (tiny, huge, not finite) printf itself decides; no measured value gets there.
    if (!std::isfinite(v) || (decimals != 2 && decimals != 3) || shift < -20 || shift > 62) {
        char buf[64];
        std::snprintf(buf, sizeof buf, decimals == 2 ? "%.2f" : "%.3f", double(v));
        out += buf;
        return;
    }
    uint64_t q;
    if (shift <= 0) {
        q = (mant * scale) << -shift;
    } else {
        // The exact value times scale, rounded half to even like printf.
        const uint64_t prod = mant * scale;
        q = prod >> shift;
        const uint64_t rest = prod & ((uint64_t(1) << shift) - 1), half = uint64_t(1) << (shift - 1);
        if (rest > half || (rest == half && (q & 1))) ++q;
    }
    if (std::signbit(v)) out += '-';
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, q / scale);
    out.append(buf, r.ptr);
    out += '.';
    const uint64_t frac = q % scale;
    if (decimals == 3) out += char('0' + frac / 100);
    out += char('0' + frac / 10 % 10);
    out += char('0' + frac % 10);
}

void InsertMarkerEntry(std::vector<MarkerEntry>& entries, const MarkerEntry& e) {
    size_t at = 0;
    while (at < entries.size() && entries[at].time < e.time) ++at;
    if (at >= kMaxMarkerEntries) return;
    entries.insert(entries.begin() + std::ptrdiff_t(at), e);
    if (entries.size() > kMaxMarkerEntries) entries.pop_back();
}

std::string MarkerEntryText(const MarkerEntry& e) {
    static const char* const names[] = {"?", "A", "B", "O", "X"};
    const char* name = e.kind >= 1 && e.kind <= 4 ? names[e.kind] : names[0];
    return std::string("Marker ") + name + " (" + FormatTimeText(e.time) + ")";
}

std::vector<MarkerEntry> CollectMarkerEntries(const CCaptureStore& store, const IDocumentHooks* hooks) {
    std::vector<MarkerEntry> entries;
    if (store.markerAPacket) InsertMarkerEntry(entries, {1, store.DisplayTime(*store.markerAPacket)});
    if (store.markerBPacket) InsertMarkerEntry(entries, {2, store.DisplayTime(*store.markerBPacket)});
    int64_t o = 0, x = 0;
    if (hooks && hooks->GraphMarkers(&o, &x)) {
        InsertMarkerEntry(entries, {3, o});
        InsertMarkerEntry(entries, {4, x});
    }
    return entries;
}

std::string ExportFileName(const std::string& recordPath, int exportType) {
    std::string base = recordPath;
    if (base.size() > 4 && EndsWithNoCase(base, ".qxc")) base.resize(base.size() - 4);
    base += "_export";
    const std::string ext = Extension(exportType);
    if (!Exists(base + ext)) return base + ext;
    for (int n = 1; n < 10000; ++n) {
        const std::string name = base + " (" + std::to_string(n) + ")" + ext;
        if (!Exists(name)) return name;
    }
    return base + ext;
}

std::string FollowExtension(const std::string& name, int exportType) {
    const char* want = Extension(exportType);
    const char* other = Extension(exportType == kExportQxc ? kExportCsv : kExportQxc);
    if (EndsWithNoCase(name, want)) return name;
    if (EndsWithNoCase(name, other)) return name.substr(0, name.size() - 4) + want;
    return name + want;
}

bool CaptureTop(const CCaptureStore& store, int64_t* t) {
    const CVbusInfo* s = store.SampleAt(0);
    const CCCPacket* p = store.PacketAt(0);
    if (!s && !p) return false;
    *t = s && p ? std::min(store.DisplayTime(*s), store.DisplayTime(*p)) : s ? store.DisplayTime(*s) : store.DisplayTime(*p);
    return true;
}

bool CaptureEnd(const CCaptureStore& store, int64_t* t) {
    const CVbusInfo* s = store.SampleCount() ? store.SampleAt(store.SampleCount() - 1) : nullptr;
    const CCCPacket* p = store.PacketCount() ? store.PacketAt(store.PacketCount() - 1) : nullptr;
    if (!s && !p) return false;
    *t = s && p ? std::max(store.DisplayTime(*s), store.DisplayTime(*p)) : s ? store.DisplayTime(*s) : store.DisplayTime(*p);
    return true;
}

bool ResolveRange(const CCaptureStore& store, const std::vector<MarkerEntry>& markers, ExportOptions& o,
                  int64_t* start, int64_t* end) {
    const int64_t packets = int64_t(store.PacketCount());
    const auto marker = [&](int index, int64_t* t) {
        if (index < 0 || size_t(index) >= markers.size()) return false;
        *t = markers[size_t(index)].time;
        return true;
    };
    int64_t from = 0, to = 0;
    switch (o.fromKind) {
    case kRangeCapture:
        // Without samples a recorded file keeps no packets either; an imported capture has packets
        // only, and they span it.
        if (!CaptureTop(store, &from)) return false;
        break;
    case kRangeNumber:
        if (packets == 0 || o.fromNumber < 0 || o.fromNumber >= packets) return false;
        from = store.DisplayTime(*store.PacketAt(size_t(o.fromNumber)));
        break;
    case kRangeMarker:
        if (!marker(o.fromMarker, &from)) return false;
        break;
    default: return false;
    }
    switch (o.toKind) {
    case kRangeCapture:
        if (!CaptureEnd(store, &to)) return false;
        break;
    case kRangeNumber:
        if (packets == 0 || o.toNumber < 0) return false;
        if (o.toNumber >= packets) o.toNumber = packets - 1;
        to = store.DisplayTime(*store.PacketAt(size_t(o.toNumber)));
        break;
    case kRangeMarker:
        if (!marker(o.toMarker, &to)) return false;
        break;
    default: return false;
    }
    if (to < from) return false;
    *start = from;
    *end = to;
    return true;
}

std::string CsvHeaderLine(const ExportOptions& o) {
    std::string line = "\"Timestamp[us]\"";
    for (int v = 0; v < kExportValueCount; ++v)
        if (o.values[v]) {
            line += ",\"";
            line += kExportValueTitles[v];
            line += kValueUnits[v];
            line += '"';
        }
    if (o.exportItems != kItemsSamples)
        for (int id : CsvColumns(o)) AppendCell(line, kColumns[id].header);
    return line;
}

bool WriteCsv(const CCaptureStore& store, const ExportOptions& o, int64_t start, int64_t end, ToolFlags& flags) {
    if (SameFile(o.fileName, store.recordPath)) return Failed(flags, InputFileText(o.fileName));
    CCsvOut out;
    if (!out.Open(o.fileName)) return Failed(flags, out.Error());
    std::string& line = out.Line();
    line += CsvHeaderLine(o);
    if (!out.EndLine()) return Failed(flags, out.Error());

    const bool withSamples = o.exportItems != kItemsMessages, withPackets = o.exportItems != kItemsSamples;
    const size_t n = withSamples ? store.SampleCount() : 0, p = withPackets ? store.PacketCount() : 0;
    const std::vector<int> columns = CsvColumns(o);
    size_t si = 0, pi = 0;
    while (si < n || pi < p) {
        if (flags.abortRequest.load(std::memory_order_relaxed)) return Failed(flags, kExportStopped);
        // Progress counts samples; a capture without any counts its packets instead.
        const int percent = store.SampleCount() ? int(int64_t(si) * 100 / int64_t(store.SampleCount()))
                                                : int(int64_t(pi) * 100 / int64_t(std::max<size_t>(p, 1)));
        flags.progress.store(percent, std::memory_order_relaxed);
        const CVbusInfo* s = si < n ? store.SampleAt(si) : nullptr;
        const CCCPacket* pk = pi < p ? store.PacketAt(pi) : nullptr;
        if (s && (!pk || s->time < pk->startTime)) {
            ++si;
            const int64_t t = store.DisplayTime(*s);
            if (t < start || t > end) continue;
            AppendTime(line, t);
            AppendSampleValues(line, *s, o);
        } else {
            ++pi;
            const int64_t t = store.DisplayTime(*pk);
            if (t < start || t > end) continue;
            AppendTime(line, t);
            for (int v = 0; v < kExportValueCount; ++v)
                if (o.values[v]) AppendCell(line, pk->GetColumnText(kValueColumns[v], o.invertCurrent));
            for (int id : columns) AppendCell(line, pk->GetColumnText(id, o.invertCurrent));
        }
        if (!out.EndLine()) return Failed(flags, out.Error());
    }
    return out.Commit() || Failed(flags, out.Error());
}

bool WriteRecordRange(const CCaptureStore& store, const std::string& outPath, int64_t start, int64_t end,
                      ToolFlags& flags) {
    if (SameFile(outPath, store.recordPath)) return Failed(flags, InputFileText(outPath));
    RecordRangePlan plan;
    std::string reason;
    if (!PlanRecordRange(store, start, end, flags.abortRequest, &plan, &reason))
        return Failed(flags, flags.abortRequest.load(std::memory_order_relaxed) ? kExportStopped : reason);
    File in(OpenUnbuffered(store.recordPath.c_str(), "rb"), &std::fclose);
    uint8_t source[rec::kBlockSize] = {}, header[rec::kBlockSize];
    if (!in || std::fread(source, 1, sizeof source, in.get()) != sizeof source ||
        fseeko(in.get(), off_t(plan.first), SEEK_SET) != 0)
        return Failed(flags, CannotReadText(store.recordPath));
    CWholeFile out;
    if (!out.Open(outPath)) return Failed(flags, out.Error());
    CopyProgress progress{0, plan.last - plan.first + 1};
    rec::WriteTakenHeaderBlock(header, source, uint64_t(progress.total), plan.captureOrigin);
    if (!out.Write(header, sizeof header)) return Failed(flags, out.Error());
    std::vector<char> buffer(kCopyPiece);
    switch (CopyPieces(in.get(), out, progress.total, buffer, progress, flags)) {
    case CopyEnd::Copied: break;
    case CopyEnd::Aborted: return Failed(flags, kExportStopped);
    case CopyEnd::WriteFailed: return Failed(flags, out.Error());
    case CopyEnd::InputEnded:
        return Failed(flags, std::ferror(in.get()) ? CannotReadText(store.recordPath)
                                                   : store.recordPath + ": ends before the range does");
    }
    // Saved marks after the blocks are read last, so marks of the record file that lie among them
    // give way to the copy's own.
    enc::CMarkerBlockWriter marks;
    marks.AddTime(5, plan.timeOrigin);
    marks.AddClear();
    for (const RecordRangePlan::Mark& m : plan.marks) marks.AddTime(m.type, m.time);
    const std::vector<uint8_t> blocks = marks.Blocks();
    if (!out.Write(blocks.data(), blocks.size())) return Failed(flags, out.Error());
    return out.Commit() || Failed(flags, out.Error());
}

bool RunExport(const CCaptureStore& store, const ExportOptions& o, int64_t start, int64_t end, ToolFlags& flags) {
    return o.exportType == kExportQxc ? WriteRecordRange(store, o.fileName, start, end, flags)
                                      : WriteCsv(store, o, start, end, flags);
}
