#include "StitchFileDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
} // namespace

CStitchFileDlg::CStitchFileDlg(const std::string& f, const std::string& pre, QWidget* parent)
    : QDialog(parent), folder(f), preselected(pre) {
    setWindowTitle("Stitch Record Files");
    message = [this](const std::string& text) { QMessageBox::information(this, "Ambrio App", Q(text)); };
    chooseFolder = [this](const std::string& current) {
        return QFileDialog::getExistingDirectory(this, "Select Record Folder", Q(current), QFileDialog::ShowDirsOnly)
            .toStdString();
    };
    completed = [this](const std::string& text, const std::string& path) {
        QMessageBox box(QMessageBox::Information, "Ambrio App", Q(text), QMessageBox::Ok, this);
        box.setInformativeText(Q(path));
        QPushButton* open = box.addButton("Open Stitched File", QMessageBox::AcceptRole);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        return box.clickedButton() == open;
    };

    auto* top = new QVBoxLayout(this);
    auto* folderRow = new QHBoxLayout;
    folderLabel = new QLabel;
    folderLabel->setObjectName("c1076");
    folderButton = new QPushButton("Select Record File Folder");
    folderButton->setObjectName("c1124");
    folderRow->addWidget(folderLabel, 1);
    folderRow->addWidget(folderButton);
    top->addLayout(folderRow);

    auto* lists = new QGridLayout;
    baseList = new QListWidget;
    baseList->setObjectName("c1128");
    baseList->setSelectionMode(QAbstractItemView::SingleSelection);
    candidateList = new QListWidget;
    candidateList->setObjectName("c1129");
    candidateList->setSelectionMode(QAbstractItemView::MultiSelection);
    auto* baseLabel = new QLabel("&Base file:");
    baseLabel->setBuddy(baseList);
    auto* candidateLabel = new QLabel("&Files joined after it:");
    candidateLabel->setBuddy(candidateList);
    lists->addWidget(baseLabel, 0, 0);
    lists->addWidget(candidateLabel, 0, 1);
    lists->addWidget(baseList, 1, 0);
    lists->addWidget(candidateList, 1, 1);
    top->addLayout(lists);

    auto* outputBox = new QGroupBox("Output File Name");
    auto* outputRow = new QHBoxLayout(outputBox);
    outputLabel = new QLabel;
    outputLabel->setObjectName("c1127");
    outputLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outputRow->addWidget(outputLabel);
    top->addWidget(outputBox);

    status = new QLabel;
    status->setObjectName("c1114");
    top->addWidget(status);
    auto* buttons = new QHBoxLayout;
    startButton = new QPushButton("Start Stitching");
    startButton->setObjectName("c1126");
    cancelButton = new QPushButton("Cancel");
    buttons->addStretch(1);
    for (QPushButton* b : {startButton, cancelButton}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    top->addLayout(buttons);
    resize(640, 420);

    connect(folderButton, &QPushButton::clicked, this, [this] { OnSelectFolder(); });
    connect(startButton, &QPushButton::clicked, this, [this] { OnStartStitching(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { reject(); });
    connect(baseList, &QListWidget::itemSelectionChanged, this, [this] { OnBaseSelected(); });
    connect(candidateList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                OnCandidatesChanged(selected, deselected);
            });
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, [this] { OnTimer(); });

    folderLabel->setText(Q(folder));
    FillBaseList();
    ApplyEnabling();
}

CStitchFileDlg::~CStitchFileDlg() { StopWorker(); }

QString CStitchFileDlg::StatusText() const { return status->text(); }

void CStitchFileDlg::FillBaseList() {
    const QSignalBlocker block(baseList);
    baseList->clear();
    candidateList->clear();
    candidates.clear();
    outputPath.clear();
    outputLabel->clear();
    basePath.clear();
    bases = ListSeriesFiles(folder);
    int chosen = bases.empty() ? -1 : 0;
    for (size_t i = 0; i < bases.size(); ++i) {
        baseList->addItem(Q(bases[i].name));
        std::error_code ec;
        if (!preselected.empty() && (bases[i].path == preselected || std::filesystem::equivalent(bases[i].path, preselected, ec)))
            chosen = int(i);
    }
    if (chosen >= 0) baseList->setCurrentRow(chosen);
    OnBaseSelected();
}

void CStitchFileDlg::OnBaseSelected() {
    outputPath.clear();
    outputLabel->clear();
    const int row = baseList->currentRow();
    const QList<QListWidgetItem*> sel = baseList->selectedItems();
    basePath = sel.isEmpty() || row < 0 || size_t(row) >= bases.size() ? std::string() : bases[size_t(row)].path;
    FillCandidates();
    ApplyEnabling();
}

void CStitchFileDlg::FillCandidates() {
    const QSignalBlocker block(candidateList);
    candidateList->clear();
    candidates = basePath.empty() ? std::vector<SeriesFile>{} : ListCandidates(folder, basePath);
    for (const SeriesFile& f : candidates) candidateList->addItem(Q(f.name));
    if (!candidates.empty()) {
        candidateList->item(0)->setSelected(true);
        ComputeOutput();
    }
}

void CStitchFileDlg::OnCandidatesChanged(const QItemSelection& added, const QItemSelection& removed) {
    // Filling the list, and the adjustment below, block the list's signals: nothing to follow then.
    if (candidateList->signalsBlocked()) return;
    int k = -1;
    for (const QModelIndex& i : removed.indexes())
        if (k < 0 || i.row() < k) k = i.row();
    if (k < 0)
        for (const QModelIndex& i : added.indexes()) k = std::max(k, i.row());
    if (k < 0 || size_t(k) >= candidates.size()) return;
    std::vector<bool> selected;
    for (int i = 0; i < candidateList->count(); ++i) selected.push_back(candidateList->item(i)->isSelected());
    KeepContiguous(selected, size_t(k));
    const QSignalBlocker block(candidateList);
    for (int i = 0; i < candidateList->count(); ++i) candidateList->item(i)->setSelected(selected[size_t(i)]);
    ComputeOutput();
    ApplyEnabling();
}

void CStitchFileDlg::ComputeOutput() {
    std::vector<bool> selected;
    for (int i = 0; i < candidateList->count(); ++i) selected.push_back(candidateList->item(i)->isSelected());
    const std::string baseName = std::filesystem::path(basePath).filename().string();
    outputPath = basePath.empty() ? std::string() : StitchOutputPath(folder, baseName, candidates, selected);
    outputLabel->setText(Q(outputPath));
}

void CStitchFileDlg::ApplyEnabling() {
    const bool idle = !stitching;
    folderButton->setEnabled(idle);
    baseList->setEnabled(idle);
    candidateList->setEnabled(idle);
    startButton->setEnabled(idle && !outputPath.empty());
}

void CStitchFileDlg::OnSelectFolder() {
    const std::string chosen = chooseFolder(folder);
    if (chosen.empty()) return;
    folder = chosen;
    folderLabel->setText(Q(folder));
    outputPath.clear();
    FillBaseList();
    ApplyEnabling();
}

void CStitchFileDlg::OnStartStitching() {
    if (worker.Running() || stitching || outputPath.empty() || basePath.empty()) return;
    std::vector<std::string> files = {basePath};
    for (int i = 0; i < candidateList->count(); ++i)
        if (candidateList->item(i)->isSelected()) files.push_back(candidates[size_t(i)].path);
    stitching = true;
    ApplyEnabling();
    const std::string out = outputPath;
    stitchedPath = out;
    openRequested = false;
    worker.Start([files, out](ToolFlags& f) { return StitchFiles(files, out, f); });
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waitCursor = true;
    status->setText(QString::asprintf("Stitching... %d%%", 0));
    timer.start();
}

void CStitchFileDlg::OnTimer() {
    if (!stitching) return;
    if (!worker.flags.done.load()) {
        status->setText(QString::asprintf("Stitching... %d%%", worker.flags.progress.load()));
        return;
    }
    timer.stop();
    worker.Join();
    worker.flags.done = false;
    stitching = false;
    status->setText("Stitch Files Completed.");
    ApplyEnabling();
    if (waitCursor) {
        QApplication::restoreOverrideCursor();
        waitCursor = false;
    }
    if (worker.flags.failed.load()) {
        message("Stitch Files Aborted.");
        // Why, in the status line: a file that cannot be read, one of another recording, a full disk.
        status->setText(Q(worker.flags.reason));
    } else {
        openRequested = completed("Stitch Files Completed.", stitchedPath);
        accept();
    }
}

// The worker reads the file list it was given until it ends; closing asks it to stop and waits, so
// nothing runs on after the dialog (and a stopped stitch leaves no output).
void CStitchFileDlg::StopWorker() {
    worker.RequestAbort();
    worker.Join();
    timer.stop();
    stitching = false;
    worker.flags.done = false;
    if (waitCursor) {
        QApplication::restoreOverrideCursor();
        waitCursor = false;
    }
}

void CStitchFileDlg::closeEvent(QCloseEvent* event) {
    StopWorker();
    QDialog::closeEvent(event);
}

void CStitchFileDlg::reject() {
    StopWorker();
    QDialog::reject();
}
