// The per-user settings: every value the application keeps between runs, read once at start and
// written once at exit through a key/value store (QSettings in the application, memory in tests).
#pragma once

#include "CaptureStore.h"
#include "PacketTexts.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One section of the per-user store. Integers are 32-bit (a registry DWORD), texts are UTF-8, byte
// blocks are raw. A Get returns false when the key is absent or holds a value of another kind; the
// output is then left alone.
class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    virtual bool GetInt(const std::string& key, uint32_t& value) const = 0;
    virtual bool GetText(const std::string& key, std::string& value) const = 0;
    virtual bool GetBytes(const std::string& key, std::vector<uint8_t>& value) const = 0;
    virtual void SetInt(const std::string& key, uint32_t value) = 0;
    virtual void SetText(const std::string& key, const std::string& value) = 0;
    virtual void SetBytes(const std::string& key, const std::vector<uint8_t>& value) = 0;
};

// The store for tests: values in a map, and every written key in the order it was written.
class CMemorySettingsStore : public ISettingsStore {
public:
    using Value = std::variant<uint32_t, std::string, std::vector<uint8_t>>;

    bool GetInt(const std::string& key, uint32_t& value) const override;
    bool GetText(const std::string& key, std::string& value) const override;
    bool GetBytes(const std::string& key, std::vector<uint8_t>& value) const override;
    void SetInt(const std::string& key, uint32_t value) override;
    void SetText(const std::string& key, const std::string& value) override;
    void SetBytes(const std::string& key, const std::vector<uint8_t>& value) override;

    bool Has(const std::string& key) const { return values.count(key) != 0; }
    void Remove(const std::string& key) { values.erase(key); }
    const std::vector<std::string>& WrittenKeys() const { return written; }
    void ClearWrittenKeys() { written.clear(); }

private:
    template <class T> bool Get(const std::string& key, T& value) const;
    void Set(const std::string& key, Value value);

    std::map<std::string, Value> values;
    std::vector<std::string> written;
};

// "CendraAppSettings": window size and splitter sizes, 120 bytes, little-endian.
//   0 signature 0x5555AAAA, 4 version 0x0100 (u16), 6 reserved (u16), 8 width, 12 height,
//   16 ideal height of the packet list pane, 20 ideal width of the packet tree pane (i32 each),
//   24..119 reserved.
struct WindowRecord {
    static constexpr size_t kSize = 120;
    static constexpr uint32_t kSignature = 0x5555AAAAu;
    static constexpr uint16_t kVersion = 0x0100;

    uint16_t reserved = 0;
    int32_t width = 1200;
    int32_t height = 700;
    int32_t listPaneHeight = 100;
    int32_t treePaneWidth = 100;
    std::array<uint8_t, 96> reservedTail{}; // kept as read, so the record goes back whole

    std::vector<uint8_t> Encode() const;
    // Nothing unless exactly kSize bytes with the signature and version.
    static std::optional<WindowRecord> Decode(const std::vector<uint8_t>& bytes);
    bool operator==(const WindowRecord&) const = default;
};

// "ColumnInfo%d": visible flag, width in pixels and display position of one column id, 12 bytes of
// three little-endian int32.
struct ColumnRecord {
    static constexpr size_t kSize = 12;

    bool visible = false;
    int32_t width = 0;
    int32_t position = 0;

    // The default of a column id; an id outside 0..37 has none and gets an all-zero record.
    static ColumnRecord Default(int id);
    std::vector<uint8_t> Encode() const;
    // Nothing unless exactly kSize bytes. Any non-zero visible value counts as visible.
    static std::optional<ColumnRecord> Decode(const std::vector<uint8_t>& bytes);
    bool operator==(const ColumnRecord&) const = default;
};

// "GraphFont": a platform font description of 92 bytes, little-endian:
//   0 height, 4 width, 8 escapement, 12 orientation, 16 weight (i32 each); 20 italic, 21 underline,
//   22 strike-out, 23 character set, 24 output precision, 25 clip precision, 26 quality,
//   27 pitch and family (one byte each); 28 face name, 32 UTF-16 code units, NUL-terminated.
// A negative height asks for the character height, a positive one for the cell height; the graph
// takes its absolute value either way.
struct FontRecord {
    static constexpr size_t kSize = 92;
    static constexpr size_t kFaceNameLength = 32;

    int32_t height = 0;
    int32_t width = 0;
    int32_t escapement = 0;
    int32_t orientation = 0;
    int32_t weight = 0;
    uint8_t italic = 0;
    uint8_t underline = 0;
    uint8_t strikeOut = 0;
    uint8_t charSet = 0;
    uint8_t outPrecision = 0;
    uint8_t clipPrecision = 0;
    uint8_t quality = 0;
    uint8_t pitchAndFamily = 0;
    std::array<char16_t, kFaceNameLength> faceName{};

    // Arial, character height 16, default weight (0), default character set (1), quality 1.
    static FontRecord Default();
    // The face name up to its terminating NUL.
    std::u16string FaceName() const;
    // Sets the face name, cut to 31 code units so that the NUL always fits.
    void SetFaceName(std::u16string_view name);

    std::vector<uint8_t> Encode() const;
    // Nothing unless exactly kSize bytes.
    static std::optional<FontRecord> Decode(const std::vector<uint8_t>& bytes);
    bool operator==(const FontRecord&) const = default;
};

// Calibration ratios × 10^6 of the six live readings; 1000000 leaves a reading unchanged.
struct CalibrationRatios {
    uint32_t vbusVoltage = 1000000;
    uint32_t cc1Voltage = 1000000;
    uint32_t cc2Voltage = 1000000;
    uint32_t vbusCurrent = 1000000;
    uint32_t cc1Current = 1000000;
    uint32_t cc2Current = 1000000;
    bool operator==(const CalibrationRatios&) const = default;
};

// A colour as the store keeps it: 0x00BBGGRR.
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16;
}

// The graph's drawing settings. Colours, widths, backgrounds and grids are only read (they keep their
// defaults unless the store is edited from outside); the three area switches are read and written.
struct GraphSettings {
    enum Trace { VbusVoltage, VbusCurrent, VbusPower, Cc1Voltage, Cc1Current, Cc1Power, Cc2Voltage, Cc2Current,
                 Cc2Power, kTraceCount };
    // The plot background is always filled; the others only while their switch is on.
    enum Region { Plot, VoltageArea, CurrentArea, WattageArea, VrdUsb, Vrd15, Vrd30, PdStrip, kRegionCount };
    enum Axis { TimeAxis, VoltageAxis, CurrentAxis, WattageAxis, kAxisCount };

    std::array<uint32_t, kTraceCount> traceColour;
    std::array<int32_t, kTraceCount> traceWidth; // pen width in pixels, as stored
    std::array<uint32_t, kRegionCount> backgroundColour;
    std::array<bool, kRegionCount> backgroundOn;
    std::array<uint32_t, kAxisCount> axisColour;
    std::array<bool, kAxisCount> gridOn;
    uint32_t frameColour;   // "ColorGraph": frame around the plot, label backgrounds
    uint32_t cursorColour;  // cursor cross, zoom box, cursor text backgrounds
    uint32_t markerOColour;
    uint32_t markerXColour;
    bool voltageOn = true, currentOn = true, wattageOn = true;

    GraphSettings(); // the defaults
    bool operator==(const GraphSettings&) const = default;
};

// The user's documents folder, or an empty text when it cannot be found.
using DocumentsFolderFn = std::function<std::string()>;

// The documents folder followed by "Ambrio", created when missing (a failure to create it is left
// to whoever writes there next). Without a documents folder the current folder stands in for it.
std::string DefaultRecordFolder(const DocumentsFolderFn& documentsFolder);

// Every persistent value, in memory from start to exit. The defaults are those of a first start.
struct SettingsValues {
    WindowRecord window;
    std::string recordFileFolder; // empty only until Load fills in the default folder
    std::string recordFileCaption = "DUDevezud";
    bool launchDriverInstaller = true;
    uint32_t recordMaxFileSizeMB = 100; // units of 1,000,000 bytes
    uint32_t recordVbusSamplingIntervalMS = 10;
    // The capture-store limits start every run at these values; they are written at exit but never
    // read back.
    uint32_t maxPDPacketCount = StoreLimits{}.packetLimit;
    uint32_t maxVbusInfoCount = StoreLimits{}.sampleLimit;
    bool recordDoNotAskAgain = false;
    bool recordAppendTimestamp = false;
    bool recordMultiCaptureFile = false;
    bool recordCaptureFullStop = false;
    bool pdPacketAutoRemove = false;
    bool vbusInfoAutoRemove = false;
    bool graphShowPlots = false;
    bool graphShowPDPackets = true;
    bool graphAutoScroll = true;
    bool pdMessageAutoScroll = true;
    int32_t ctrlViewHeight = 0; // 0: automatic
    bool vbusCurrDirCfgDoNotAskAgain = false;
    bool vbusCurrDirReverse = false;
    CalibrationRatios calibration; // read at start, never written
    std::array<ColumnRecord, kColumnCount> columns = DefaultColumns();
    FontRecord graphFont = FontRecord::Default();
    GraphSettings graph;

    // Memory only: the record folder another program has set; it stands in for recordFileFolder
    // while it is not empty.
    std::string externalRecordFolder;

    static std::array<ColumnRecord, kColumnCount> DefaultColumns();
    bool operator==(const SettingsValues&) const = default;
};

class CSettings : public SettingsValues {
public:
    explicit CSettings(DocumentsFolderFn documentsFolder = {});

    // Every value from the store, defaults for absent keys and unusable records, then the default
    // record folder when none is stored; the capture-store limits keep their start values.
    void Load(const ISettingsStore& store);
    // Every value but the calibration ratios, the external folder and the graph's read-only drawing
    // settings, in a fixed order.
    void Save(ISettingsStore& store) const;

    // The documents folder plus "Ambrio", created when missing.
    std::string DefaultRecordFolder() const;
    // Where new record files go: the external folder when set, otherwise recordFileFolder, which
    // first takes the default folder when it is empty.
    std::string RecordFolder();

    // The capture store's limits and auto-remove switches: the PD packet flag drives the packet
    // switch, the VBUS sample flag the sample switch.
    StoreLimits CaptureLimits() const;

    // Visibility and display position per column id, as the packet texts and list take them.
    ColumnLayout Columns() const;
    // Takes visibility and position from a layout; widths stay.
    void SetColumns(const ColumnLayout& layout);

private:
    DocumentsFolderFn documentsFolder;
};
