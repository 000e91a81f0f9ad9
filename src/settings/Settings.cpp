#include "Settings.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

constexpr char kWindowKey[] = "CendraAppSettings";
constexpr char kFolderKey[] = "RecordFileFolder";
constexpr char kCaptionKey[] = "RecordFileCaption";
constexpr char kLaunchDriverInstallerKey[] = "LaunchDriverInstaller";
constexpr char kMaxFileSizeKey[] = "RecordMaxFileSizeMB";
constexpr char kSamplingIntervalKey[] = "RecordVbusSamplingIntervalMS";
// Spelled with the extra "n", as stores written by earlier runs have it.
constexpr char kMaxPacketCountKey[] = "RecordnMaxPDPacketCount";
constexpr char kMaxSampleCountKey[] = "RecordMaxVbusInfoCount";
constexpr char kDoNotAskAgainKey[] = "RecordDoNotAskAgain";
constexpr char kAppendTimestampKey[] = "RecordAppendTimestamp";
constexpr char kMultiFileKey[] = "RecordMultiCaptureFile";
constexpr char kFullStopKey[] = "RecordCaptureFullStop";
constexpr char kPacketAutoRemoveKey[] = "RecordPDPacketAutoRemove";
constexpr char kSampleAutoRemoveKey[] = "RecordVbusInfoAutoRemove";
constexpr char kShowPlotsKey[] = "GraphShowPlots";
constexpr char kShowPDPacketsKey[] = "GraphShowPDPackets";
constexpr char kGraphAutoScrollKey[] = "GraphAutoScroll";
constexpr char kListAutoScrollKey[] = "PDMessageAutoScroll";
constexpr char kCtrlViewHeightKey[] = "CtrlViewHeight";
constexpr char kCurrDirDoNotAskKey[] = "VbusCurrDirCfgDoNotAskAgain";
constexpr char kCurrDirReverseKey[] = "VbusCurrDirReverse";
constexpr char kGraphFontKey[] = "GraphFont";

// The graph's drawing settings, one row per key, in the order of GraphSettings' enums.
struct GraphTraceKeys {
    const char* colourKey;
    uint32_t colour;
    const char* widthKey;
    int32_t width;
};
constexpr GraphTraceKeys kGraphTraceKeys[GraphSettings::kTraceCount] = {
    {"ColorVBusVol", Rgb(255, 0, 0), "VBusVolBold", 3},
    {"ColorVBusCurr", Rgb(0, 0, 255), "VBusCurrBold", 3},
    {"ColorVBusWatt", Rgb(255, 165, 0), "VBusWattBold", 1},
    {"ColorCC1Vol", Rgb(0, 255, 0), "CC1VolBold", 1},
    {"ColoCC1Curr", Rgb(0, 255, 255), "CC1CurrBold", 1}, // sic: stores have always used this key
    {"ColorCC1Watt", Rgb(0, 200, 200), "CC1WattBold", 1},
    {"ColorCC2Vol", Rgb(255, 255, 0), "CC2VolBold", 1},
    {"ColorCC2Curr", Rgb(255, 0, 255), "CC2CurrBold", 1},
    {"ColorCC2Watt", Rgb(200, 0, 200), "CC2WattBold", 1},
};

struct GraphSwitchedKeys {
    const char* colourKey;
    uint32_t colour;
    const char* switchKey; // null: always on
    bool on;
};
constexpr GraphSwitchedKeys kGraphBackgroundKeys[GraphSettings::kRegionCount] = {
    {"ColorGraphBG", Rgb(0, 0, 0), nullptr, true},
    {"ColorVolBG", Rgb(0, 50, 50), "VolBGEnabled", true},
    {"ColorCurrBG", Rgb(50, 50, 0), "CurrBGEnabled", true},
    {"ColorWattBG", Rgb(50, 0, 50), "WattBGEnabled", true},
    {"ColorvRdUSB", Rgb(50, 50, 30), "vRdUSBBGEnabled", true},
    {"ColorvRd15", Rgb(50, 30, 50), "vRd15BGEnabled", true},
    {"ColorvRd30", Rgb(30, 50, 30), "vRd30BGEnabled", true},
    {"ColorPDBG", Rgb(30, 30, 30), "PDBGEnabled", true},
};
constexpr GraphSwitchedKeys kGraphAxisKeys[GraphSettings::kAxisCount] = {
    {"ColorTimeAxis", Rgb(100, 100, 100), "TimeAxisEnabled", true},
    {"ColorVolAxis", Rgb(180, 0, 0), "VolAxisEnabled", true},
    {"ColorCurrAxis", Rgb(0, 0, 180), "CurrAxisEnabled", true},
    {"ColorWattAxis", Rgb(128, 82, 0), "WattAxisEnabled", true},
};

struct GraphColourKey {
    const char* key;
    uint32_t colour;
    uint32_t GraphSettings::*member;
};
constexpr GraphColourKey kGraphColourKeys[] = {
    {"ColorGraph", Rgb(255, 255, 255), &GraphSettings::frameColour},
    {"ColorCursor", Rgb(255, 255, 255), &GraphSettings::cursorColour},
    {"ColorMarkerO", Rgb(200, 200, 200), &GraphSettings::markerOColour},
    {"ColorMarkerX", Rgb(0, 255, 255), &GraphSettings::markerXColour},
};

struct GraphAreaKey {
    const char* key;
    bool GraphSettings::*member;
};
constexpr GraphAreaKey kGraphAreaKeys[] = {
    {"EnableGraphVoltage", &GraphSettings::voltageOn},
    {"EnableGraphCurrent", &GraphSettings::currentOn},
    {"EnableGraphWattage", &GraphSettings::wattageOn},
};

std::string ColumnKey(int id) {
    char key[32];
    std::snprintf(key, sizeof key, "ColumnInfo%d", id);
    return key;
}

// Little-endian field access on byte records.
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void PutI32(std::vector<uint8_t>& b, size_t at, int32_t v) {
    Put32(b, at, uint32_t(v));
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | (b[at + 1] << 8));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= uint32_t(b[at + i]) << (8 * i);
    return v;
}
int32_t GetI32(const std::vector<uint8_t>& b, size_t at) {
    return int32_t(Get32(b, at));
}

void ReadFlag(const ISettingsStore& store, const char* key, bool& flag) {
    uint32_t v = 0;
    if (store.GetInt(key, v)) flag = v != 0;
}
void ReadInt(const ISettingsStore& store, const char* key, uint32_t& value) {
    store.GetInt(key, value);
}
void ReadInt(const ISettingsStore& store, const char* key, int32_t& value) {
    uint32_t v = 0;
    if (store.GetInt(key, v)) value = int32_t(v);
}

// Every graph key with its default; the graph takes them once, when its view is created.
void ReadGraphSettings(const ISettingsStore& store, GraphSettings& g) {
    for (const GraphAreaKey& k : kGraphAreaKeys) ReadFlag(store, k.key, g.*k.member);
    for (size_t i = 0; i < GraphSettings::kTraceCount; ++i) {
        ReadInt(store, kGraphTraceKeys[i].colourKey, g.traceColour[i]);
        ReadInt(store, kGraphTraceKeys[i].widthKey, g.traceWidth[i]);
    }
    for (size_t i = 0; i < GraphSettings::kRegionCount; ++i) {
        ReadInt(store, kGraphBackgroundKeys[i].colourKey, g.backgroundColour[i]);
        if (kGraphBackgroundKeys[i].switchKey) ReadFlag(store, kGraphBackgroundKeys[i].switchKey, g.backgroundOn[i]);
    }
    for (size_t i = 0; i < GraphSettings::kAxisCount; ++i) {
        ReadInt(store, kGraphAxisKeys[i].colourKey, g.axisColour[i]);
        ReadFlag(store, kGraphAxisKeys[i].switchKey, g.gridOn[i]);
    }
    for (const GraphColourKey& k : kGraphColourKeys) ReadInt(store, k.key, g.*k.member);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Memory store

template <class T> bool CMemorySettingsStore::Get(const std::string& key, T& value) const {
    const auto it = values.find(key);
    if (it == values.end()) return false;
    const T* v = std::get_if<T>(&it->second);
    if (!v) return false;
    value = *v;
    return true;
}

void CMemorySettingsStore::Set(const std::string& key, Value value) {
    values[key] = std::move(value);
    written.push_back(key);
}

bool CMemorySettingsStore::GetInt(const std::string& key, uint32_t& value) const {
    return Get(key, value);
}
bool CMemorySettingsStore::GetText(const std::string& key, std::string& value) const {
    return Get(key, value);
}
bool CMemorySettingsStore::GetBytes(const std::string& key, std::vector<uint8_t>& value) const {
    return Get(key, value);
}
void CMemorySettingsStore::SetInt(const std::string& key, uint32_t value) {
    Set(key, value);
}
void CMemorySettingsStore::SetText(const std::string& key, const std::string& value) {
    Set(key, value);
}
void CMemorySettingsStore::SetBytes(const std::string& key, const std::vector<uint8_t>& value) {
    Set(key, value);
}

// ---------------------------------------------------------------------------------------------
// Byte records

std::vector<uint8_t> WindowRecord::Encode() const {
    std::vector<uint8_t> b(kSize, 0);
    Put32(b, 0, kSignature);
    Put16(b, 4, kVersion);
    Put16(b, 6, reserved);
    PutI32(b, 8, width);
    PutI32(b, 12, height);
    PutI32(b, 16, listPaneHeight);
    PutI32(b, 20, treePaneWidth);
    for (size_t i = 0; i < reservedTail.size(); ++i) b[24 + i] = reservedTail[i];
    return b;
}

std::optional<WindowRecord> WindowRecord::Decode(const std::vector<uint8_t>& b) {
    // Anything else is from another version or damaged: the window keeps its defaults.
    if (b.size() != kSize || Get32(b, 0) != kSignature || Get16(b, 4) != kVersion) return std::nullopt;
    WindowRecord r;
    r.reserved = Get16(b, 6);
    r.width = GetI32(b, 8);
    r.height = GetI32(b, 12);
    r.listPaneHeight = GetI32(b, 16);
    r.treePaneWidth = GetI32(b, 20);
    for (size_t i = 0; i < r.reservedTail.size(); ++i) r.reservedTail[i] = b[24 + i];
    return r;
}

ColumnRecord ColumnRecord::Default(int id) {
    if (id < 0 || id >= kColumnCount) return {};
    const ColumnDefault& d = kColumnDefaults[id];
    return {d.visible, d.width, d.position};
}

std::vector<uint8_t> ColumnRecord::Encode() const {
    std::vector<uint8_t> b(kSize, 0);
    PutI32(b, 0, visible ? 1 : 0);
    PutI32(b, 4, width);
    PutI32(b, 8, position);
    return b;
}

std::optional<ColumnRecord> ColumnRecord::Decode(const std::vector<uint8_t>& b) {
    // A record of another size is not trusted; the column keeps its default.
    if (b.size() != kSize) return std::nullopt;
    return ColumnRecord{Get32(b, 0) != 0, GetI32(b, 4), GetI32(b, 8)};
}

FontRecord FontRecord::Default() {
    FontRecord f;
    f.height = -16;
    f.charSet = 1;
    f.quality = 1;
    f.SetFaceName(u"Arial");
    return f;
}

std::u16string FontRecord::FaceName() const {
    size_t n = 0;
    while (n < faceName.size() && faceName[n] != 0) ++n;
    return std::u16string(faceName.data(), n);
}

void FontRecord::SetFaceName(std::u16string_view name) {
    faceName.fill(0);
    const size_t n = std::min(name.size(), faceName.size() - 1);
    for (size_t i = 0; i < n; ++i) faceName[i] = name[i];
}

std::vector<uint8_t> FontRecord::Encode() const {
    std::vector<uint8_t> b(kSize, 0);
    PutI32(b, 0, height);
    PutI32(b, 4, width);
    PutI32(b, 8, escapement);
    PutI32(b, 12, orientation);
    PutI32(b, 16, weight);
    const uint8_t bytes[8] = {italic,       underline,     strikeOut, charSet,
                              outPrecision, clipPrecision, quality,   pitchAndFamily};
    for (size_t i = 0; i < 8; ++i) b[20 + i] = bytes[i];
    for (size_t i = 0; i < kFaceNameLength; ++i) Put16(b, 28 + 2 * i, uint16_t(faceName[i]));
    return b;
}

std::optional<FontRecord> FontRecord::Decode(const std::vector<uint8_t>& b) {
    // A record of another size is not a font description; the graph keeps the default font.
    if (b.size() != kSize) return std::nullopt;
    FontRecord f;
    f.height = GetI32(b, 0);
    f.width = GetI32(b, 4);
    f.escapement = GetI32(b, 8);
    f.orientation = GetI32(b, 12);
    f.weight = GetI32(b, 16);
    f.italic = b[20];
    f.underline = b[21];
    f.strikeOut = b[22];
    f.charSet = b[23];
    f.outPrecision = b[24];
    f.clipPrecision = b[25];
    f.quality = b[26];
    f.pitchAndFamily = b[27];
    for (size_t i = 0; i < kFaceNameLength; ++i) f.faceName[i] = char16_t(Get16(b, 28 + 2 * i));
    return f;
}

// ---------------------------------------------------------------------------------------------
// Settings

std::string DefaultRecordFolder(const DocumentsFolderFn& documentsFolder) {
    namespace fs = std::filesystem;
    std::string documents = documentsFolder ? documentsFolder() : std::string();
    std::error_code ec;
    if (documents.empty()) {
        documents = fs::current_path(ec).string();
        if (ec || documents.empty()) documents.assign(1, '.');
    }
    const fs::path folder = fs::path(documents) / "Ambrio";
    // A folder that cannot be created is reported later, when a record file or the folder test
    // fails to be written there.
    fs::create_directories(folder, ec);
    return folder.string();
}

GraphSettings::GraphSettings() {
    for (size_t i = 0; i < kTraceCount; ++i) {
        traceColour[i] = kGraphTraceKeys[i].colour;
        traceWidth[i] = kGraphTraceKeys[i].width;
    }
    for (size_t i = 0; i < kRegionCount; ++i) {
        backgroundColour[i] = kGraphBackgroundKeys[i].colour;
        backgroundOn[i] = kGraphBackgroundKeys[i].on;
    }
    for (size_t i = 0; i < kAxisCount; ++i) {
        axisColour[i] = kGraphAxisKeys[i].colour;
        gridOn[i] = kGraphAxisKeys[i].on;
    }
    for (const GraphColourKey& k : kGraphColourKeys) this->*k.member = k.colour;
}

std::array<ColumnRecord, kColumnCount> SettingsValues::DefaultColumns() {
    std::array<ColumnRecord, kColumnCount> c;
    for (int id = 0; id < kColumnCount; ++id) c[size_t(id)] = ColumnRecord::Default(id);
    return c;
}

CSettings::CSettings(DocumentsFolderFn documentsFolder) : documentsFolder(std::move(documentsFolder)) {}

void CSettings::Load(const ISettingsStore& store) {
    static_cast<SettingsValues&>(*this) = SettingsValues{};

    std::vector<uint8_t> bytes;
    if (store.GetBytes(kWindowKey, bytes))
        if (auto w = WindowRecord::Decode(bytes)) window = *w;
    store.GetText(kFolderKey, recordFileFolder);
    store.GetText(kCaptionKey, recordFileCaption);
    ReadFlag(store, kLaunchDriverInstallerKey, launchDriverInstaller);
    ReadInt(store, kMaxFileSizeKey, recordMaxFileSizeMB);
    ReadInt(store, kSamplingIntervalKey, recordVbusSamplingIntervalMS);
    // The two capture-store limits are skipped: every run starts with the defaults.
    ReadFlag(store, kDoNotAskAgainKey, recordDoNotAskAgain);
    ReadFlag(store, kAppendTimestampKey, recordAppendTimestamp);
    ReadFlag(store, kMultiFileKey, recordMultiCaptureFile);
    ReadFlag(store, kFullStopKey, recordCaptureFullStop);
    ReadFlag(store, kPacketAutoRemoveKey, pdPacketAutoRemove);
    ReadFlag(store, kSampleAutoRemoveKey, vbusInfoAutoRemove);
    ReadFlag(store, kShowPlotsKey, graphShowPlots);
    ReadFlag(store, kShowPDPacketsKey, graphShowPDPackets);
    ReadFlag(store, kGraphAutoScrollKey, graphAutoScroll);
    ReadFlag(store, kListAutoScrollKey, pdMessageAutoScroll);
    ReadInt(store, kCtrlViewHeightKey, ctrlViewHeight);
    ReadFlag(store, kCurrDirDoNotAskKey, vbusCurrDirCfgDoNotAskAgain);
    ReadFlag(store, kCurrDirReverseKey, vbusCurrDirReverse);
    ReadInt(store, "CalVbusVolRatio", calibration.vbusVoltage);
    ReadInt(store, "CalCC1VolRatio", calibration.cc1Voltage);
    ReadInt(store, "CalCC2VolRatio", calibration.cc2Voltage);
    ReadInt(store, "CalVbusCurrRatio", calibration.vbusCurrent);
    ReadInt(store, "CalCC1CurrRatio", calibration.cc1Current);
    ReadInt(store, "CalCC2CurrRatio", calibration.cc2Current);
    for (int id = 0; id < kColumnCount; ++id)
        if (store.GetBytes(ColumnKey(id), bytes))
            if (auto c = ColumnRecord::Decode(bytes)) columns[size_t(id)] = *c;
    if (store.GetBytes(kGraphFontKey, bytes))
        if (auto f = FontRecord::Decode(bytes)) graphFont = *f;

    ReadGraphSettings(store, graph);

    if (recordFileFolder.empty()) recordFileFolder = DefaultRecordFolder();
}

void CSettings::Save(ISettingsStore& store) const {
    auto flag = [&store](const char* key, bool v) { store.SetInt(key, v ? 1 : 0); };
    store.SetBytes(kWindowKey, window.Encode());
    flag(kLaunchDriverInstallerKey, launchDriverInstaller);
    store.SetText(kFolderKey, recordFileFolder);
    store.SetText(kCaptionKey, recordFileCaption);
    store.SetInt(kMaxFileSizeKey, recordMaxFileSizeMB);
    store.SetInt(kSamplingIntervalKey, recordVbusSamplingIntervalMS);
    store.SetInt(kMaxPacketCountKey, maxPDPacketCount);
    store.SetInt(kMaxSampleCountKey, maxVbusInfoCount);
    flag(kDoNotAskAgainKey, recordDoNotAskAgain);
    flag(kAppendTimestampKey, recordAppendTimestamp);
    flag(kMultiFileKey, recordMultiCaptureFile);
    flag(kFullStopKey, recordCaptureFullStop);
    flag(kPacketAutoRemoveKey, pdPacketAutoRemove);
    flag(kSampleAutoRemoveKey, vbusInfoAutoRemove);
    flag(kShowPlotsKey, graphShowPlots);
    flag(kShowPDPacketsKey, graphShowPDPackets);
    flag(kGraphAutoScrollKey, graphAutoScroll);
    flag(kListAutoScrollKey, pdMessageAutoScroll);
    store.SetInt(kCtrlViewHeightKey, uint32_t(ctrlViewHeight));
    flag(kCurrDirDoNotAskKey, vbusCurrDirCfgDoNotAskAgain);
    flag(kCurrDirReverseKey, vbusCurrDirReverse);
    for (int id = 0; id < kColumnCount; ++id) store.SetBytes(ColumnKey(id), columns[size_t(id)].Encode());
    store.SetBytes(kGraphFontKey, graphFont.Encode());
    // Of the graph's settings only the area switches go back; the rest is never written.
    for (const GraphAreaKey& k : kGraphAreaKeys) flag(k.key, graph.*k.member);
}

std::string CSettings::DefaultRecordFolder() const {
    return ::DefaultRecordFolder(documentsFolder);
}

std::string CSettings::RecordFolder() {
    if (!externalRecordFolder.empty()) return externalRecordFolder;
    if (recordFileFolder.empty()) recordFileFolder = DefaultRecordFolder();
    return recordFileFolder;
}

StoreLimits CSettings::CaptureLimits() const {
    StoreLimits l;
    l.packetLimit = maxPDPacketCount;
    l.sampleLimit = maxVbusInfoCount;
    l.packetAutoRemove = pdPacketAutoRemove;
    l.sampleAutoRemove = vbusInfoAutoRemove;
    return l;
}

ColumnLayout CSettings::Columns() const {
    ColumnLayout l{};
    for (int id = 0; id < kColumnCount; ++id) {
        l.visible[id] = columns[size_t(id)].visible;
        l.position[id] = columns[size_t(id)].position;
    }
    return l;
}

void CSettings::SetColumns(const ColumnLayout& layout) {
    for (int id = 0; id < kColumnCount; ++id) {
        columns[size_t(id)].visible = layout.visible[id];
        columns[size_t(id)].position = layout.position[id];
    }
}
