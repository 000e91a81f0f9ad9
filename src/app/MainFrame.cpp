// The main window: construction, layout, menus and toolbar, the command table's enabling and dispatch,
// the document's views and the window's own events. The commands live by family: FileCommands.cpp,
// CaptureCommands.cpp, ViewCommands.cpp and RemoteControl.cpp, each taking the document from the gate.
#include "MainFrame.h"

#include "AnalysisPane.h"
#include "CommandTable.h"
#include "DeviceCommands.h"
#include "DockableGraph.h"
#include "ExportDlg.h"
#include "FrameRoom.h"
#include "FrameText.h"
#include "GraphView.h"
#include "ImportLogicDlg.h"
#include "PDPacketListView.h"
#include "PDPacketTreeView.h"
#include "Pictures.h"
#include "QXCtrlView.h"
#include "QXLogView.h"
#include "RecordFile.h"
#include "SettingsDialogs.h"
#include "TransactionsPane.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <filesystem>

using namespace frame;

namespace {

// How often a long operation lets the window paint.
constexpr auto kPaintInterval = std::chrono::milliseconds(50);
// A close that came while an open was under way is tried again after this.
constexpr int kCloseRetryMs = 200;

// The Analysis pane's keys: the user's limit overrides (analysis::kLimitsGroup) and whether it is shown,
// in the application's store (as the recent files) beside its own group.
constexpr char kAnalysisPaneVisible[] = "PaneVisible";
// The Transactions pane's visibility, in a group of its own.
constexpr char kTransactionsPaneVisible[] = "Transactions/PaneVisible";

// Tolerant bit recovery: on or off, in a group of its own in the application's store, off by default.
constexpr char kTolerantDecodingKey[] = "Decoding/Tolerant";

std::unique_ptr<QSettings> AnalysisSettings() {
    auto s = std::make_unique<QSettings>();
    s->beginGroup(QString::fromLatin1(analysis::kLimitsGroup));
    return s;
}

QString MenuText(const char* text) {
    return QString::fromUtf8(text);
}

// The document use a command needs, for the reason a refused command gives.
std::optional<DocUse> CommandUse(uint32_t id) {
    switch (id) {
    case cmd::kNew:
    case cmd::kClear:
        return DocUse::New;
    case cmd::kOpen:
    case cmd::kTolerantDecoding:
        return DocUse::Open;
    case cmd::kImportLogic:
        return DocUse::Import;
    case cmd::kSave:
    case cmd::kSaveAs:
        return DocUse::Save;
    case cmd::kExport:
        return DocUse::Export;
    case cmd::kStitch:
        return DocUse::Stitch;
    case cmd::kRun:
        return DocUse::Run;
    default:
        return std::nullopt;
    }
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
    dialogs.titledMessage = [this](const std::string& title, const std::string& text) {
        QMessageBox::information(this, Q(title), Q(text));
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
        return S(QFileDialog::getOpenFileName(this, "Import Logic Capture", QString(), LogicCaptureFilter()));
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
    const QScreen* screen = QGuiApplication::primaryScreen();
    resize(FrameStartSize(settings.window, screen ? screen->availableGeometry().size() : QSize()));
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
    if (transactionsPane) QSettings().setValue(kTransactionsPaneVisible, !transactionsPane->isHidden());
    QSettings().setValue(kTolerantDecodingKey, doc.store.tolerantBits);
    // The views go before the document and the reader they refer to; the graph leaves its area
    // switches in the settings.
    views.clear();
    delete graphPane;
    graphPane = nullptr;
    delete analysisPane;
    analysisPane = nullptr;
    delete transactionsPane;
    transactionsPane = nullptr;
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
    const int treeWidth = std::max(100, settings.window.treePaneWidth);
    bottom->setSizes({treeWidth, std::max(100, settings.window.width - treeWidth)});
    setCentralWidget(rows);

    graphPane = new CDockableGraph(*this, this);
    addDockWidget(Qt::BottomDockWidgetArea, graphPane);
    resizeDocks({graphPane}, {h * 45 / 100}, Qt::Vertical);
    // The sizes above hold until the window is first shown; then the room decides them.
    new CFrameRoom({this, rows, bottom, ctrlView, logView, treeView, fieldView, graphPane, graphPane->View()},
                   settings);
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

    // The Transactions pane shares the area too; its visibility lives in a group of its own.
    transactionsPane = new CTransactionsPane(*this, limits, this);
    addDockWidget(Qt::BottomDockWidgetArea, transactionsPane);
    tabifyDockWidget(graphPane, transactionsPane);
    graphPane->raise();
    transactionsPane->setVisible(QSettings().value(kTransactionsPaneVisible, false).toBool());
    connect(transactionsPane, &QDockWidget::visibilityChanged, this, [this] { UpdateCommandStates(); });
    views.push_back(transactionsPane);
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
        // The key lives apart from the action: it reaches ExecuteCommand whatever enabling the action
        // showed last, so a key the document refuses says why in the status bar.
        if (c->shortcut) {
            auto* key = new QShortcut(QKeySequence(QString::fromLatin1(c->shortcut)), this);
            key->setProperty("command", id); // which command a key runs, for the menus' check
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
    AddAction(cmd::kOpenContainingFolder);
    QAction* import = AddAction(cmd::kImportLogic);
    import->setText("&Import logic capture...");
    import->setStatusTip("Write a record file from a logic-analyzer capture of the CC lines and open it");
    AddAction(cmd::kPdAutoScroll, true);
    for (uint32_t id : {cmd::kShowGraph, cmd::kShowPlots, cmd::kShowPdPackets, cmd::kGraphAutoScroll}) AddAction(id, true);
    QAction* analysis = AddAction(cmd::kShowAnalysis, true);
    analysis->setText("&Analysis");
    analysis->setStatusTip("Show or hide the Analysis pane");
    QAction* transactions = AddAction(cmd::kShowTransactions, true);
    transactions->setText("&Transactions");
    transactions->setStatusTip("Show or hide the Transactions pane: exchanges and their sequence diagram");
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
    file->addAction(actions[cmd::kOpenContainingFolder]);
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
    view->addAction(actions[cmd::kShowTransactions]);

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
    // Each family keeps its own rules: FileCommands.cpp, CaptureCommands.cpp, ViewCommands.cpp.
    if (const auto e = FileCommandEnabled(id)) return *e;
    if (const auto e = CaptureCommandEnabled(id)) return *e;
    if (const auto e = ViewCommandEnabled(id)) return *e;
    return false;
}

bool CMainFrame::Free(DocUse use) const {
    return control.gate.Refusal(use).empty();
}

CDocumentGate::CHold CMainFrame::EnterGate(DocUse use) {
    std::string why;
    CDocumentGate::CHold hold = control.gate.Enter(use, &why);
    if (!hold) SetStatusText(why);
    return hold;
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
    case cmd::kShowTransactions:
        return transactionsPane && !transactionsPane->isHidden();
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
    for (QAction* a : recentActions) a->setEnabled(!RecordingActive() && Free(DocUse::Open));
    UpdateTitle();
}

void CMainFrame::ExecuteCommand(uint32_t id) {
    if (!IsCommandEnabled(id)) {
        // A key pressed while the document is held says why nothing happens.
        if (const std::optional<DocUse> use = CommandUse(id)) {
            if (const std::string why = control.gate.Refusal(*use); !why.empty()) SetStatusText(why);
        }
        return;
    }
    if (!ExecuteFileCommand(id) && !ExecuteCaptureCommand(id)) ExecuteViewCommand(id);
    UpdateCommandStates();
}

// ---- views and the document --------------------------------------------------------------------------

void CMainFrame::UpdateAllViews(IDocView* sender, int64_t hint) {
    for (IDocView* v : views) v->OnUpdate(sender, hint);
    UpdateTitle();
}

void CMainFrame::SetStatusText(const std::string& text) {
    if (!messagePane) return;
    messagePane->setText(text.empty() ? QString(cmd::kReadyText) : Q(text));
    if (waitCursorDepth > 0) KeepPainting();
}

void CMainFrame::KeepPainting() {
    // Every new kind of progress text is painted at once, and so is its 100%, so that it is seen to end;
    // the percentages between at most every interval.
    const QString text = messagePane->text();
    const QString kind = text.left(text.indexOf("..."));
    const auto now = std::chrono::steady_clock::now();
    if (kind == lastPaintedKind && now - lastPaint < kPaintInterval && !text.endsWith("... 100%")) return;
    lastPaint = now;
    lastPaintedKind = kind;
    messagePane->repaint();
    // Paint events and the like, not the user's clicks and keys: the operation owns the document.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
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
    graph->FollowLatest(store.DisplayTime(TimeDifference(store.lastSampleTime, store.captureOrigin)));
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
    if (waitCursorDepth > 0 && --waitCursorDepth == 0) QGuiApplication::restoreOverrideCursor();
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
    if (transactionsPane) transactionsPane->Reset();
}

std::string CMainFrame::FindingsText() const {
    return findingsPane ? S(findingsPane->text()) : std::string();
}

std::string CMainFrame::RecordFolder() const {
    return const_cast<CRecordingControl&>(control).RecordFolder();
}
// ---- window events -----------------------------------------------------------------------------------

void CMainFrame::closeEvent(QCloseEvent* event) {
    // A remote export is stopped; anything else that holds the document (an open still painting its
    // progress) finishes first, and the close comes again after it.
    FinishAutomaticExport();
    std::string why;
    CDocumentGate::CHold hold = control.gate.Enter(DocUse::Save, &why);
    if (!hold) {
        event->ignore();
        SetStatusText(why + " The window closes when it is done.");
        QTimer::singleShot(kCloseRetryMs, this, [this] { close(); });
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
        // Opening and importing take the document from the gate, which says why when they cannot.
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

