// "Stitch Record Files": joins a base file of a numbered series with the files that follow it, on a
// worker thread while a 1000 ms timer shows the progress.
#pragma once

#include "StitchWorker.h"

#include <QDialog>
#include <QItemSelection>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

class CStitchFileDlg : public QDialog {
    Q_OBJECT

public:
    // folder: the record file folder setting; preselected: the open document's record file.
    CStitchFileDlg(const std::string& folder, const std::string& preselected, QWidget* parent = nullptr);
    ~CStitchFileDlg() override;

    // Answered by message boxes and a folder browser; tests answer them themselves.
    std::function<void(const std::string& text)> message;
    std::function<std::string(const std::string& current)> chooseFolder;
    // The message box of a finished stitch, which offers to open the file written at path: true when
    // the user takes the offer.
    std::function<bool(const std::string& text, const std::string& path)> completed;

    void OnSelectFolder();
    void OnStartStitching();
    void OnTimer();
    // The candidate selection changed, by a click, a key (Space, Ctrl+A) or a program: the row the
    // change turns on is the first one deselected, else the last one selected, as a click's row is.
    void OnCandidatesChanged(const QItemSelection& added, const QItemSelection& removed);

    // Parts, for tests.
    QListWidget* BaseList() const { return baseList; }
    QListWidget* CandidateList() const { return candidateList; }
    const std::string& OutputPath() const { return outputPath; }
    const std::string& Folder() const { return folder; }
    QString StatusText() const;
    bool Stitching() const { return stitching; }
    const ToolFlags& Flags() const { return worker.flags; }
    QPushButton* StartButton() const { return startButton; }
    QPushButton* FolderButton() const { return folderButton; }
    // After a finished stitch: whether the user asked to open the stitched file, and its path.
    bool OpenRequested() const { return openRequested; }
    const std::string& StitchedPath() const { return stitchedPath; }

    // Cancel: a running worker is asked to stop and waited for, then the dialog closes.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FillBaseList();
    void OnBaseSelected();
    void FillCandidates();
    void ComputeOutput();
    void ApplyEnabling();
    void StopWorker();

    std::string folder, preselected, basePath, outputPath, stitchedPath;
    bool openRequested = false;
    std::vector<SeriesFile> bases, candidates;
    bool stitching = false;
    bool waitCursor = false;
    CToolWorker worker;
    QTimer timer;

    QLabel *folderLabel = nullptr, *outputLabel = nullptr, *status = nullptr;
    QListWidget *baseList = nullptr, *candidateList = nullptr;
    QPushButton *folderButton = nullptr, *startButton = nullptr, *cancelButton = nullptr;
};
