// Export of a time range of the open capture: as CSV text of PD messages and/or voltage and current
// samples, or as a record file holding the raw blocks of that range. Toolkit-free; the dialog and
// qxtool both run it through CToolWorker.
#pragma once

#include "PacketTexts.h"
#include "ToolWorker.h"

#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;
class IDocumentHooks;

enum ExportType { kExportCsv = 0, kExportQxc = 1 };
enum ExportItems { kItemsMessages = 0, kItemsSamples = 1, kItemsBoth = 2 };
// How a range end is given: the capture's own top or end, a packet number, or a marker entry.
enum RangeKind { kRangeCapture = 0, kRangeNumber = 1, kRangeMarker = 2 };

// The seven voltage/current values, in the order of their CSV columns.
enum ExportValue { kVbusVoltage, kVbusCurrent, kVbusWattage, kCc1Voltage, kCc1Current, kCc2Voltage, kCc2Current };
constexpr int kExportValueCount = 7;
extern const char* const kExportValueTitles[kExportValueCount]; // "VBUS Voltage" ... "CC2 Current"

// A marker usable as a range end: kind 1 A, 2 B, 3 O, 4 X, with its display time.
struct MarkerEntry {
    int kind = 0;
    int64_t time = 0;
    bool operator==(const MarkerEntry&) const = default;
};
constexpr size_t kMaxMarkerEntries = 5;

// Inserts before the first entry whose time is not smaller; a sixth entry pushes the last one out.
void InsertMarkerEntry(std::vector<MarkerEntry>& entries, const MarkerEntry& e);
// "Marker A (%s)" and the others, with the time text.
std::string MarkerEntryText(const MarkerEntry& e);
// Markers A and B of the store, then O and X of the graph when there is one.
std::vector<MarkerEntry> CollectMarkerEntries(const CCaptureStore& store, const IDocumentHooks* hooks);

// The record file's path without ".qxc", "_export", and the type's extension; " (n)" before the
// extension while a file of that name exists.
std::string ExportFileName(const std::string& recordPath, int exportType);
// Swaps ".csv" and ".qxc" to follow the export type, or appends the type's extension.
std::string FollowExtension(const std::string& name, int exportType);

struct ExportOptions {
    std::string fileName;
    bool values[kExportValueCount] = {true, true, true, true, true, true, true};
    bool visibleColumnsOnly = true;
    int fromKind = kRangeCapture, toKind = kRangeCapture;
    int64_t fromNumber = 0, toNumber = 0;
    int fromMarker = -1, toMarker = -1; // index into the marker entries; -1 for none selected
    int exportType = kExportCsv;
    int exportItems = kItemsMessages;
    ColumnLayout columns = ColumnLayout::Defaults();
    bool invertCurrent = false;
};

// The earliest and latest display time of a sample or packet; false when the store has neither.
bool CaptureTop(const CCaptureStore& store, int64_t* t);
bool CaptureEnd(const CCaptureStore& store, int64_t* t);

// Resolves the range ends to display times; false when they do not resolve or the end precedes the
// start. A To packet number past the last packet is lowered to it in o.
bool ResolveRange(const CCaptureStore& store, const std::vector<MarkerEntry>& markers, ExportOptions& o,
                  int64_t* start, int64_t* end);

std::string CsvHeaderLine(const ExportOptions& o);

// Writers, run on the worker thread; they read the store, which nothing fills meanwhile. Progress
// and the abort request go through flags. The output is written under a temporary name and put in
// place only when whole: a writer that fails leaves nothing behind (a file already at the name stays
// as it was) and says why in flags.reason. An output that is the capture's record file is refused
// before anything is written.
bool WriteCsv(const CCaptureStore& store, const ExportOptions& o, int64_t start, int64_t end, ToolFlags& flags);
// The record-file range is a record file of its own: a closed header block with the range's capture
// origin, the blocks of the record file from where its decoding agrees with the recording's up to
// where the range's last packets close (PlanRecordRange), then saved marks: the time origin that keeps
// every displayed time as it was, and the marks of the range's packets.
bool WriteRecordRange(const CCaptureStore& store, const std::string& out, int64_t start, int64_t end,
                      ToolFlags& flags);
bool RunExport(const CCaptureStore& store, const ExportOptions& o, int64_t start, int64_t end, ToolFlags& flags);

// "%.2f" or "%.3f" of v, byte for byte as printf gives it, without going through printf.
void AppendFixed(std::string& out, float v, int decimals);
