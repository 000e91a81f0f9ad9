// The main window's commands: ids shared by menu, toolbar and accelerators, with their menu texts and
// prompt strings (status-bar text, a line break, the tool tip).
#pragma once

#include <cstdint>
#include <string_view>

namespace cmd {

inline constexpr uint32_t kNew = 57600;
inline constexpr uint32_t kOpen = 57601;
inline constexpr uint32_t kSave = 57603;
inline constexpr uint32_t kSaveAs = 57604;
inline constexpr uint32_t kExit = 57665;
inline constexpr uint32_t kAbout = 57664;
inline constexpr uint32_t kRun = 32771;
inline constexpr uint32_t kStop = 32772;
inline constexpr uint32_t kClear = 32800;
inline constexpr uint32_t kGraphAutoScroll = 32802;
inline constexpr uint32_t kRecordSettings = 32803;
inline constexpr uint32_t kPdAutoScroll = 32805;
inline constexpr uint32_t kFind = 32807;
inline constexpr uint32_t kFindPrev = 32810;
inline constexpr uint32_t kFindNext = 32811;
inline constexpr uint32_t kRecordFileSettings = 32817;
inline constexpr uint32_t kShowPlots = 32836;
inline constexpr uint32_t kShowPdPackets = 32841;
inline constexpr uint32_t kColumnSettings = 32843;
inline constexpr uint32_t kDisplayFilterSettings = 32850;
inline constexpr uint32_t kExport = 32858;
inline constexpr uint32_t kDisableDisplayFilters = 32864;
inline constexpr uint32_t kInstallDriver = 32867;
inline constexpr uint32_t kPdFontSettings = 32869;
inline constexpr uint32_t kGraphFontSettings = 32872;
inline constexpr uint32_t kVbusCurrentDirection = 32874;
inline constexpr uint32_t kStitch = 32876;
inline constexpr uint32_t kCalibration = 32919;
inline constexpr uint32_t kShowGraph = 310;
// File menu: a logic-analyzer capture of the CC lines becomes a record file (an id of its own).
inline constexpr uint32_t kImportLogic = 33010;
// View menu: the Analysis pane (an id of its own, apart from the table's).
inline constexpr uint32_t kShowAnalysis = 33001;
// Capture menu: tolerant bit recovery for the open file and what is decoded next (an id of its own).
inline constexpr uint32_t kTolerantDecoding = 33020;
// File menu: the folder of the record file, in the desktop's file manager (an id of its own).
inline constexpr uint32_t kOpenContainingFolder = 33030;
// View menu: the Transactions pane (an id of its own).
inline constexpr uint32_t kShowTransactions = 33040;

// Graph context menu commands the window routes to the graph (32784 is shared with the packet list's
// "Absolute").
inline constexpr uint32_t kGraphMarkerO = 32828;
inline constexpr uint32_t kGraphMarkerX = 32829;
inline constexpr uint32_t kGraphOriginCurrent = 32834;

// Packet list context menu.
inline constexpr uint32_t kSetBookmark = 32782;
inline constexpr uint32_t kClearBookmark = 32783;
inline constexpr uint32_t kOriginAbsolute = 32784;
inline constexpr uint32_t kOriginCurrent = 32785;
inline constexpr uint32_t kSetMarkerA = 32791;
inline constexpr uint32_t kClearMarkerA = 32792;
inline constexpr uint32_t kSetMarkerB = 32793;
inline constexpr uint32_t kClearMarkerB = 32794;
inline constexpr uint32_t kClearAllBookmarks = 32797;

struct CommandText {
    uint32_t id;
    const char* menuText; // with '&' for the mnemonic and "\t" before the shown accelerator
    const char* prompt;   // "status text\ntool tip"; null when the command has none
    const char* shortcut; // the key, as QKeySequence reads it; null for none
};

// The commands the window offers, in no particular order.
inline constexpr CommandText kCommands[] = {
    {kNew, "&New\tCtrl+N", "Create a new document\nNew", "Ctrl+N"},
    {kOpen, "&Open...\tCtrl+O", "Open a record file\nOpen", "Ctrl+O"},
    {kSave, "&Save\tCtrl+S", "Save the active document\nSave", "Ctrl+S"},
    {kSaveAs, "Save &As...", "Save the record file with a new name\nSave As", nullptr},
    {kExport, "&Export...", "Export the record file\nExport", nullptr},
    {kStitch, "Stitch Record Files", nullptr, nullptr},
    {kOpenContainingFolder, "Open Containing &Folder",
     "Show the folder of the record file in the file manager\nOpen Containing Folder", nullptr},
    {kExit, "E&xit", nullptr, nullptr},
    {kRun, "&Run\tCtrl+R", "Start Recording\nStart", "Ctrl+R"},
    {kStop, "&Stop\tCtrl+P", "Stop Recording\nStop", "Ctrl+P"},
    {kClear, "&Clear\tCtrl+D", "Clear Recorded Data\nClear", "Ctrl+D"},
    {kRecordSettings, "Record Settings", "Record Settings\nRecord Settings", nullptr},
    {kRecordFileSettings, "Record File Settings", "Record File Settings\nRecord File Settings", nullptr},
    {kVbusCurrentDirection, "VBUS Current Direction Setting",
     "VBUS Current Direction Setting\nSelect VBUS Current Positive Direction", nullptr},
    {kCalibration, "Voltage/Current Calibration Setting", nullptr, nullptr},
    // A menu text shows the key that acts; a prompt belongs to the command that does what it says.
    {kFind, "&Find\tCtrl+F", "Find PD Message\nFind", "Ctrl+F"},
    {kFindPrev, "Find &Prev\tShift+F3", "Find Previous PD Message\nFind Prev", "Shift+F3"},
    {kFindNext, "Find &Next\tF3", "Find Next PD Message\nFind Next", "F3"},
    {kPdAutoScroll, "&Auto Scroll", "Enable PD Messages Auto Scroll\nMessage Auto Scroll", nullptr},
    {kDisplayFilterSettings, "Display Filter Settings", "Conigure Display Filter Settings\nDisplay Filter Settings",
     nullptr},
    {kDisableDisplayFilters, "Disable Display Filters", "Disable Display Filters\nDisable Filters", nullptr},
    {kColumnSettings, "Column Settings", nullptr, nullptr},
    {kPdFontSettings, "Font Settings", nullptr, nullptr},
    {kShowGraph, "&Show Graph\tF7", "Enable Graph View\nGraph", "F7"},
    {kShowPlots, "Show Measuring &Points", "Display Measuring Plots on Graph\nDisplay Plots", nullptr},
    {kShowPdPackets, "Show PD Packets", "Display PD Packets on Graph\nDisplay PD", nullptr},
    {kGraphAutoScroll, "&Auto Scroll", "Enable Graph Auto Scroll\nGraph Auto Scroll", nullptr},
    {kGraphFontSettings, "Font Settings", nullptr, nullptr},
    {kInstallDriver, "Install Ambrio Driver", nullptr, nullptr},
    {kAbout, "&About Ambrio App...", nullptr, nullptr},
};

const CommandText* FindCommand(uint32_t id);
// The status-bar part and the tool-tip part of a prompt string.
std::string_view PromptStatusText(const CommandText& c);
std::string_view PromptToolTip(const CommandText& c);

inline constexpr char kReadyText[] = "Ready";
inline constexpr char kWindowTitle[] = "Ambrio App";
inline constexpr char kUntitled[] = "Untitled";
inline constexpr char kFileFilter[] = "Ambrio Files (*.qxc)";
inline constexpr char kDriverNotFoundText[] = "Driver Installer files not found.\n\n \"%s\"";
inline constexpr char kDriverInstaller64[] = "./driver/DriverSetup64";
inline constexpr char kDriverInstaller32[] = "./driver/DriverSetup32";
inline constexpr char kDriverInstallerArgument[] = "FromQXApp";

} // namespace cmd
