#include "MainFrame.h"

#include "AnalysisPane.h"
#include "CommandTable.h"
#include "DeviceCommands.h"
#include "ExportDlg.h"
#include "DockableGraph.h"
#include "GraphFont.h"
#include "GraphView.h"
#include "ImportLogicDlg.h"
#include "LogViewCfgDlg.h"
#include "PacketFindDlg.h"
#include "PDPacketListView.h"
#include "PDPacketTreeView.h"
#include "Pictures.h"
#include "QXCtrlView.h"
#include "QXLogView.h"
#include "RecordFile.h"
#include "SettingsDialogs.h"
#include "StitchFileDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QTimer>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QSysInfo>
#include <QToolBar>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

constexpr size_t kRecentFileCount = 4;
constexpr char kRecordExtension[] = ".qxc";
// How often a long operation lets the window paint.
constexpr auto kPaintInterval = std::chrono::milliseconds(50);
// An import that takes longer than this shows its progress box with Cancel.
constexpr int kImportProgressDelayMs = 700;

// The Analysis pane's keys: the user's limit overrides (analysis::kLimitsGroup) and whether it is shown,
// in the application's store (as the recent files) beside its own group.
constexpr char kAnalysisPaneVisible[] = "PaneVisible";

// Tolerant bit recovery: on or off, in a group of its own in the application's store, off by default.
constexpr char kTolerantDecodingKey[] = "Decoding/Tolerant";

std::unique_ptr<QSettings> AnalysisSettings() {
    auto s = std::make_unique<QSettings>();
    s->beginGroup(QString::fromLatin1(analysis::kLimitsGroup));
    return s;
}

// The recent-file list holds absolute, normalised paths, so one file has one entry.
std::string RecentFilePath(const std::string& path) {
    std::error_code ec;
    const std::string full = std::filesystem::absolute(path, ec).lexically_normal().string();
    return ec ? path : full;
}

bool HasRecordExtension(const std::string& path) {
    const size_t n = std::strlen(kRecordExtension);
    return path.size() >= n && QString::fromStdString(path.substr(path.size() - n)).compare(
                                   kRecordExtension, Qt::CaseInsensitive) == 0;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string S(const QString& s) {
    return s.toStdString();
}

QString MenuText(const char* text) {
    return QString::fromUtf8(text);
}

// Where `cmake --install` puts the analyzer's udev rule (set by the build from packaging/).
#ifndef AMBRIO_UDEV_RULE
#define AMBRIO_UDEV_RULE "/etc/udev/rules.d/70-ambrio-analyzer.rules"
#endif

// The driver installer in "driver" below the current folder, one per word size of the system.
std::string DriverInstallerPath() {
    return QSysInfo::currentCpuArchitecture().contains("64") ? cmd::kDriverInstaller64 : cmd::kDriverInstaller32;
}

// Here the driver is the udev rule that lets the user open the analyzer: the prompt says where the
// installation puts it and how udev takes it up without a restart.
QString DriverPromptText() {
    return QStringLiteral("  Would you like to install Ambrio Driver?\n\n"
                          "On this system the Ambrio driver is the udev rule\n"
                          "    %1\n"
                          "which \"cmake --install\" puts in place. Once it is there, let udev read it (as root):\n"
                          "    udevadm control --reload-rules && udevadm trigger\n\n"
                          "\"Install Driver\" starts the installer %2 when there is one.")
        .arg(AMBRIO_UDEV_RULE, Q(DriverInstallerPath()));
}

} // namespace

CMainFrame::CMainFrame(const FrameEnvironment& env, QWidget* parent)
    : QMainWindow(parent), settings(*env.settings), link(*env.link),
      recentFiles(env.recentFiles ? env.recentFiles : &ownRecentFiles),
      rememberedListFont(env.rememberedListFont ? env.rememberedListFont : &ownRememberedFont),
      connection(link), reader(connection), doc(this, this, settings.CaptureLimits()),
      control(settings, connection, reader, &doc, *this) {
    showPlots = settings.graphShowPlots;
    showPdPackets = settings.graphShowPDPackets;
    pdMessageAutoScroll = settings.pdMessageAutoScroll;
    control.graphAutoScroll = settings.graphAutoScroll;
    titleName = cmd::kUntitled;

    dialogs.message = [this](const std::string& text) {
        QMessageBox::information(this, cmd::kWindowTitle, Q(text));
    };
    dialogs.askSave = [this](const std::string& title) {
        const auto answer = QMessageBox::question(
            this, cmd::kWindowTitle, QStringLiteral("Save changes to %1?").arg(Q(title)),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
        return answer == QMessageBox::Yes  ? FrameDialogs::SaveAnswer::Yes
               : answer == QMessageBox::No ? FrameDialogs::SaveAnswer::No
                                           : FrameDialogs::SaveAnswer::Cancel;
    };
    dialogs.openFileName = [this] {
        return S(QFileDialog::getOpenFileName(this, QString(), QString(), cmd::kFileFilter));
    };
    dialogs.openLogicCaptureName = [this] {
        return S(QFileDialog::getOpenFileName(this, "Import Logic Capture", QString(), cmd::kLogicCaptureFilter));
    };
    dialogs.saveFileName = [this](const std::string& suggested) {
        // The dialog adds the extension to a bare name before it asks about replacing a file.
        QFileDialog dialog(this, QString(), Q(suggested), cmd::kFileFilter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(kRecordExtension + 1);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
        return S(dialog.selectedFiles().front());
    };
    dialogs.askYesNo = [this](const std::string& text) {
        return QMessageBox::question(this, cmd::kWindowTitle, Q(text), QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    dialogs.chooseFont = [this](const QFont& current) -> std::optional<QFont> {
        bool ok = false;
        const QFont f = QFontDialog::getFont(&ok, current, this);
        if (!ok) return std::nullopt;
        return f;
    };
    dialogs.chooseFolder = [this](const std::string& current) { return BrowseForRecordFolder(this, current); };
    recordFileDlg = std::make_unique<CCaptureFilenameDlg>(settings, this);
    recordFileDlg->clock = [this] { return control.clock(); };
    doc.store.tolerantBits = QSettings().value(kTolerantDecodingKey, false).toBool();

    setObjectName("ZerlinApp");
    setWindowIcon(AppIcon());
    setMinimumSize(640, 480);
    resize(settings.window.width, settings.window.height);
    CreateActions();
    CreateMenus();
    CreateToolBar();
    messagePane = new QLabel(cmd::kReadyText, this);
    messagePane->setObjectName("messagePane");
    statusBar()->addWidget(messagePane, 1);
    notePane = new QLabel(this);
    notePane->setObjectName("documentNote");
    statusBar()->addPermanentWidget(notePane);
    findingsPane = new QLabel(this);
    findingsPane->setObjectName("findingsCount");
    statusBar()->addPermanentWidget(findingsPane);
    CreatePanes();
    setAcceptDrops(true);
    UpdateTitle();

    for (IDocView* v : views) v->OnInitialUpdate();
    AttachGraph();

    reader.SetCalibration(ReaderCalibrationFrom(settings.calibration));
    reader.SetConnStateListener(this);
    reader.Start();
    readerStarted = true;
    connect(&timer, &QTimer::timeout, this, &CMainFrame::Tick);
    if (env.startTimer) timer.start(env.tickMs);
    UpdateCommandStates();
}

CMainFrame::~CMainFrame() {
    timer.stop();
    // The reader stops a running recording itself, so the record file gets its header block.
    reader.RequestExit();
    reader.WaitForExit();
    reader.SetConnStateListener(nullptr);
    connection.Close();
    StoreWindowRecord();
    settings.graphShowPlots = showPlots;
    settings.graphShowPDPackets = showPdPackets;
    settings.graphAutoScroll = control.graphAutoScroll;
    settings.pdMessageAutoScroll = pdMessageAutoScroll;
    if (analysisPane) AnalysisSettings()->setValue(kAnalysisPaneVisible, !analysisPane->isHidden());
    QSettings().setValue(kTolerantDecodingKey, doc.store.tolerantBits);
    // The views go before the document and the reader they refer to; the graph leaves its area
    // switches in the settings.
    views.clear();
    delete graphPane;
    graphPane = nullptr;
    delete analysisPane;
    analysisPane = nullptr;
    delete takeCentralWidget();
}

void CMainFrame::StoreWindowRecord() {
    settings.window.width = width();
    settings.window.height = height();
    if (rows && rows->count() >= 2) settings.window.listPaneHeight = rows->sizes().at(1);
    if (bottom && bottom->count() >= 1) settings.window.treePaneWidth = bottom->sizes().at(0);
}

// ---- layout ------------------------------------------------------------------------------------------

void CMainFrame::CreatePanes() {
    rows = new QSplitter(Qt::Vertical, this);
    rows->setChildrenCollapsible(false);
    ctrlView = new CQXCtrlView(*this, rows);
    logView = new CQXLogView(*this, rows);
    bottom = new QSplitter(Qt::Horizontal, rows);
    bottom->setChildrenCollapsible(false);
    treeView = new CPDPacketTreeView(*this, bottom);
    fieldView = new CPDPacketListView(*this, bottom);
    rows->addWidget(ctrlView);
    rows->addWidget(logView);
    rows->addWidget(bottom);
    bottom->addWidget(treeView);
    bottom->addWidget(fieldView);
    // Creation order is update order: the tree is rebuilt before the field table reads its choice.
    views = {ctrlView, logView, treeView, fieldView};

    logView->setMinimumHeight(100);
    bottom->setMinimumHeight(50);
    treeView->setMinimumWidth(100);
    const int h = settings.window.height;
    const int ctrlHeight = settings.ctrlViewHeight != 0 ? settings.ctrlViewHeight : std::min(h / 4, 100);
    const int listHeight = std::max(100, settings.window.listPaneHeight);
    rows->setSizes({ctrlHeight, listHeight, std::max(100, h - ctrlHeight - listHeight)});
    // As in a classic splitter, the last row and column take what the window gains or loses.
    rows->setStretchFactor(0, 0);
    rows->setStretchFactor(1, 0);
    rows->setStretchFactor(2, 1);
    const int treeWidth = std::max(100, settings.window.treePaneWidth);
    bottom->setSizes({treeWidth, std::max(100, settings.window.width - treeWidth)});
    bottom->setStretchFactor(0, 0);
    bottom->setStretchFactor(1, 1);
    setCentralWidget(rows);

    graphPane = new CDockableGraph(*this, this);
    addDockWidget(Qt::BottomDockWidgetArea, graphPane);
    resizeDocks({graphPane}, {h * 45 / 100}, Qt::Vertical);
    connect(graphPane, &QDockWidget::visibilityChanged, this, [this] { UpdateCommandStates(); });
    CGraphView* graph = graphPane->View();
    graph->SetShowPdPackets(showPdPackets);
    graph->SetShowMeasuringPoints(showPlots);
    views.push_back(graph);

    // The Analysis pane shares the graph's area; its limits and visibility live in a group of their own.
    const auto stored = AnalysisSettings();
    analysis::CLimits limits;
    const std::string rejected = limits.Load([&stored](const std::string& key, std::string* value) {
        const QVariant v = stored->value(QString::fromStdString(key));
        if (!v.isValid()) return false;
        *value = v.toString().toStdString();
        return true;
    });
    analysisPane = new CAnalysisPane(*this, limits, findingsPane, this);
    addDockWidget(Qt::BottomDockWidgetArea, analysisPane);
    tabifyDockWidget(graphPane, analysisPane);
    graphPane->raise();
    analysisPane->setVisible(stored->value(kAnalysisPaneVisible, false).toBool());
    connect(analysisPane, &QDockWidget::visibilityChanged, this, [this] { UpdateCommandStates(); });
    views.push_back(analysisPane);
    if (!rejected.empty()) {
        // One line per key left at its default.
        std::string text = "Analysis settings: " + rejected.substr(0, rejected.size() - 1);
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
            text.replace(at, 1, "; ");
        SetStatusText(text + " (the default is used)");
    }
}

QAction* CMainFrame::AddAction(uint32_t id, bool checkable) {
    const cmd::CommandText* c = cmd::FindCommand(id);
    QAction* a = new QAction(this);
    if (c) {
        a->setText(MenuText(c->menuText));
        if (c->prompt) {
            a->setStatusTip(Q(std::string(cmd::PromptStatusText(*c))));
            a->setToolTip(Q(std::string(cmd::PromptToolTip(*c))));
        }
        // The key lives apart from the action, so the menu shows its own accelerator text.
        if (c->shortcut) {
            auto* key = new QShortcut(QKeySequence(QString::fromLatin1(c->shortcut)), this);
            connect(key, &QShortcut::activated, this, [this, id] { ExecuteCommand(id); });
        }
    }
    a->setIcon(CommandIcon(id));
    a->setIconVisibleInMenu(false);
    a->setCheckable(checkable);
    connect(a, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
    actions[id] = a;
    return a;
}

void CMainFrame::CreateActions() {
    for (uint32_t id : {cmd::kNew, cmd::kOpen, cmd::kSave, cmd::kSaveAs, cmd::kExit, cmd::kRun, cmd::kStop,
                        cmd::kClear, cmd::kCalibration, cmd::kFindPrev, cmd::kFindNext, cmd::kInstallDriver,
                        cmd::kPdFontSettings})
        AddAction(id);
    AddAction(cmd::kExport);
    AddAction(cmd::kStitch);
    QAction* import = AddAction(cmd::kImportLogic);
    import->setText("&Import logic capture...");
    import->setStatusTip("Write a record file from a logic-analyzer capture of the CC lines and open it");
    AddAction(cmd::kPdAutoScroll, true);
    for (uint32_t id : {cmd::kShowGraph, cmd::kShowPlots, cmd::kShowPdPackets, cmd::kGraphAutoScroll}) AddAction(id, true);
    QAction* analysis = AddAction(cmd::kShowAnalysis, true);
    analysis->setText("&Analysis");
    analysis->setStatusTip("Show or hide the Analysis pane");
    QAction* tolerant = AddAction(cmd::kTolerantDecoding, true);
    tolerant->setText("&Tolerant Bit Recovery");
    tolerant->setStatusTip("Also read packets with a short or missing preamble or stretched half-bits; a "
                           "message counts only when its CRC checks");
    AddAction(cmd::kGraphFontSettings);
    AddAction(cmd::kDisableDisplayFilters, true);
    for (uint32_t id : {cmd::kRecordSettings, cmd::kRecordFileSettings, cmd::kVbusCurrentDirection, cmd::kAbout})
        AddAction(id);
    for (uint32_t id : {cmd::kFind, cmd::kDisplayFilterSettings, cmd::kColumnSettings}) AddAction(id);
    for (const CcInjectionCommand& c : kCcInjectionCommands) {
        QAction* a = AddAction(c.id, true);
        a->setText(MenuText(c.text));
    }
}

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction(actions[cmd::kNew]);
    file->addAction(actions[cmd::kOpen]);
    file->addAction(actions[cmd::kImportLogic]);
    file->addAction(actions[cmd::kSave]);
    file->addAction(actions[cmd::kSaveAs]);
    file->addAction(actions[cmd::kExport]);
    file->addAction(actions[cmd::kStitch]);
    file->addSeparator();
    recentMenu = file->addMenu("Recent Files");
    for (size_t i = 0; i < kRecentFileCount; ++i) {
        QAction* a = recentMenu->addAction(QString());
        connect(a, &QAction::triggered, this, [this, i] {
            if (i < recentFiles->size() && !RecordingActive()) OpenFile((*recentFiles)[i]);
        });
        recentActions.push_back(a);
    }
    file->addSeparator();
    file->addAction(actions[cmd::kExit]);
    UpdateRecentMenu();

    QMenu* capture = menuBar()->addMenu("&Capture");
    capture->addAction(actions[cmd::kRun]);
    capture->addAction(actions[cmd::kStop]);
    capture->addAction(actions[cmd::kClear]);
    capture->addSeparator();
    capture->addAction(actions[cmd::kRecordSettings]);
    capture->addAction(actions[cmd::kRecordFileSettings]);
    capture->addAction(actions[cmd::kVbusCurrentDirection]);
    capture->addAction(actions[cmd::kCalibration]);
    capture->addAction(actions[cmd::kTolerantDecoding]);
    QMenu* injection = capture->addMenu(kCcInjectionMenuText);
    for (const CcInjectionCommand& c : kCcInjectionCommands) {
        if (c.id == 32906) injection->addSeparator();
        injection->addAction(actions[c.id]);
    }
    capture->addSeparator();
    capture->addAction(actions[cmd::kInstallDriver]);

    QMenu* pd = menuBar()->addMenu("&PD Message");
    pd->addAction(actions[cmd::kFind]);
    pd->addAction(actions[cmd::kFindPrev]);
    pd->addAction(actions[cmd::kFindNext]);
    pd->addSeparator();
    pd->addAction(actions[cmd::kPdAutoScroll]);
    pd->addSeparator();
    pd->addAction(actions[cmd::kDisplayFilterSettings]);
    pd->addAction(actions[cmd::kDisableDisplayFilters]);
    pd->addSeparator();
    pd->addAction(actions[cmd::kColumnSettings]);
    pd->addAction(actions[cmd::kPdFontSettings]);

    QMenu* graph = menuBar()->addMenu("&Graph");
    graph->addAction(actions[cmd::kShowGraph]);
    graph->addAction(actions[cmd::kShowPlots]);
    graph->addAction(actions[cmd::kShowPdPackets]);
    graph->addAction(actions[cmd::kGraphAutoScroll]);
    graph->addSeparator();
    graph->addAction(actions[cmd::kGraphFontSettings]);

    QMenu* view = menuBar()->addMenu("&View");
    view->addAction(actions[cmd::kShowAnalysis]);

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(actions[cmd::kAbout]);

    // Enabling and check marks are evaluated when a menu is shown.
    for (QMenu* m : {file, capture, injection, pd, graph, view, help})
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
}

void CMainFrame::CreateToolBar() {
    QToolBar* bar = addToolBar("Standard");
    bar->setObjectName("Standard");
    bar->setMovable(false);
    bar->addAction(actions[cmd::kNew]);
    bar->addAction(actions[cmd::kOpen]);
    bar->addAction(actions[cmd::kSaveAs]);
    bar->addAction(actions[cmd::kExport]);
    bar->addSeparator();
    bar->addAction(actions[cmd::kRun]);
    bar->addAction(actions[cmd::kStop]);
    bar->addAction(actions[cmd::kClear]);
    bar->addSeparator();
    bar->addAction(actions[cmd::kFind]);
    bar->addAction(actions[cmd::kFindPrev]);
    bar->addAction(actions[cmd::kFindNext]);
    bar->addSeparator();
    bar->addAction(actions[cmd::kDisplayFilterSettings]);
    bar->addAction(actions[cmd::kDisableDisplayFilters]);
    bar->addSeparator();
    bar->addAction(actions[cmd::kPdAutoScroll]);
    bar->addSeparator();
    bar->addAction(actions[cmd::kShowGraph]);
    bar->addAction(actions[cmd::kShowPlots]);
    bar->addAction(actions[cmd::kShowPdPackets]);
    bar->addAction(actions[cmd::kGraphAutoScroll]);
    bar->addSeparator();
    bar->addAction(actions[cmd::kRecordSettings]);
    bar->addAction(actions[cmd::kRecordFileSettings]);
    bar->addSeparator();
    bar->addAction(actions[cmd::kAbout]);
}

// ---- commands ----------------------------------------------------------------------------------------

QAction* CMainFrame::Action(uint32_t id) const {
    const auto it = actions.find(id);
    return it == actions.end() ? nullptr : it->second;
}

bool CMainFrame::IsCommandEnabled(uint32_t id) const {
    const bool active = control.RecordingActive();
    switch (id) {
    case cmd::kNew:
    case cmd::kOpen:
    case cmd::kRecordSettings:
    case cmd::kRecordFileSettings:
        return !active;
    case cmd::kSave:
    case cmd::kSaveAs:
    case cmd::kExport:
    case cmd::kStitch:
        return !active && !doc.store.recordPath.empty();
    case cmd::kRun:
        return control.CanRun();
    case cmd::kStop:
        return active;
    case cmd::kClear:
        return doc.store.SampleCount() != 0;
    case cmd::kCalibration:
        return false;
    case cmd::kInstallDriver:
        return !connection.connected;
    case cmd::kTolerantDecoding: // the open file is decoded again, which a recording must not see
    case cmd::kImportLogic:
        return !RecordingActive() && !Busy();
    case cmd::kExit:
    case cmd::kVbusCurrentDirection:
    case cmd::kAbout:
    case kIdEnterFirmwareUpdate:
    case cmd::kFindPrev:
    case cmd::kFindNext:
    case cmd::kPdAutoScroll:
    case cmd::kDisableDisplayFilters:
    case cmd::kFind:
    case cmd::kDisplayFilterSettings:
    case cmd::kColumnSettings:
    case cmd::kPdFontSettings:
    case cmd::kShowGraph:
    case cmd::kGraphFontSettings:
    case cmd::kShowAnalysis:
        return true;
    case cmd::kShowPlots:
    case cmd::kShowPdPackets:
    case cmd::kGraphAutoScroll:
        return graphPane && !graphPane->isHidden();
    case cmd::kGraphMarkerO:
    case cmd::kGraphMarkerX:
    case cmd::kGraphOriginCurrent:
    case CGraphView::kCmdOriginAbsolute:
        return GraphView() && GraphView()->IsCommandEnabled(id);
    default:
        return FindCcInjectionCommand(id) != nullptr;
    }
}

std::optional<bool> CMainFrame::IsCommandChecked(uint32_t id) const {
    switch (id) {
    case cmd::kPdAutoScroll:
        return pdMessageAutoScroll;
    case cmd::kDisableDisplayFilters:
        return !displayFilter.displayFilterEnabled;
    case cmd::kShowGraph:
        return graphPane && !graphPane->isHidden();
    case cmd::kShowAnalysis:
        return analysisPane && !analysisPane->isHidden();
    case cmd::kTolerantDecoding:
        return doc.store.tolerantBits;
    case cmd::kShowPlots:
        return showPlots;
    case cmd::kShowPdPackets:
        return showPdPackets;
    case cmd::kGraphAutoScroll:
        return control.graphAutoScroll;
    default:
        if (const CcInjectionCommand* c = FindCcInjectionCommand(id)) return IsCcInjectionChecked(connection, *c);
        return std::nullopt;
    }
}

void CMainFrame::UpdateCommandStates() {
    for (auto& [id, a] : actions) {
        a->setEnabled(IsCommandEnabled(id));
        if (const auto checked = IsCommandChecked(id)) a->setChecked(*checked);
    }
    for (QAction* a : recentActions) a->setEnabled(!RecordingActive());
    UpdateTitle();
}

void CMainFrame::ExecuteCommand(uint32_t id) {
    if (!IsCommandEnabled(id)) return;
    if (id == cmd::kNew || id == cmd::kOpen || id == cmd::kImportLogic || id == cmd::kRun || id == cmd::kClear)
        FinishAutomaticExport();
    switch (id) {
    case cmd::kExport:
        OnExport();
        break;
    case cmd::kStitch:
        OnStitch();
        break;
    case cmd::kNew:
        OnNew();
        break;
    case cmd::kOpen:
        OnOpen();
        break;
    case cmd::kImportLogic:
        OnImportLogic();
        break;
    case cmd::kSave:
        OnSave(false);
        break;
    case cmd::kSaveAs:
        OnSave(true);
        break;
    case cmd::kExit:
        close();
        break;
    case cmd::kRun:
        control.RunCommand();
        break;
    case cmd::kStop:
        control.Stop();
        break;
    case cmd::kClear:
        control.Clear();
        break;
    case cmd::kFindNext:
        if (logView) logView->FindInList(true);
        break;
    case cmd::kFindPrev:
        if (logView) logView->FindInList(false);
        break;
    case cmd::kPdAutoScroll:
        pdMessageAutoScroll = !pdMessageAutoScroll;
        break;
    case cmd::kDisableDisplayFilters:
        OnToggleDisplayFilter();
        break;
    case cmd::kFind:
        OnFind();
        break;
    case cmd::kDisplayFilterSettings:
        OnDisplayFilterSettings();
        break;
    case cmd::kColumnSettings:
        OnColumnSettings();
        break;
    case cmd::kPdFontSettings:
        OnPdFontSettings();
        break;
    case cmd::kInstallDriver:
        OnInstallDriver();
        break;
    case cmd::kRecordSettings:
        OnRecordSettings();
        break;
    case cmd::kRecordFileSettings:
        OnRecordFileSettings();
        break;
    case cmd::kVbusCurrentDirection:
        OnVbusCurrentDirection();
        break;
    case cmd::kAbout:
        OnAbout();
        break;
    case cmd::kShowGraph:
        graphPane->setVisible(graphPane->isHidden());
        break;
    case cmd::kTolerantDecoding:
        OnToggleTolerantDecoding();
        break;
    case cmd::kShowAnalysis:
        analysisPane->setVisible(analysisPane->isHidden());
        if (!analysisPane->isHidden()) analysisPane->raise();
        break;
    case cmd::kShowPlots:
        showPlots = !showPlots;
        GraphView()->SetShowMeasuringPoints(showPlots);
        break;
    case cmd::kShowPdPackets:
        showPdPackets = !showPdPackets;
        GraphView()->SetShowPdPackets(showPdPackets);
        GraphView()->OnUpdate(nullptr, 0);
        break;
    case cmd::kGraphAutoScroll:
        control.graphAutoScroll = !control.graphAutoScroll;
        break;
    case cmd::kGraphFontSettings:
        OnGraphFontSettings();
        break;
    case cmd::kGraphMarkerO:
    case cmd::kGraphMarkerX:
    case cmd::kGraphOriginCurrent:
    case CGraphView::kCmdOriginAbsolute:
        GraphView()->OnCommand(id);
        break;
    default:
        RunDeviceCommand(connection, id);
        break;
    }
    UpdateCommandStates();
}

void CMainFrame::OnNew() {
    if (!SaveModified()) return;
    doc.NewDocument();
    titleName = cmd::kUntitled;
    UpdateTitle();
}

void CMainFrame::OnToggleTolerantDecoding() {
    doc.store.tolerantBits = !doc.store.tolerantBits;
    // The open file is read again the new way; when it cannot be (the user kept unsaved marks, the file
    // is gone) the setting stays as the list shows it.
    const std::string path = doc.docPath;
    if (!path.empty() && !OpenFile(path)) doc.store.tolerantBits = !doc.store.tolerantBits;
}

void CMainFrame::OnOpen() {
    const std::string path = dialogs.openFileName();
    if (path.empty()) return;
    OpenFile(path);
}

bool CMainFrame::OpenFile(const std::string& path) {
    FinishAutomaticExport();
    if (RecordingActive() || Busy()) return false;
    // The same check as qxtool's, before anything is asked or cleared: a file that is no record file
    // leaves the open document as it was.
    rec::RecordFileHead head;
    std::string reason;
    if (!rec::CheckRecordFile(path, &head, &reason)) {
        RemoveRecentFile(path);
        ShowMessage("Cannot open \"" + path + "\" (" + reason + ").");
        return false;
    }
    if (!SaveModified()) return false;
    // The wait cursor spans the decoding and the building of the rows.
    BeginWaitCursor();
    const bool ok = doc.OpenDocument(path);
    if (ok) {
        SetPathName(path);
        UpdateAllViews(nullptr, 0);
        SetStatusText("Decode completed.");
    }
    EndWaitCursor();
    if (!ok) {
        RemoveRecentFile(path);
        ShowMessage("The record file \"" + path + "\" cannot be opened.");
        titleName = cmd::kUntitled;
        UpdateTitle();
        UpdateCommandStates();
        return false;
    }
    if (const int64_t missing = rec::MissingBytes(head); missing > 0) {
        const std::string note = rec::MissingBytesText(missing, rec::HeaderBytesWritten(head));
        notePane->setText(Q(note));
        notePane->setToolTip(Q(note));
        SetStatusText(note);
    }
    return true;
}

void CMainFrame::OnImportLogic() {
    const std::string path = dialogs.openLogicCaptureName();
    if (!path.empty()) ImportLogicCapture(path);
}

bool CMainFrame::ImportLogicCapture(const std::string& path, bool dropped) {
    FinishAutomaticExport();
    if (RecordingActive() || Busy()) return false;
    CImportLogicDlg dialog(path, this);
    dialog.chooseOutput = [this](const std::string& suggested) { return dialogs.saveFileName(suggested); };
    dialog.askReplace = [this](const std::string& text) { return dialogs.askYesNo(text); };
    BeginWaitCursor();
    const bool readable = dialog.ReadChannels();
    EndWaitCursor();
    // A dropped file that is neither a record file nor a capture the library recognises gets the open
    // message; from the menu the dialog says why and takes a format.
    if (!readable && dropped) return OpenFile(path);
    if (ExecSettingsDialog(dialog) != QDialog::Accepted) return false;
    imp::ImportRequest request = dialog.Request();
    // Replacing the open document's own file: its unsaved marks are asked for first.
    std::error_code ec;
    if (!doc.docPath.empty() && std::filesystem::equivalent(request.output, doc.docPath, ec) && !SaveModified())
        return false;

    // The import runs beside the window, which keeps painting meanwhile. A long one shows a modal
    // progress box whose Cancel stops it (nothing is left of the output then); until that box is up,
    // the user's input waits.
    BeginWaitCursor();
    SetStatusText("Importing \"" + path + "\"...");
    imp::ImportReport report;
    std::atomic<bool> done = false, cancel = false;
    request.cancel = &cancel;
    QProgressDialog progress(Q("Importing \"" + path + "\"..."), "Cancel", 0, 0, this);
    progress.setWindowTitle("Import Logic Capture");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(kImportProgressDelayMs);
    progress.setAutoReset(false);
    progress.setMinimumWidth(420);
    connect(&progress, &QProgressDialog::canceled, &progress, [&cancel] { cancel = true; });
    std::thread worker([&] {
        report = imp::ImportLogicCapture(request);
        done = true;
    });
    while (!done) {
        progress.setValue(0); // shows the box once the delay has passed
        QCoreApplication::processEvents(progress.isVisible() ? QEventLoop::AllEvents
                                                             : QEventLoop::ExcludeUserInputEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    progress.hide();
    EndWaitCursor();
    if (!report.ok) {
        if (cancel) {
            SetStatusText("Import stopped; nothing was written.");
            return false;
        }
        SetStatusText("Import failed.");
        ShowMessage("Cannot import \"" + path + "\": " + report.error);
        return false;
    }
    if (!OpenFile(request.output)) return false;
    SetStatusText("Imported " + std::to_string(report.samples) + " samples into \"" + request.output + "\".");
    return true;
}

std::string CMainFrame::DocumentNote() const {
    return notePane ? S(notePane->text()) : std::string();
}

void CMainFrame::OnSave(bool askName) {
    std::string path = doc.docPath;
    if (askName || path.empty()) {
        path = dialogs.saveFileName(path);
        if (path.empty()) return;
        // Without the extension the Open dialog would not show the file.
        if (!HasRecordExtension(path)) {
            path += kRecordExtension;
            std::error_code ec;
            if (std::filesystem::exists(path, ec) &&
                !dialogs.askYesNo("\"" + path + "\" already exists.\nDo you want to replace it?"))
                return;
        }
    }
    if (!FinishRecordingBeforeSave()) return;
    BeginWaitCursor();
    const bool ok = doc.SaveDocument(path);
    EndWaitCursor();
    if (ok) SetPathName(path);
    UpdateCommandStates();
}

bool CMainFrame::FinishRecordingBeforeSave() {
    if (!reader.capturing) return true;
    // Closing with unsaved marks during a recording: the reader thread would go on writing at its own
    // offset over marker blocks appended behind its back. It closes the file first, header block
    // included; the rest of the stream is decoded, then the marks go to the end of the finished file.
    control.Stop();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (reader.capturing && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (reader.capturing) {
        ShowMessage("The recording could not be stopped; the marks were not saved.");
        return false;
    }
    doc.DecodeAvailable();
    return true;
}

void CMainFrame::OnToggleDisplayFilter() {
    SetDisplayFilterEnabled(!displayFilter.displayFilterEnabled);
}

void CMainFrame::SetDisplayFilterEnabled(bool on) {
    displayFilter.displayFilterEnabled = on;
    if (logView) logView->SetupColumns();
    UpdateAllViews(nullptr, 0);
}

void CMainFrame::OnFind() {
    findCriteria.statistics = &doc.store.tallies;
    CPacketFindDlg dialog(findCriteria, this);
    if (execToolDialog(dialog) != QDialog::Accepted || !logView) return;
    // The highlighted cells follow the new criteria.
    logView->viewport()->update();
    logView->FindInList(findCriteria.direction == CFindCriteria::kForward);
}

void CMainFrame::OnDisplayFilterSettings() {
    displayFilter.statistics = &doc.store.tallies;
    CPacketFindDlg dialog(displayFilter, this);
    if (execToolDialog(dialog) == QDialog::Accepted) SetDisplayFilterEnabled(true);
}

void CMainFrame::OnColumnSettings() {
    if (!logView) return;
    // Widths and order the user changed by dragging go into the column info first.
    logView->SaveColumnLayout();
    CLogViewCfgDlg dialog(settings.columns, this);
    if (execToolDialog(dialog) == QDialog::Accepted) logView->SetupColumns();
}

void CMainFrame::OnPdFontSettings() {
    const QFont current = logView ? logView->font() : font();
    const std::optional<QFont> chosen = dialogs.chooseFont(current);
    if (!chosen) return;
    if (logView) logView->SetListFont(*chosen);
    if (treeView) treeView->SetViewFont(*chosen);
    if (fieldView) fieldView->SetViewFont(*chosen);
}

void CMainFrame::OnGraphFontSettings() {
    CGraphView* graph = GraphView();
    if (!graph) return;
    const std::optional<QFont> chosen = dialogs.chooseFont(graph->GraphFont());
    if (!chosen) return;
    // The graph lays itself out by the stored record's height, so it takes the font as stored.
    const FontRecord record = RecordFromFont(*chosen, logicalDpiY());
    graph->SetGraphFont(FontFromRecord(record), FontHeightOf(record));
    settings.graphFont = record;
}

void CMainFrame::OnInstallDriver() {
    const std::string path = DriverInstallerPath();
    if (!std::filesystem::exists(path)) {
        char text[512];
        std::snprintf(text, sizeof text, cmd::kDriverNotFoundText, path.c_str());
        ShowMessage(text);
        return;
    }
    QProcess::startDetached(Q(path), {cmd::kDriverInstallerArgument});
}

// ---- settings dialogs --------------------------------------------------------------------------------

int CMainFrame::ExecSettingsDialog(CSettingsDialog& dialog) {
    dialog.hooks.message = [this](const std::string& text) { dialogs.message(text); };
    dialog.hooks.chooseFolder = [this](const std::string& current) { return dialogs.chooseFolder(current); };
    return execSettingsDialog(dialog);
}

void CMainFrame::OnRecordSettings() {
    CConfigDlg dialog(settings, this);
    if (ExecSettingsDialog(dialog) != QDialog::Accepted) return;
    if (settings.recordVbusSamplingIntervalMS != 0) SendSamplingInterval(connection, settings.recordVbusSamplingIntervalMS);
    doc.store.SetLimits(settings.CaptureLimits());
}

void CMainFrame::OnRecordFileSettings() {
    ExecSettingsDialog(*recordFileDlg);
}

void CMainFrame::OnVbusCurrentDirection() {
    CVbusCurrentDirCfg dialog(settings.vbusCurrDirReverse, settings.vbusCurrDirCfgDoNotAskAgain, this);
    if (ExecSettingsDialog(dialog) != QDialog::Accepted) return;
    settings.vbusCurrDirReverse = dialog.Reverse();
    settings.vbusCurrDirCfgDoNotAskAgain = dialog.DoNotAskAgain();
    if (logView) logView->SetupColumns();
    // The graph takes the direction when it attaches to the document.
    AttachGraph();
}

void CMainFrame::OnAbout() {
    CAboutDlg dialog(connection.fwVersionText, connection.invalidFirmware, connection.serialText, this);
    if (ExecSettingsDialog(dialog) == QDialog::Accepted && dialog.FirmwareUpdateRequested())
        ExecuteCommand(kIdEnterFirmwareUpdate);
}

// ---- the timer ---------------------------------------------------------------------------------------

void CMainFrame::Tick() {
    // A tick inside a long operation (its progress painting lets timers through) waits for the next.
    if (Busy()) return;
    const auto start = std::chrono::steady_clock::now();
    control.OnTimer();
    UpdateCommandStates();
    const auto spent = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    worstTick = std::max(worstTick, spent);
}

void CMainFrame::RefreshControlView() {
    if (ctrlView) ctrlView->Refresh();
}

void CMainFrame::FirstTick(bool connected) {
    // An analyzer works, so its driver is in place: the installer prompt is not needed any more.
    if (connected) {
        settings.launchDriverInstaller = false;
        return;
    }
    if (!settings.launchDriverInstaller) return;
    // No tick runs while the prompt is open.
    const bool ticking = timer.isActive();
    timer.stop();
    CLaunchDriverInstallerDlg prompt(DriverPromptText(), this);
    if (ExecSettingsDialog(prompt) == QDialog::Accepted) ExecuteCommand(cmd::kInstallDriver);
    if (prompt.DoNotAskAgain()) settings.launchDriverInstaller = false;
    if (ticking) timer.start();
}

// ---- remote control ----------------------------------------------------------------------------------

void CMainFrame::RemoteSetRecordName(const std::string& name) {
    control.SetExternalRecordName(name);
}

void CMainFrame::RemoteSetRecordFolder(const std::string& folder) {
    control.SetExternalRecordFolder(folder);
}

bool CMainFrame::RemoteRun(std::string* reason) {
    FinishAutomaticExport();
    std::string why;
    bool ok = false;
    if (Busy()) {
        why = "The window is busy opening or saving a file; try again.";
    } else if (control.externalRecordName.empty()) {
        why = "No record name is set (SetRecordName first).";
    } else if (!reader.readerRunning || reader.capturing) {
        why = "A recording is running or stopping.";
    } else if (!RecordingActive() && doc.modified) {
        // The save prompt would keep the caller waiting: the user decides at the window first.
        why = "The open document has unsaved changes; save or discard them in the window first.";
        SetStatusText(why);
    } else {
        // Messages of the attempt are shown once the caller has its answer.
        inRemoteCall = true;
        remoteMessages.clear();
        ok = control.RemoteRun();
        inRemoteCall = false;
        if (!ok) why = remoteMessages.empty() ? std::string("The recording did not start.") : remoteMessages.front();
        for (const std::string& text : remoteMessages)
            QTimer::singleShot(0, this, [this, text] { dialogs.message(text); });
        remoteMessages.clear();
    }
    if (reason) *reason = why;
    UpdateCommandStates();
    return ok;
}

void CMainFrame::RemoteStop() {
    if (Busy()) {
        WhenIdle([this] { RemoteStop(); });
        return;
    }
    control.RemoteStop();
    UpdateCommandStates();
}

void CMainFrame::ConnStateChanged(int32_t vbusMv, int32_t cc1Mv, int32_t cc2Mv) {
    // Reader thread: hand the values to the user-interface thread.
    QMetaObject::invokeMethod(
        this, [this, vbusMv, cc1Mv, cc2Mv] { emit connStateChanged(vbusMv, cc1Mv, cc2Mv); }, Qt::QueuedConnection);
}

// ---- views and the document --------------------------------------------------------------------------

void CMainFrame::UpdateAllViews(IDocView* sender, int64_t hint) {
    for (IDocView* v : views) v->OnUpdate(sender, hint);
    UpdateTitle();
}

void CMainFrame::SetStatusText(const std::string& text) {
    if (!messagePane) return;
    messagePane->setText(text.empty() ? QString(cmd::kReadyText) : Q(text));
    if (Busy()) KeepPainting();
}

void CMainFrame::KeepPainting() {
    // Every new kind of progress text is painted at once; its percentages at most every interval.
    const QString text = messagePane->text();
    const QString kind = text.left(text.indexOf("..."));
    const auto now = std::chrono::steady_clock::now();
    if (kind == lastPaintedKind && now - lastPaint < kPaintInterval) return;
    lastPaint = now;
    lastPaintedKind = kind;
    messagePane->repaint();
    // Paint events and the like, not the user's clicks and keys: the operation owns the document.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CMainFrame::WhenIdle(std::function<void()> action) {
    afterBusy.push_back(std::move(action));
}

std::string CMainFrame::StatusText() const {
    return messagePane ? S(messagePane->text()) : std::string();
}

void CMainFrame::ShowMessage(const std::string& text) {
    if (inRemoteCall) {
        remoteMessages.push_back(text);
        return;
    }
    dialogs.message(text);
}

bool CMainFrame::LiveReadingsValid() const {
    return connection.connected && reader.readerRunning && !reader.readerExitRequest;
}

const CCCPacket* CMainFrame::SelectedPacket() {
    return logView ? logView->GetSelectedPacket() : nullptr;
}

const QFont* CMainFrame::RememberedListFont() const {
    return rememberedListFont->has_value() ? &**rememberedListFont : nullptr;
}

void CMainFrame::RememberListFont(const QFont& f) {
    *rememberedListFont = f;
}

CGraphView* CMainFrame::GraphView() const {
    return graphPane ? graphPane->View() : nullptr;
}

void CMainFrame::RepaintGraph() {
    // Called after the marks changed; the title shows the document's modified state.
    if (CGraphView* graph = GraphView()) graph->update();
    UpdateTitle();
}

void CMainFrame::CenterGraphOn(int64_t displayTime) {
    if (CGraphView* graph = GraphView()) graph->CenterOn(displayTime);
}

void CMainFrame::RedrawGraph() {
    if (CGraphView* graph = GraphView()) graph->OnUpdate(nullptr, 0);
}

void CMainFrame::GraphFollowNewest() {
    CGraphView* graph = GraphView();
    const CCaptureStore& store = doc.store;
    if (!graph || store.captureOrigin < 0 || store.SampleCount() == 0) return;
    graph->FollowLatest(store.lastSampleTime - store.captureOrigin - store.timeOrigin);
}

void CMainFrame::AttachGraph() {
    if (CGraphView* graph = GraphView()) graph->Attach();
}

bool CMainFrame::GraphMarkers(int64_t* o, int64_t* x) const {
    const CGraphView* graph = GraphView();
    if (!graph) return false;
    *o = graph->Model().MarkerTime(GraphMarker::O);
    *x = graph->Model().MarkerTime(GraphMarker::X);
    return true;
}

void CMainFrame::ShiftGraphTimes(int64_t delta) {
    // The document hands the shift of display times (minus the origin's move); the graph's own times
    // all move by it, and so the marks changed.
    CGraphView* graph = GraphView();
    if (!graph) return;
    graph->ShiftTimes(-delta);
    doc.SetMarksChanged();
}

bool CMainFrame::SaveModified() {
    if (!doc.modified) return true;
    switch (dialogs.askSave(titleName)) {
    case FrameDialogs::SaveAnswer::Yes:
        OnSave(false);
        return !doc.modified;
    case FrameDialogs::SaveAnswer::No:
        return true;
    case FrameDialogs::SaveAnswer::Cancel:
        break;
    }
    return false;
}

bool CMainFrame::RecordFileSettingsDialog(RecordFileChoice* choice) {
    if (ExecSettingsDialog(*recordFileDlg) != QDialog::Accepted) return false;
    choice->caption = recordFileDlg->Caption();
    choice->appendTimestamp = recordFileDlg->AppendTimestamp();
    choice->startTime = recordFileDlg->StartTime();
    return true;
}

bool CMainFrame::ConfirmReplaceRecordFiles(const std::vector<std::string>& existing) {
    std::string text;
    if (existing.size() == 1) {
        text = "The record file \"" + existing.front() + "\" already exists.\n\nReplace it with the new recording?";
    } else {
        text = "The record files \"" + existing.front() + "\" and " + std::to_string(existing.size() - 1) +
               " more of the same series already exist.\n\nReplace them with the new recording?";
    }
    return dialogs.askYesNo(text);
}

void CMainFrame::SetDocumentTitle(const std::string& title) {
    titleName = title;
    UpdateTitle();
}

void CMainFrame::UpdateTitle() {
    setWindowTitle(Q(titleName) + "[*] - " + cmd::kWindowTitle);
    setWindowModified(doc.modified);
}

void CMainFrame::BeginWaitCursor() {
    if (waitCursorDepth++ == 0) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void CMainFrame::EndWaitCursor() {
    if (waitCursorDepth > 0 && --waitCursorDepth == 0) {
        QGuiApplication::restoreOverrideCursor();
        // What arrived meanwhile runs from the event loop, after the operation has returned.
        if (!afterBusy.empty())
            QTimer::singleShot(0, this, [this] {
                auto actions = std::move(afterBusy);
                afterBusy.clear();
                for (auto& a : actions) a();
            });
    }
}

void CMainFrame::ForgetPacketRows() {
    // The document's contents go: so does what was noted about its file.
    if (notePane) {
        notePane->clear();
        notePane->setToolTip(QString());
    }
    if (logView) logView->ForgetRows();
    if (treeView) treeView->ForgetShownPacket();
    if (analysisPane) analysisPane->Reset();
}

std::string CMainFrame::FindingsText() const {
    return findingsPane ? S(findingsPane->text()) : std::string();
}

std::string CMainFrame::RecordFolder() const {
    return const_cast<CRecordingControl&>(control).RecordFolder();
}

void CMainFrame::SetPathName(const std::string& path) {
    titleName = std::filesystem::path(path).filename().string();
    AddRecentFile(path);
    UpdateTitle();
}

std::vector<std::string> CMainFrame::RecentFiles() const {
    return *recentFiles;
}

void CMainFrame::AddRecentFile(const std::string& path) {
    const std::string full = RecentFilePath(path);
    auto& list = *recentFiles;
    list.erase(std::remove(list.begin(), list.end(), full), list.end());
    list.insert(list.begin(), full);
    if (list.size() > kRecentFileCount) list.resize(kRecentFileCount);
    UpdateRecentMenu();
}

void CMainFrame::RemoveRecentFile(const std::string& path) {
    const std::string full = RecentFilePath(path);
    auto& list = *recentFiles;
    list.erase(std::remove(list.begin(), list.end(), full), list.end());
    UpdateRecentMenu();
}

void CMainFrame::UpdateRecentMenu() {
    for (size_t i = 0; i < recentActions.size(); ++i) {
        QAction* a = recentActions[i];
        if (i < recentFiles->size()) {
            a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(Q((*recentFiles)[i])));
            a->setVisible(true);
        } else {
            a->setVisible(false);
        }
    }
    if (recentMenu) recentMenu->setEnabled(!recentFiles->empty());
}

// ---- window events -----------------------------------------------------------------------------------

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (Busy()) {
        event->ignore();
        WhenIdle([this] { close(); });
        return;
    }
    // The save prompt comes first: a cancelled close leaves the reader thread, and a running
    // recording, untouched.
    if (!SaveModified()) {
        event->ignore();
        return;
    }
    timer.stop();
    reader.RequestExit();
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        event->acceptProposedAction();
        activateWindow();
        if (RecordingActive()) return;
        // A file that is no record file may be a logic capture: the import dialog takes it.
        const std::string path = S(url.toLocalFile());
        rec::RecordFileHead head;
        std::string reason;
        if (!HasRecordExtension(path) && !rec::CheckRecordFile(path, &head, &reason) &&
            std::filesystem::is_regular_file(path))
            ImportLogicCapture(path, true);
        else
            OpenFile(path);
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// Record file tools

void CMainFrame::OnExport() {
    if (doc.store.recordPath.empty()) return;
    CExportDlg dialog(this);
    dialog.Prepare(doc, this, settings.Columns(), settings.vbusCurrDirReverse);
    execToolDialog(dialog);
}

void CMainFrame::OnStitch() {
    if (doc.store.recordPath.empty()) return;
    CStitchFileDlg dialog(settings.recordFileFolder, doc.store.recordPath, this);
    execToolDialog(dialog);
}

// The export another program asks for: one modeless dialog, kept, that exports at once and closes.
// Its worker reads the store, so nothing is started while a recording fills it or an export runs.
void CMainFrame::RemoteExport() {
    if (doc.store.recordPath.empty() || RecordingActive()) return;
    if (!autoExport) autoExport = std::make_unique<CExportDlg>(this);
    if (autoExport->Exporting()) return;
    autoExport->Prepare(doc, this, settings.Columns(), settings.vbusCurrDirReverse);
    autoExport->SetAutomatic(true);
    autoExport->hide();
    autoExport->show();
}

// Commands that replace or clear the document wait until the automatic export has read it.
void CMainFrame::FinishAutomaticExport() {
    if (autoExport && autoExport->Exporting()) autoExport->FinishExport();
}
