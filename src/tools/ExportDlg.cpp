#include "ExportDlg.h"

#include "CaptureStore.h"
#include "QXDoc.h"
#include "WholeFile.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

void Name(QWidget* w, int id) { w->setObjectName(QString("c%1").arg(id)); }

int64_t NumberOf(const QLineEdit* e) {
    bool ok = false;
    const qlonglong v = e->text().trimmed().toLongLong(&ok);
    return ok ? int64_t(v) : -1;
}

} // namespace

CExportDlg::CExportDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Export");
    message = [this](const std::string& text) { QMessageBox::information(this, "Ambrio App", Q(text)); };
    chooseFile = [this](int type) {
        QFileDialog d(this);
        d.setAcceptMode(QFileDialog::AcceptSave);
        d.setFileMode(QFileDialog::AnyFile);
        d.setNameFilter(type == kExportQxc ? "QXC Files (*.qxc)" : "CSV Files (*.csv)");
        d.setDefaultSuffix(type == kExportQxc ? "qxc" : "csv");
        if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return std::string();
        return d.selectedFiles().front().toStdString();
    };

    auto* top = new QVBoxLayout(this);

    auto* fileBox = new QGroupBox("Export File Name");
    auto* fileRow = new QHBoxLayout(fileBox);
    fileName = new QLabel;
    fileName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    fileName->setMinimumWidth(360);
    Name(fileName, kFileName);
    fileButton = new QPushButton("File");
    Name(fileButton, kFile);
    fileRow->addWidget(fileName, 1);
    fileRow->addWidget(fileButton);
    top->addWidget(fileBox);

    auto* middle = new QHBoxLayout;
    auto* rangeColumn = new QVBoxLayout;
    const auto rangeBox = [&](const char* title, const char* capture, QRadioButton** captureRadio, QRadioButton** numberRadio,
                              QRadioButton** markerRadio, QLineEdit** edit, QComboBox** combo, int ids[5]) {
        auto* box = new QGroupBox(title);
        auto* grid = new QGridLayout(box);
        *captureRadio = new QRadioButton(capture);
        *numberRadio = new QRadioButton("Packet Number");
        *markerRadio = new QRadioButton("Marker");
        *edit = new QLineEdit;
        *combo = new QComboBox;
        (*combo)->setMinimumContentsLength(24);
        Name(*captureRadio, ids[0]);
        Name(*numberRadio, ids[1]);
        Name(*markerRadio, ids[2]);
        Name(*edit, ids[3]);
        Name(*combo, ids[4]);
        auto* group = new QButtonGroup(box);
        group->addButton(*captureRadio);
        group->addButton(*numberRadio);
        group->addButton(*markerRadio);
        grid->addWidget(*captureRadio, 0, 0, 1, 2);
        grid->addWidget(*numberRadio, 1, 0);
        grid->addWidget(*edit, 1, 1);
        grid->addWidget(*markerRadio, 2, 0);
        grid->addWidget(*combo, 2, 1);
        rangeColumn->addWidget(box);
    };
    int fromIds[5] = {kFromTop, kFromNumber, kFromMarker, kFromEdit, kFromCombo};
    int toIds[5] = {kToEnd, kToNumber, kToMarker, kToEdit, kToCombo};
    rangeBox("From", "Capture Top", &fromTop, &fromNumber, &fromMarker, &fromEdit, &fromCombo, fromIds);
    rangeBox("To", "Capture End", &toEnd, &toNumber, &toMarker, &toEdit, &toCombo, toIds);
    middle->addLayout(rangeColumn);

    auto* right = new QVBoxLayout;
    auto* typeBox = new QGroupBox("Export Type");
    auto* typeRow = new QHBoxLayout(typeBox);
    csv = new QRadioButton("CSV");
    qxc = new QRadioButton("QXC");
    Name(csv, kCsv);
    Name(qxc, kQxc);
    auto* typeGroup = new QButtonGroup(typeBox);
    typeGroup->addButton(csv);
    typeGroup->addButton(qxc);
    typeRow->addWidget(csv);
    typeRow->addWidget(qxc);
    right->addWidget(typeBox);

    auto* itemsBox = new QGroupBox("Export Items");
    auto* itemsColumn = new QVBoxLayout(itemsBox);
    messages = new QRadioButton("PD Messages");
    samples = new QRadioButton("Voltage / Current");
    both = new QRadioButton("Both");
    Name(messages, kMessages);
    Name(samples, kSamples);
    Name(both, kBoth);
    auto* itemsGroup = new QButtonGroup(itemsBox);
    for (QRadioButton* r : {messages, samples, both}) {
        itemsGroup->addButton(r);
        itemsColumn->addWidget(r);
    }
    right->addWidget(itemsBox);

    auto* valuesBox = new QGroupBox("Voltage / Current");
    auto* valuesColumn = new QVBoxLayout(valuesBox);
    for (int v = 0; v < kExportValueCount; ++v) {
        values[v] = new QCheckBox(kExportValueTitles[v]);
        Name(values[v], kValueIds[v]);
        valuesColumn->addWidget(values[v]);
    }
    visibleOnly = new QCheckBox("Visible Columns Only");
    Name(visibleOnly, kVisibleOnly);
    valuesColumn->addWidget(visibleOnly);
    right->addWidget(valuesBox);
    middle->addLayout(right);
    top->addLayout(middle);

    status = new QLabel;
    Name(status, kStatus);
    top->addWidget(status);
    auto* buttons = new QHBoxLayout;
    exportButton = new QPushButton("Export");
    abortButton = new QPushButton("Abort");
    cancelButton = new QPushButton("Cancel");
    Name(exportButton, kExport);
    Name(abortButton, kAbort);
    buttons->addStretch(1);
    for (QPushButton* b : {exportButton, abortButton, cancelButton}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    top->addLayout(buttons);

    for (QRadioButton* r : {fromTop, fromNumber, fromMarker, toEnd, toNumber, toMarker, csv, qxc, messages, samples, both})
        connect(r, &QRadioButton::clicked, this, [this] { OnRadio(); });
    for (QLineEdit* e : {fromEdit, toEdit})
        connect(e, &QLineEdit::textEdited, this, [this] {
            ReadControls();
            ApplyEnabling();
        });
    for (QComboBox* c : {fromCombo, toCombo})
        connect(c, &QComboBox::activated, this, [this] {
            ReadControls();
            ApplyEnabling();
        });
    for (QCheckBox* c : values) connect(c, &QCheckBox::clicked, this, [this] { ReadControls(); });
    connect(visibleOnly, &QCheckBox::clicked, this, [this] { ReadControls(); });
    connect(fileButton, &QPushButton::clicked, this, [this] { OnFile(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { OnExport(); });
    connect(abortButton, &QPushButton::clicked, this, [this] { OnAbort(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { reject(); });
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, [this] { OnTimer(); });
}

CExportDlg::~CExportDlg() { StopWorker(false); }

QWidget* CExportDlg::Control(int id) const { return findChild<QWidget*>(QString("c%1").arg(id)); }

QString CExportDlg::StatusText() const { return status->text(); }

void CExportDlg::Prepare(CQXDoc& doc, const IDocumentHooks* hooks, const ColumnLayout& columns, bool invertCurrent) {
    store = &doc.store;
    options = ExportOptions{};
    options.columns = columns;
    options.invertCurrent = invertCurrent;
    options.fileName = ExportFileName(doc.store.recordPath, kExportCsv);
    markers = CollectMarkerEntries(doc.store, hooks);
    initialised = false;
}

void CExportDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialised) {
        initialised = true;
        OnInitDialog();
    }
}

void CExportDlg::OnInitDialog() {
    const size_t packets = store ? store->PacketCount() : 0;
    options.fromNumber = packets ? store->PacketAt(0)->index : 0;
    options.toNumber = packets ? store->PacketAt(packets - 1)->index : 0;
    options.exportItems = packets ? (automatic ? kItemsBoth : kItemsMessages) : kItemsSamples;
    status->clear();
    fileName->setText(Q(options.fileName));
    for (int v = 0; v < kExportValueCount; ++v) values[v]->setChecked(options.values[v]);
    visibleOnly->setChecked(options.visibleColumnsOnly);
    fromTop->setChecked(true);
    toEnd->setChecked(true);
    fromEdit->setText(QString::number(options.fromNumber));
    toEdit->setText(QString::number(options.toNumber));
    fromCombo->clear();
    toCombo->clear();
    for (const MarkerEntry& e : markers) {
        fromCombo->addItem(Q(MarkerEntryText(e)));
        toCombo->addItem(Q(MarkerEntryText(e)));
    }
    fromCombo->setCurrentIndex(markers.empty() ? -1 : 0);
    toCombo->setCurrentIndex(markers.empty() ? -1 : int(markers.size()) - 1);
    csv->setChecked(true);
    (options.exportItems == kItemsBoth ? both : options.exportItems == kItemsMessages ? messages : samples)->setChecked(true);
    ReadControls();
    ApplyEnabling();
    if (automatic) OnExport();
}

void CExportDlg::ReadControls() {
    for (int v = 0; v < kExportValueCount; ++v) options.values[v] = values[v]->isChecked();
    options.visibleColumnsOnly = visibleOnly->isChecked();
    options.fromKind = fromNumber->isChecked() ? kRangeNumber : fromMarker->isChecked() ? kRangeMarker : kRangeCapture;
    options.toKind = toNumber->isChecked() ? kRangeNumber : toMarker->isChecked() ? kRangeMarker : kRangeCapture;
    options.fromNumber = NumberOf(fromEdit);
    options.toNumber = NumberOf(toEdit);
    options.fromMarker = fromCombo->currentIndex();
    options.toMarker = toCombo->currentIndex();
    options.exportType = qxc->isChecked() ? kExportQxc : kExportCsv;
    options.exportItems = both->isChecked() ? kItemsBoth : samples->isChecked() ? kItemsSamples : kItemsMessages;
}

bool CExportDlg::Resolve() {
    if (!store) return false;
    const int64_t asked = options.toNumber;
    const bool ok = ResolveRange(*store, markers, options, &rangeStart, &rangeEnd);
    if (options.toNumber != asked) toEdit->setText(QString::number(options.toNumber)); // shown as used
    return ok;
}

void CExportDlg::OnRadio() {
    ReadControls();
    if (!options.fileName.empty()) {
        options.fileName = FollowExtension(options.fileName, options.exportType);
        fileName->setText(Q(options.fileName));
    }
    ApplyEnabling();
}

void CExportDlg::ApplyEnabling() {
    const bool running = worker.Running();
    const bool packets = store && store->PacketCount() > 0;
    if (exporting) {
        for (QWidget* w : findChildren<QWidget*>())
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w))
                w->setEnabled(false);
        abortButton->setEnabled(true);
        return;
    }
    for (QWidget* w : {static_cast<QWidget*>(fileButton), static_cast<QWidget*>(fromTop), static_cast<QWidget*>(toEnd),
                       static_cast<QWidget*>(fromMarker), static_cast<QWidget*>(toMarker), static_cast<QWidget*>(csv),
                       static_cast<QWidget*>(qxc), static_cast<QWidget*>(cancelButton)})
        w->setEnabled(true);
    abortButton->setEnabled(false);
    fromNumber->setEnabled(packets);
    toNumber->setEnabled(packets);
    const bool isCsv = options.exportType == kExportCsv;
    messages->setEnabled(isCsv && packets);
    both->setEnabled(isCsv && packets);
    samples->setEnabled(isCsv);
    const bool boxes = isCsv && options.exportItems != kItemsMessages;
    for (QCheckBox* c : values) c->setEnabled(boxes);
    visibleOnly->setEnabled(isCsv && options.exportItems != kItemsSamples && packets);
    fromEdit->setEnabled(fromNumber->isChecked() && packets);
    toEdit->setEnabled(toNumber->isChecked() && packets);
    fromCombo->setEnabled(fromMarker->isChecked());
    toCombo->setEnabled(toMarker->isChecked());
    exportButton->setEnabled(!options.fileName.empty() && !running && Resolve());
}

void CExportDlg::OnFile() {
    ReadControls();
    const std::string chosen = chooseFile(options.exportType);
    if (!chosen.empty()) {
        options.fileName = chosen;
        fileName->setText(Q(chosen));
    }
    ApplyEnabling();
}

void CExportDlg::OnExport() {
    ReadControls();
    if (!Resolve() || worker.Running() || exporting) return;
    // Writing the record file over itself would destroy the capture being read. The worker refuses it
    // too (an automatic export gets its answer through finished); here the user learns why at once.
    if (!automatic && SameFile(options.fileName, store->recordPath)) {
        message("The export file is the record file itself; choose another file name.");
        return;
    }
    exporting = true;
    ApplyEnabling();
    const CCaptureStore* s = store;
    const ExportOptions o = options;
    const int64_t start = rangeStart, end = rangeEnd;
    worker.Start([s, o, start, end](ToolFlags& f) { return RunExport(*s, o, start, end, f); });
    status->setText(QString::asprintf("Exporting... %d%%", 0));
    timer.start();
}

void CExportDlg::OnAbort() { worker.RequestAbort(); }

void CExportDlg::FinishExport() {
    worker.Join();
    if (exporting) OnTimer();
}

void CExportDlg::OnTimer() {
    if (!exporting) return;
    if (!worker.flags.done.load()) {
        status->setText(QString::asprintf("Exporting... %d%%", worker.flags.progress.load()));
        return;
    }
    timer.stop();
    worker.Join();
    worker.flags.done = false;
    exporting = false;
    const bool ok = !worker.flags.failed.load();
    lastReason = ok ? std::string() : worker.flags.reason;
    if (automatic) {
        accept();
    } else {
        status->setText("Export Completed.");
        ApplyEnabling();
        if (ok) {
            message("Export Completed.");
            accept();
        } else {
            message("Export Aborted.");
            status->setText(Q(lastReason));
        }
    }
    if (finished) finished(ok, lastReason);
}

// The worker reads this dialog's store and options until it ends: closing asks it to stop and waits.
// An export stopped that way is reported as ended, except while the dialog itself goes away.
void CExportDlg::StopWorker(bool report) {
    worker.RequestAbort();
    worker.Join();
    timer.stop();
    if (exporting) {
        exporting = false;
        worker.flags.done = false;
        const bool ok = !worker.flags.failed.load();
        lastReason = ok ? std::string() : worker.flags.reason;
        ApplyEnabling();
        if (report && finished) finished(ok, lastReason);
    }
}

void CExportDlg::closeEvent(QCloseEvent* event) {
    StopWorker(true);
    QDialog::closeEvent(event);
}

void CExportDlg::reject() {
    StopWorker(true);
    QDialog::reject();
}
