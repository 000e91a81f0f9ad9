// The main window: owns the analyzer connection, the reader thread, the recording control, the find
// criteria and the views, runs the one-second timer and routes every command of menu, toolbar and
// accelerators. Dialogs and message boxes go through FrameDialogs, so that tests answer them. Every
// command, remote call and worker that uses the document takes it from the recording control's gate.
#pragma once

#include "DeviceConnection.h"
#include "DocView.h"
#include "DocumentGate.h"
#include "FindCriteria.h"
#include "Notify.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "RecordingControl.h"
#include "Settings.h"

#include <QFont>
#include <QDialog>
#include <QMainWindow>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CAnalysisPane;
class CDockableGraph;
class CGraphView;
class CPDPacketListView;
class CPDPacketTreeView;
class CQXCtrlView;
class CQXLogView;
class CTransactionsPane;
class QAction;
class QLabel;
class QMenu;
class QSplitter;

// The answers a user gives. Each has a platform default (a dialog); tests replace them.
struct FrameDialogs {
    std::function<void(const std::string& text)> message;
    // A message box whose title names what it is about (a dialog's field) rather than the program.
    std::function<void(const std::string& title, const std::string& text)> titledMessage;
    // The save prompt: Yes, No or Cancel.
    enum class SaveAnswer { Yes, No, Cancel };
    std::function<SaveAnswer(const std::string& title)> askSave;
    // File names from the open and save dialogs; empty when cancelled.
    std::function<std::string()> openFileName;
    // The capture File > Import logic capture... reads; empty when cancelled.
    std::function<std::string()> openLogicCaptureName;
    std::function<std::string(const std::string& suggested)> saveFileName;
    std::function<std::optional<QFont>(const QFont& current)> chooseFont;
    // A yes/no question; true for yes.
    std::function<bool(const std::string& text)> askYesNo;
    // The folder browser titled "Select Record Folder", opening at current; empty when cancelled.
    std::function<std::string(const std::string& current)> chooseFolder;
};

// What lives as long as the program rather than the window: the settings, the recent-file list and
// the list font a closed packet list leaves behind.
struct FrameEnvironment {
    CSettings* settings = nullptr;
    IAnalyzerLink* link = nullptr;
    // Recent files, newest first, at most four; the window keeps it up to date.
    std::vector<std::string>* recentFiles = nullptr;
    std::optional<QFont>* rememberedListFont = nullptr;
    // Timer period; 1000 ms in the application, shorter in tests.
    int tickMs = 1000;
    // Start the reader thread and the timer at creation (tests may drive ticks themselves).
    bool startTimer = true;
};

class CCaptureFilenameDlg;
class CExportDlg;
class CSettingsDialog;

class CMainFrame : public QMainWindow,
                   public IViewHost,
                   public IMainWindowUi,
                   public IUserNotify,
                   public IDocumentHooks,
                   public IConnStateListener {
    Q_OBJECT

public:
    explicit CMainFrame(const FrameEnvironment& env, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Opens a record file like File Open (after the save prompt); false when it could not be opened.
    bool OpenFile(const std::string& path);
    // Imports a logic capture through the import dialog, then opens the record file it wrote; false
    // when the dialog was cancelled or nothing could be opened. A dropped file the capture library
    // does not recognise is opened as a record file instead (which names the problem).
    bool ImportLogicCapture(const std::string& path, bool dropped = false);
    // Runs a command as menu, toolbar or accelerator would (subject to its enabling rule).
    void ExecuteCommand(uint32_t id) override;
    bool IsCommandEnabled(uint32_t id) const override;
    // Check mark of a command; nullopt for commands without one.
    std::optional<bool> IsCommandChecked(uint32_t id) const;
    // The QAction of a command id; null when the window offers no such command.
    QAction* Action(uint32_t id) const;
    // One timer tick, as the timer runs it.
    void Tick();
    // Brings enabling and check marks of menu and toolbar up to date.
    void UpdateCommandStates();

    // Remote control (the D-Bus service). Each returns at once: a remote caller never waits for a dialog,
    // and what cannot run now is refused with the reason.
    // False with *reason for a name that is no plain file name (the name set before stays).
    bool RemoteSetRecordName(const std::string& name, std::string* reason = nullptr);
    void RemoteSetRecordFolder(const std::string& folder);
    // False with *reason when the recording did not start; the window shows its message afterwards.
    bool RemoteRun(std::string* reason = nullptr);
    void RemoteStop();
    // Exports the open record file in the export dialog's automatic mode. False with *reason when it
    // cannot start now (no record file, a recording running or stopping, the document held); otherwise
    // done is called once the export has ended, with the output file or the failure's reason.
    using RemoteExportDone = std::function<void(bool ok, const std::string& fileOrReason)>;
    bool RemoteExport(std::string* reason = nullptr, RemoteExportDone done = nullptr);
    CExportDlg* AutomaticExport() const { return autoExport.get(); }
    // Runs the modal dialogs: Export, Stitch, Find, Display Filter Settings, Column Settings (tests drive
    // them instead).
    std::function<int(QDialog&)> execToolDialog = [](QDialog& d) { return d.exec(); };

    // Runs the modal settings dialogs and the driver prompt (tests drive them instead).
    std::function<int(QDialog&)> execSettingsDialog = [](QDialog& d) { return d.exec(); };
    // The Record File Settings dialog, which keeps its fields as long as the window lives.
    CCaptureFilenameDlg* RecordFileDialog() const { return recordFileDlg.get(); }

    // Called on the reader thread when VBUS crosses 1000 mV; the window re-posts it to its own thread.
    void ConnStateChanged(int32_t vbusMv, int32_t cc1Mv, int32_t cc2Mv) override;

    // Parts, for tests and benchmarks.
    CQXDoc& Doc() { return doc; }
    CRecordingControl& Control() { return control; }
    CReaderThread& Reader() { return reader; }
    CDeviceConnection& Connection() { return connection; }
    CQXCtrlView* CtrlView() const { return ctrlView; }
    CQXLogView* LogView() const { return logView; }
    CPDPacketTreeView* TreeView() const { return treeView; }
    CPDPacketListView* FieldView() const { return fieldView; }
    CDockableGraph* GraphPane() const { return graphPane; }
    CAnalysisPane* AnalysisPane() const { return analysisPane; }
    CTransactionsPane* TransactionsPane() const { return transactionsPane; }
    // The findings count in the status bar; empty without a capture.
    std::string FindingsText() const;
    CGraphView* GraphView() const;
    std::string StatusText() const;
    // The note on the open document in the status bar (a file cut short); empty when there is none.
    std::string DocumentNote() const;
    std::vector<std::string> RecentFiles() const;
    // The longest tick so far, for the live-capture benchmark.
    std::chrono::microseconds WorstTick() const { return worstTick; }
    CFindCriteria& FindCriteriaForEdit() { return findCriteria; }
    CFindCriteria& DisplayFilterForEdit() { return displayFilter; }

    FrameDialogs dialogs;

    // IViewHost
    CQXDoc* Document() override { return &doc; }
    CSettings& Settings() override { return settings; }
    void UpdateAllViews(IDocView* sender, int64_t hint) override;
    void SetStatusText(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    bool IsCapturing() const override { return reader.capturing; }
    bool RecordingActive() const override { return control.RecordingActive(); }
    bool LiveReadingsValid() const override;
    const LiveReadings& Live() const override { return reader.live; }
    bool PdMessageAutoScroll() const override { return pdMessageAutoScroll; }
    const CFindCriteria& FindCriteria() const override { return findCriteria; }
    const CFindCriteria& DisplayFilter() const override { return displayFilter; }
    const CCCPacket* SelectedPacket() override;
    CQXLogView* PacketList() override { return logView; }
    CPDPacketTreeView* PacketTree() override { return treeView; }
    CPDPacketListView* FieldTable() override { return fieldView; }
    const QFont* RememberedListFont() const override;
    void RememberListFont(const QFont& font) override;
    void RepaintGraph() override;
    void CenterGraphOn(int64_t displayTime) override;

    // IMainWindowUi (the recording control's view of the window)
    void UpdateAllViews() override { UpdateAllViews(nullptr, 0); }
    bool SaveModified() override;
    bool RecordFileSettingsDialog(RecordFileChoice* choice) override;
    void SetDocumentTitle(const std::string& title) override;
    void RefreshControlView() override;
    void FirstTick(bool connected) override;
    bool ConfirmReplaceRecordFiles(const std::vector<std::string>& existing) override;
    void RedrawGraph() override;
    void GraphFollowNewest() override;

    // IUserNotify (the document's)
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

    // IDocumentHooks
    void ForgetPacketRows() override;
    std::string RecordFolder() const override;
    void SetPathName(const std::string& path) override;
    void AttachGraph() override;
    bool GraphMarkers(int64_t* o, int64_t* x) const override;
    void ShiftGraphTimes(int64_t delta) override;

signals:
    // VBUS came or went (crossed 1000 mV), on the user-interface thread; the D-Bus service relays it.
    void connStateChanged(int vbusMv, int cc1Mv, int cc2Mv);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreatePanes();
    QAction* AddAction(uint32_t id, bool checkable = false);
    void UpdateRecentMenu();
    void AddRecentFile(const std::string& path);
    void UpdateTitle();
    void StoreWindowRecord();

    // Command families, each in a file of its own: the enabling rule (nullopt for another family's
    // command) and the handler (false for another family's command).
    std::optional<bool> FileCommandEnabled(uint32_t id) const;
    std::optional<bool> CaptureCommandEnabled(uint32_t id) const;
    std::optional<bool> ViewCommandEnabled(uint32_t id) const;
    bool ExecuteFileCommand(uint32_t id);
    bool ExecuteCaptureCommand(uint32_t id);
    bool ExecuteViewCommand(uint32_t id);
    // The gate lets use start now.
    bool Free(DocUse use) const;
    // Takes the document for use; a refusal puts its reason in the status bar.
    CDocumentGate::CHold EnterGate(DocUse use);

    // Command handlers.
    void OnNew();
    void OnOpen();
    // The folder of the record file, in the desktop's file manager.
    void OnOpenContainingFolder();
    void OnImportLogic();
    void OnToggleTolerantDecoding();
    void OnSave(bool askName);
    // Open and Save for a command that holds the document already.
    bool OpenHeld(const std::string& path);
    void SaveHeld(bool askName);
    void OnPdFontSettings();
    void OnGraphFontSettings();
    void OnToggleDisplayFilter();
    void SetDisplayFilterEnabled(bool on);
    void OnFind();
    void OnDisplayFilterSettings();
    void OnColumnSettings();
    void OnInstallDriver();
    void OnRecordSettings();
    void OnRecordFileSettings();
    void OnVbusCurrentDirection();
    void OnAbout();
    // Runs a settings dialog with the window's message box and folder browser.
    int ExecSettingsDialog(CSettingsDialog& dialog);
    void OnExport();
    void OnStitch();
    void FinishAutomaticExport();
    void EndRemoteExport(bool ok, const std::string& failure);
    void RemoveRecentFile(const std::string& path);
    // A recording still writing the document's file ends (with its header block) before marks are
    // appended to that file; false when the reader did not let go of it.
    bool FinishRecordingBeforeSave();
    // While a long operation runs on this thread (the wait cursor is up), the window still paints its
    // progress; the gate keeps what arrives meanwhile off the document.
    void KeepPainting();

    CSettings& settings;
    IAnalyzerLink& link;
    std::vector<std::string>* recentFiles;
    std::optional<QFont>* rememberedListFont;
    std::optional<QFont> ownRememberedFont;
    std::vector<std::string> ownRecentFiles;

    CDeviceConnection connection;
    CReaderThread reader;
    CQXDoc doc;
    CRecordingControl control;
    CFindCriteria findCriteria{CFindCriteria::kFind};
    CFindCriteria displayFilter{CFindCriteria::kDisplayFilter};

    // Display flags, from the settings at construction, back to them at destruction.
    bool showPlots = false;
    bool showPdPackets = true;
    bool pdMessageAutoScroll = true;

    std::string titleName; // shown before " - Ambrio App"
    bool readerStarted = false;
    int waitCursorDepth = 0;

    QSplitter* rows = nullptr;
    QSplitter* bottom = nullptr;
    CQXCtrlView* ctrlView = nullptr;
    CQXLogView* logView = nullptr;
    CPDPacketTreeView* treeView = nullptr;
    CPDPacketListView* fieldView = nullptr;
    CDockableGraph* graphPane = nullptr;
    CAnalysisPane* analysisPane = nullptr;
    CTransactionsPane* transactionsPane = nullptr;
    QLabel* findingsPane = nullptr;
    std::vector<IDocView*> views; // creation order
    QLabel* messagePane = nullptr;
    QLabel* notePane = nullptr;
    bool inRemoteCall = false;
    std::vector<std::string> remoteMessages;
    std::chrono::steady_clock::time_point lastPaint{};
    QString lastPaintedKind;
    QMenu* recentMenu = nullptr;
    std::vector<QAction*> recentActions;
    std::map<uint32_t, QAction*> actions;
    QTimer timer;
    std::unique_ptr<CExportDlg> autoExport;
    // The remote export's hold on the document and its caller's answer, until its worker has ended.
    CDocumentGate::CHold autoExportHold;
    RemoteExportDone autoExportDone;
    std::unique_ptr<CCaptureFilenameDlg> recordFileDlg;
    std::chrono::microseconds worstTick{0};
};
