#include "Settings.h"

#include "../support/Blocks.h"
#include "../support/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Settings whose documents folder lies in a temporary folder of the test.
struct SettingsFixture : ::testing::Test {
    TempDir temp;
    std::string documents = temp.File("Documents");
    CSettings NewSettings() const {
        return CSettings([d = documents] { return d; });
    }
    CSettings LoadFrom(const CMemorySettingsStore& store) const {
        CSettings s = NewSettings();
        s.Load(store);
        return s;
    }
};

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> b;
    for (int v : list) b.push_back(uint8_t(v));
    return b;
}

// Every stored value moved away from its default.
void ChangeEverything(CSettings& s) {
    s.window.width = 1920;
    s.window.height = 1080;
    s.window.listPaneHeight = 333;
    s.window.treePaneWidth = 444;
    s.window.reserved = 0x1234;
    s.window.reservedTail[7] = 0x5A;
    s.recordFileFolder = "/data/captures";
    s.recordFileCaption = "Bench 7";
    s.launchDriverInstaller = false;
    s.recordMaxFileSizeMB = 9999;
    s.recordVbusSamplingIntervalMS = 500;
    s.maxPDPacketCount = 100;
    s.maxVbusInfoCount = 0;
    s.recordDoNotAskAgain = true;
    s.recordAppendTimestamp = true;
    s.recordMultiCaptureFile = true;
    s.recordCaptureFullStop = true;
    s.pdPacketAutoRemove = true;
    s.vbusInfoAutoRemove = true;
    s.graphShowPlots = true;
    s.graphShowPDPackets = false;
    s.graphAutoScroll = false;
    s.pdMessageAutoScroll = false;
    s.ctrlViewHeight = 180;
    s.vbusCurrDirCfgDoNotAskAgain = true;
    s.vbusCurrDirReverse = true;
    s.calibration.cc2Current = 990000;
    for (int id = 0; id < kColumnCount; ++id)
        s.columns[size_t(id)] = {id % 3 == 0, 10 + id, kColumnCount - 1 - id};
    s.graphFont.height = -21;
    s.graphFont.weight = 700;
    s.graphFont.italic = 1;
    s.graphFont.SetFaceName(u"DejaVu Sans Mono");
    s.externalRecordFolder = "/from/another/program";
}

} // namespace

TEST_F(SettingsFixture, FirstStartGivesTheDefaults) {
    const CSettings s = LoadFrom(CMemorySettingsStore{});

    const std::string folder = (fs::path(documents) / "Ambrio").string();
    EXPECT_EQ(s.recordFileFolder, folder);
    EXPECT_TRUE(fs::is_directory(folder)); // created, along with the missing documents folder
    EXPECT_EQ(s.recordFileCaption, "DUDevezud");
    EXPECT_EQ(s.recordMaxFileSizeMB, 100u);
    EXPECT_EQ(s.recordVbusSamplingIntervalMS, 10u);
    EXPECT_EQ(s.maxPDPacketCount, 99999u);
    EXPECT_EQ(s.maxVbusInfoCount, 9999999u);
    EXPECT_EQ(s.window.width, 1200);
    EXPECT_EQ(s.window.height, 700);
    EXPECT_EQ(s.window.listPaneHeight, 100);
    EXPECT_EQ(s.window.treePaneWidth, 100);
    EXPECT_TRUE(s.launchDriverInstaller);
    EXPECT_FALSE(s.recordDoNotAskAgain || s.recordAppendTimestamp || s.recordMultiCaptureFile ||
                 s.recordCaptureFullStop || s.pdPacketAutoRemove || s.vbusInfoAutoRemove);
    EXPECT_FALSE(s.graphShowPlots);
    EXPECT_TRUE(s.graphShowPDPackets && s.graphAutoScroll && s.pdMessageAutoScroll);
    EXPECT_EQ(s.ctrlViewHeight, 0);
    EXPECT_FALSE(s.vbusCurrDirCfgDoNotAskAgain || s.vbusCurrDirReverse);
    for (uint32_t r : {s.calibration.vbusVoltage, s.calibration.cc1Voltage, s.calibration.cc2Voltage,
                       s.calibration.vbusCurrent, s.calibration.cc1Current, s.calibration.cc2Current})
        EXPECT_EQ(r, 1000000u);
    EXPECT_EQ(s.graphFont, FontRecord::Default());
    EXPECT_EQ(s.graphFont.FaceName(), u"Arial");

    // The column records and the layout come from the one column table.
    const ColumnLayout defaults = ColumnLayout::Defaults();
    const ColumnLayout layout = s.Columns();
    for (int id = 0; id < kColumnCount; ++id) {
        SCOPED_TRACE(id);
        EXPECT_EQ(s.columns[size_t(id)].visible, kColumnDefaults[id].visible);
        EXPECT_EQ(s.columns[size_t(id)].width, kColumnDefaults[id].width);
        EXPECT_EQ(s.columns[size_t(id)].position, kColumnDefaults[id].position);
        EXPECT_EQ(layout.visible[id], defaults.visible[id]);
        EXPECT_EQ(layout.position[id], defaults.position[id]);
    }
    EXPECT_EQ(s.columns[21], (ColumnRecord{true, 300, 24}));
    EXPECT_EQ(s.columns[24], (ColumnRecord{false, 200, 28}));
    EXPECT_EQ(ColumnRecord::Default(38), ColumnRecord{});
    EXPECT_EQ(ColumnRecord::Default(-1), ColumnRecord{});
}

TEST_F(SettingsFixture, DefaultRecordFolderWithoutDocumentsFolderUsesTheCurrentFolder) {
    const fs::path before = fs::current_path();
    fs::current_path(temp.Path());
    const std::string folder = DefaultRecordFolder([] { return std::string(); });
    const std::string none = DefaultRecordFolder(nullptr);
    fs::current_path(before);
    EXPECT_EQ(folder, (temp.Path() / "Ambrio").string());
    EXPECT_EQ(none, folder);
    EXPECT_TRUE(fs::is_directory(temp.Path() / "Ambrio"));
}

TEST_F(SettingsFixture, RoundTripThroughTheStore) {
    CMemorySettingsStore store;
    CSettings s = LoadFrom(store);
    ChangeEverything(s);
    s.Save(store);

    const CSettings again = LoadFrom(store);
    // All comes back but the capture limits (start values every run), the calibration (never
    // written) and the external folder (memory only).
    SettingsValues expected = s;
    expected.maxPDPacketCount = 99999;
    expected.maxVbusInfoCount = 9999999;
    expected.calibration = CalibrationRatios{};
    expected.externalRecordFolder.clear();
    EXPECT_EQ(static_cast<const SettingsValues&>(again), expected);
    EXPECT_EQ(again.graphFont.FaceName(), u"DejaVu Sans Mono");

    // Saving what was loaded writes the same values again.
    CMemorySettingsStore second;
    again.Save(second);
    for (const std::string& key : store.WrittenKeys()) {
        SCOPED_TRACE(key);
        if (key == "RecordnMaxPDPacketCount" || key == "RecordMaxVbusInfoCount") continue;
        std::vector<uint8_t> a, b;
        std::string ta, tb;
        uint32_t ia = 0, ib = 0;
        if (store.GetBytes(key, a)) {
            ASSERT_TRUE(second.GetBytes(key, b));
            EXPECT_EQ(a, b);
        } else if (store.GetText(key, ta)) {
            ASSERT_TRUE(second.GetText(key, tb));
            EXPECT_EQ(ta, tb);
        } else {
            ASSERT_TRUE(store.GetInt(key, ia) && second.GetInt(key, ib));
            EXPECT_EQ(ia, ib);
        }
    }
}

TEST_F(SettingsFixture, SaveWritesEveryKeyOnceInOrder) {
    CMemorySettingsStore store;
    store.SetInt("CalVbusVolRatio", 1010000);
    store.ClearWrittenKeys();
    CSettings s = LoadFrom(store);
    EXPECT_EQ(s.calibration.vbusVoltage, 1010000u);
    s.calibration.cc1Voltage = 5; // changed in memory, still never written
    s.Save(store);

    std::vector<std::string> expected = {"CendraAppSettings",        "LaunchDriverInstaller",
                                         "RecordFileFolder",         "RecordFileCaption",
                                         "RecordMaxFileSizeMB",      "RecordVbusSamplingIntervalMS",
                                         "RecordnMaxPDPacketCount",  "RecordMaxVbusInfoCount",
                                         "RecordDoNotAskAgain",      "RecordAppendTimestamp",
                                         "RecordMultiCaptureFile",   "RecordCaptureFullStop",
                                         "RecordPDPacketAutoRemove", "RecordVbusInfoAutoRemove",
                                         "GraphShowPlots",           "GraphShowPDPackets",
                                         "GraphAutoScroll",          "PDMessageAutoScroll",
                                         "CtrlViewHeight",           "VbusCurrDirCfgDoNotAskAgain",
                                         "VbusCurrDirReverse"};
    for (int id = 0; id < kColumnCount; ++id) expected.push_back("ColumnInfo" + std::to_string(id));
    expected.push_back("GraphFont");
    for (const char* k : {"EnableGraphVoltage", "EnableGraphCurrent", "EnableGraphWattage"}) expected.push_back(k);
    EXPECT_EQ(store.WrittenKeys(), expected);

    uint32_t v = 0;
    EXPECT_TRUE(store.GetInt("CalVbusVolRatio", v));
    EXPECT_EQ(v, 1010000u);
    EXPECT_FALSE(store.Has("CalCC1VolRatio"));
}

TEST_F(SettingsFixture, FlagsCountAnyNonZeroValueAndAreWrittenAsOne) {
    CMemorySettingsStore store;
    store.SetInt("GraphShowPlots", 7);
    store.SetInt("GraphAutoScroll", 0);
    store.SetInt("CtrlViewHeight", 0xFFFFFFFFu);
    store.SetBytes("ColumnInfo3", Bytes({0x02, 0, 0, 0, 0x46, 0, 0, 0, 0x03, 0, 0, 0}));
    const CSettings s = LoadFrom(store);
    EXPECT_TRUE(s.graphShowPlots);
    EXPECT_FALSE(s.graphAutoScroll);
    EXPECT_EQ(s.ctrlViewHeight, -1);
    EXPECT_EQ(s.columns[3], (ColumnRecord{true, 70, 3}));

    CMemorySettingsStore out;
    s.Save(out);
    uint32_t v = 0;
    ASSERT_TRUE(out.GetInt("GraphShowPlots", v));
    EXPECT_EQ(v, 1u);
    ASSERT_TRUE(out.GetInt("GraphAutoScroll", v));
    EXPECT_EQ(v, 0u);
    ASSERT_TRUE(out.GetInt("CtrlViewHeight", v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
    std::vector<uint8_t> column;
    ASSERT_TRUE(out.GetBytes("ColumnInfo3", column));
    EXPECT_EQ(column[0], 1);
}

TEST_F(SettingsFixture, GraphDrawingSettingsDefaultsAndStoredValues) {
    // An empty store: black plot, white frame, red and blue VBUS traces 3 px wide, everything else 1 px,
    // every background, band and grid on, all three areas on.
    const CSettings first = LoadFrom(CMemorySettingsStore());
    const GraphSettings& d = first.graph;
    EXPECT_EQ(d.backgroundColour[GraphSettings::Plot], Rgb(0, 0, 0));
    EXPECT_EQ(d.frameColour, Rgb(255, 255, 255));
    EXPECT_EQ(d.traceColour[GraphSettings::VbusVoltage], 0x0000FFu); // 0x00BBGGRR
    EXPECT_EQ(d.traceColour[GraphSettings::VbusCurrent], 0xFF0000u);
    EXPECT_EQ(d.traceColour[GraphSettings::Cc1Current], Rgb(0, 255, 255));
    EXPECT_EQ(d.markerXColour, Rgb(0, 255, 255));
    for (int t = 0; t < GraphSettings::kTraceCount; ++t)
        EXPECT_EQ(d.traceWidth[size_t(t)], t == GraphSettings::VbusVoltage || t == GraphSettings::VbusCurrent ? 3 : 1);
    for (bool on : d.backgroundOn) EXPECT_TRUE(on);
    for (bool on : d.gridOn) EXPECT_TRUE(on);
    EXPECT_TRUE(d.voltageOn && d.currentOn && d.wattageOn);
    EXPECT_EQ(d, GraphSettings());

    // Stored values: any non-zero switch is on, colours and widths as stored, keys as spelled.
    CMemorySettingsStore store;
    store.SetInt("VolBGEnabled", 5);
    store.SetInt("vRd15BGEnabled", 0);
    store.SetInt("CurrAxisEnabled", 0);
    store.SetInt("ColoCC1Curr", Rgb(1, 2, 3));
    store.SetInt("CC2WattBold", 7);
    store.SetInt("ColorMarkerO", Rgb(9, 8, 7));
    store.SetInt("EnableGraphWattage", 0);
    const CSettings s = LoadFrom(store);
    EXPECT_TRUE(s.graph.backgroundOn[GraphSettings::VoltageArea]);
    EXPECT_FALSE(s.graph.backgroundOn[GraphSettings::Vrd15]);
    EXPECT_TRUE(s.graph.backgroundOn[GraphSettings::Vrd30]);
    EXPECT_FALSE(s.graph.gridOn[GraphSettings::CurrentAxis]);
    EXPECT_EQ(s.graph.traceColour[GraphSettings::Cc1Current], Rgb(1, 2, 3));
    EXPECT_EQ(s.graph.traceWidth[GraphSettings::Cc2Power], 7);
    EXPECT_EQ(s.graph.markerOColour, Rgb(9, 8, 7));
    EXPECT_FALSE(s.graph.wattageOn);

    // Only the area switches are written back, as 0 or 1.
    CSettings changed = s;
    changed.graph.voltageOn = false;
    changed.graph.traceWidth[GraphSettings::VbusPower] = 9;
    CMemorySettingsStore out;
    changed.Save(out);
    uint32_t v = 9;
    ASSERT_TRUE(out.GetInt("EnableGraphVoltage", v));
    EXPECT_EQ(v, 0u);
    ASSERT_TRUE(out.GetInt("EnableGraphCurrent", v));
    EXPECT_EQ(v, 1u);
    ASSERT_TRUE(out.GetInt("EnableGraphWattage", v));
    EXPECT_EQ(v, 0u);
    for (const char* key : {"VBusWattBold", "ColorGraphBG", "VolBGEnabled", "ColorMarkerX", "TimeAxisEnabled"})
        EXPECT_FALSE(out.Has(key)) << key;
}

TEST(SettingsRecords, WindowRecordLayout) {
    WindowRecord w;
    w.reserved = 0xBEEF;
    w.width = 1920;
    w.height = 1080;
    w.listPaneHeight = 250;
    w.treePaneWidth = -2;
    w.reservedTail[0] = 0x11;
    w.reservedTail[95] = 0x22;

    std::vector<uint8_t> expected = Bytes({0xAA, 0xAA, 0x55, 0x55, 0x00, 0x01, 0xEF, 0xBE, //
                                           0x80, 0x07, 0,    0,    0x38, 0x04, 0,    0,    //
                                           0xFA, 0,    0,    0,    0xFE, 0xFF, 0xFF, 0xFF});
    expected.resize(120, 0);
    expected[24] = 0x11;
    expected[119] = 0x22;
    const std::vector<uint8_t> bytes = w.Encode();
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(WindowRecord::Decode(bytes), w);

    std::vector<uint8_t> defaults = Bytes({0xAA, 0xAA, 0x55, 0x55, 0x00, 0x01, 0, 0, //
                                           0xB0, 0x04, 0,    0,    0xBC, 0x02, 0, 0, //
                                           0x64, 0,    0,    0,    0x64, 0,    0, 0});
    defaults.resize(120, 0);
    EXPECT_EQ(WindowRecord{}.Encode(), defaults);
}

TEST(SettingsRecords, ColumnRecordLayout) {
    const ColumnRecord c{true, 300, 24};
    const std::vector<uint8_t> bytes = c.Encode();
    EXPECT_EQ(bytes, Bytes({1, 0, 0, 0, 0x2C, 0x01, 0, 0, 0x18, 0, 0, 0}));
    EXPECT_EQ(ColumnRecord::Decode(bytes), c);
    EXPECT_EQ(ColumnRecord{}.Encode(), std::vector<uint8_t>(12, 0));
    EXPECT_EQ(ColumnRecord::Decode(Bytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x25, 0, 0, 0})),
              (ColumnRecord{false, -1, 37}));
}

TEST(SettingsRecords, FontRecordLayout) {
    std::vector<uint8_t> arial = Bytes({0xF0, 0xFF, 0xFF, 0xFF, 0,   0, 0,   0, 0,   0, 0, 0, 0, 0, 0, 0, //
                                        0,    0,    0,    0,    0,   0, 0,   1, 0,   0, 1, 0,             //
                                        'A',  0,    'r',  0,    'i', 0, 'a', 0, 'l', 0});
    arial.resize(92, 0);
    EXPECT_EQ(FontRecord::Default().Encode(), arial);

    FontRecord f;
    f.height = 0x01020304;
    f.width = 5;
    f.escapement = 6;
    f.orientation = 7;
    f.weight = 400;
    f.italic = 0x11;
    f.underline = 0x12;
    f.strikeOut = 0x13;
    f.charSet = 0x14;
    f.outPrecision = 0x15;
    f.clipPrecision = 0x16;
    f.quality = 0x17;
    f.pitchAndFamily = 0x18;
    f.SetFaceName(u"\u00C5b\u4E2D");
    std::vector<uint8_t> expected = Bytes({0x04, 0x03, 0x02, 0x01, 5,    0,    0,   0, 6,    0,    0,    0,
                                           7,    0,    0,    0,    0x90, 0x01, 0,   0, 0x11, 0x12, 0x13, 0x14,
                                           0x15, 0x16, 0x17, 0x18, 0xC5, 0x00, 'b', 0, 0x2D, 0x4E});
    expected.resize(92, 0);
    const std::vector<uint8_t> bytes = f.Encode();
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(FontRecord::Decode(bytes), f);

    // A face name that fills all 32 units is read as it stands; one set longer keeps its NUL.
    std::vector<uint8_t> full = bytes;
    for (size_t i = 28; i < 92; i += 2) {
        full[i] = 'x';
        full[i + 1] = 0;
    }
    const std::optional<FontRecord> decoded = FontRecord::Decode(full);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->FaceName(), std::u16string(32, u'x'));
    EXPECT_EQ(decoded->Encode(), full);
    f.SetFaceName(std::u16string(40, u'y'));
    EXPECT_EQ(f.FaceName(), std::u16string(31, u'y'));
    EXPECT_EQ(f.faceName[31], 0);
}

TEST_F(SettingsFixture, UnusableRecordsKeepTheirDefaults) {
    std::vector<uint8_t> window = WindowRecord{}.Encode();
    for (size_t at : {8u, 12u}) window[at] = 0x01; // 1025 × 513: noticeable when taken
    std::vector<uint8_t> shortWindow(window.begin(), window.end() - 1);
    std::vector<uint8_t> longWindow = window;
    longWindow.push_back(0);
    std::vector<uint8_t> newerWindow = window;
    newerWindow[4] = 0x01; // version 0x0101
    std::vector<uint8_t> foreignWindow = window;
    foreignWindow[0] = 0xAB;
    const std::vector<uint8_t> column = ColumnRecord{true, 999, 0}.Encode();
    std::vector<uint8_t> font = FontRecord::Default().Encode();
    font[0] = 0x30;

    struct Case {
        const char* what;
        const char* key;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"window 119 bytes", "CendraAppSettings", shortWindow},
        {"window 121 bytes", "CendraAppSettings", longWindow},
        {"window version 0x0101", "CendraAppSettings", newerWindow},
        {"window signature", "CendraAppSettings", foreignWindow},
        {"window empty", "CendraAppSettings", {}},
        {"column 11 bytes", "ColumnInfo21", {column.begin(), column.end() - 1}},
        {"column 13 bytes", "ColumnInfo21", Bytes({1, 0, 0, 0, 0xE7, 3, 0, 0, 0, 0, 0, 0, 0})},
        {"font 91 bytes", "GraphFont", {font.begin(), font.end() - 1}},
        {"font 93 bytes", "GraphFont",
         [&] {
             auto f = font;
             f.push_back(0);
             return f;
         }()},
    };
    const CSettings defaults = LoadFrom(CMemorySettingsStore{});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMemorySettingsStore store;
        store.SetBytes(c.key, c.bytes);
        EXPECT_EQ(static_cast<const SettingsValues&>(LoadFrom(store)), defaults);
    }

    // The same records at their exact sizes are taken.
    CMemorySettingsStore store;
    store.SetBytes("CendraAppSettings", window);
    store.SetBytes("ColumnInfo21", column);
    store.SetBytes("GraphFont", font);
    const CSettings s = LoadFrom(store);
    EXPECT_EQ(s.window.width, 1025);
    EXPECT_EQ(s.window.height, 513);
    EXPECT_EQ(s.columns[21], (ColumnRecord{true, 999, 0}));
    EXPECT_EQ(s.graphFont.height, -208);
}

TEST_F(SettingsFixture, ValuesOfTheWrongKindAreIgnored) {
    CMemorySettingsStore store;
    store.SetText("RecordMaxFileSizeMB", "5");
    store.SetInt("RecordFileCaption", 3);
    store.SetInt("GraphFont", 92);
    store.SetText("ColumnInfo0", "visible");
    EXPECT_EQ(static_cast<const SettingsValues&>(LoadFrom(store)),
              static_cast<const SettingsValues&>(LoadFrom(CMemorySettingsStore{})));
}

TEST_F(SettingsFixture, CaptureLimitsAreWrittenButNeverReadBack) {
    CMemorySettingsStore store;
    store.SetInt("RecordnMaxPDPacketCount", 500);
    store.SetInt("RecordMaxPDPacketCount", 500);
    store.SetInt("RecordMaxVbusInfoCount", 5);
    CSettings s = LoadFrom(store);
    EXPECT_EQ(s.maxPDPacketCount, 99999u);
    EXPECT_EQ(s.maxVbusInfoCount, 9999999u);
    const StoreLimits limits = s.CaptureLimits();
    EXPECT_EQ(limits.packetLimit, 99999u);
    EXPECT_EQ(limits.sampleLimit, 9999999u);

    s.maxPDPacketCount = 1234;
    s.maxVbusInfoCount = 5678;
    s.Save(store);
    uint32_t v = 0;
    ASSERT_TRUE(store.GetInt("RecordnMaxPDPacketCount", v));
    EXPECT_EQ(v, 1234u);
    ASSERT_TRUE(store.GetInt("RecordMaxVbusInfoCount", v));
    EXPECT_EQ(v, 5678u);
    EXPECT_EQ(LoadFrom(store).maxPDPacketCount, 99999u);
    EXPECT_EQ(LoadFrom(store).maxVbusInfoCount, 9999999u);
}

TEST_F(SettingsFixture, EachAutoRemoveFlagDrivesItsOwnStoreSwitch) {
    struct Case {
        bool packetFlag, sampleFlag;
    } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "packets " << c.packetFlag << ", samples " << c.sampleFlag);
        CMemorySettingsStore store;
        store.SetInt("RecordPDPacketAutoRemove", c.packetFlag);
        store.SetInt("RecordVbusInfoAutoRemove", c.sampleFlag);
        CSettings s = LoadFrom(store);
        s.maxPDPacketCount = 10;
        s.maxVbusInfoCount = 20;
        const StoreLimits limits = s.CaptureLimits();
        EXPECT_EQ(limits.packetLimit, 10u);
        EXPECT_EQ(limits.sampleLimit, 20u);
        EXPECT_EQ(limits.packetAutoRemove, c.packetFlag);
        EXPECT_EQ(limits.sampleAutoRemove, c.sampleFlag);

        // Through the store: both counts well past their limits.
        CCaptureStore capture(nullptr, limits);
        for (uint32_t i = 0; i < 30; ++i) {
            const testblocks::Block b = testblocks::VbusBlock({{i * 10, 5000, 0}});
            capture.AddSamples(b.data(), 0);
        }
        for (int64_t i = 0; i < 15; ++i) {
            auto p = std::make_unique<CCCPacket>();
            p->absStartTime = 10 * i;
            ASSERT_TRUE(capture.AddPacket(p));
        }
        capture.EnforceLimits();
        EXPECT_EQ(capture.PacketCount(), c.packetFlag ? 10u : 15u);
        EXPECT_EQ(capture.packetsFull, !c.packetFlag);
        EXPECT_EQ(capture.SampleCount(), c.sampleFlag ? 20u : 30u);
        EXPECT_EQ(capture.vbusFull, !c.sampleFlag);
    }
}

TEST_F(SettingsFixture, RecordFolderPrefersTheExternalFolderAndRefillsAnEmptyOne) {
    CMemorySettingsStore store;
    store.SetText("RecordFileFolder", temp.File("mine"));
    CSettings s = LoadFrom(store);
    EXPECT_EQ(s.RecordFolder(), temp.File("mine"));
    // A stored folder is taken as it is: neither it nor the default folder is created.
    EXPECT_FALSE(fs::exists(temp.File("mine")));
    EXPECT_FALSE(fs::exists(documents));

    s.externalRecordFolder = temp.File("theirs");
    EXPECT_EQ(s.RecordFolder(), temp.File("theirs"));
    EXPECT_EQ(s.recordFileFolder, temp.File("mine"));

    s.externalRecordFolder.clear();
    s.recordFileFolder.clear();
    const std::string folder = (fs::path(documents) / "Ambrio").string();
    EXPECT_EQ(s.RecordFolder(), folder);
    EXPECT_EQ(s.recordFileFolder, folder);
    EXPECT_EQ(s.DefaultRecordFolder(), folder);
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(SettingsFixture, ColumnLayoutFollowsTheRecordsAndKeepsWidths) {
    CSettings s = LoadFrom(CMemorySettingsStore{});
    s.columns[1] = {true, 55, 0};
    s.columns[0] = {false, 50, 1};
    const ColumnLayout layout = s.Columns();
    EXPECT_TRUE(layout.visible[1]);
    EXPECT_EQ(layout.position[1], 0);
    EXPECT_FALSE(layout.visible[0]);
    EXPECT_EQ(layout.position[0], 1);
    EXPECT_EQ(layout.position[37], 37);

    ColumnLayout changed = ColumnLayout::Defaults();
    changed.visible[21] = false;
    changed.position[21] = 3;
    s.SetColumns(changed);
    EXPECT_EQ(s.columns[21], (ColumnRecord{false, 300, 3}));
    EXPECT_EQ(s.columns[1], (ColumnRecord{false, 55, 1}));
}
