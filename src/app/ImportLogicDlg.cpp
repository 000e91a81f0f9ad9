#include "ImportLogicDlg.h"

#include "PdConstants.h"
#include "RecordStream.h"
#include "Synthesizer.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <filesystem>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr char kRecordExtension[] = ".qxc";
constexpr char kNoChannel[] = "(none: CC2 stays idle)";

// The channel whose name mentions the line ("CC1", "cc1_line"), else the one at fallback.
int PreferredChannel(const std::vector<std::string>& names, const char* line, int fallback) {
    for (size_t i = 0; i < names.size(); ++i)
        if (QString::fromStdString(names[i]).contains(QLatin1String(line), Qt::CaseInsensitive)) return int(i);
    return fallback < int(names.size()) ? fallback : -1;
}

} // namespace

std::string DefaultImportOutput(const std::string& input) {
    return std::filesystem::path(input).replace_extension(kRecordExtension).string();
}

QString LogicCaptureFilter(const std::vector<imp::CaptureFormat>& formats) {
    QStringList entries;
    QStringList all;
    for (const imp::CaptureFormat& f : formats) {
        QStringList patterns;
        for (const std::string& e : f.extensions) patterns << "*." + Q(e);
        entries << Q(f.description) + " (" + patterns.join(' ') + ")";
        for (const QString& p : patterns)
            if (!all.contains(p)) all << p;
    }
    if (!all.isEmpty()) entries.prepend("Formats libsigrok reads (" + all.join(' ') + ")");
    entries << "All files (*)";
    return entries.join(";;");
}

QString ClockTickText(uint16_t clockSetting) {
    const int divisor = rec::ClockDivisor(clockSetting);
    QString text = QString::asprintf("divisor %d: a tick of %.4g µs (%.4g MHz)", divisor,
                                     divisor / double(kClockTicksPerMicro), double(kClockTicksPerMicro) / divisor);
    if (divisor > synth::kMaxBmcDivisor) text += ", too coarse for BMC";
    return text;
}

CImportLogicDlg::CImportLogicDlg(const std::string& inputPath, QWidget* parent)
    : CSettingsDialog(parent), input(inputPath) {
    setWindowTitle("Import Logic Capture");
    auto* top = new QVBoxLayout(this);
    auto* file = new QLabel(Q(input));
    file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* form = new QFormLayout;
    form->addRow("Capture:", file);

    format = new QLineEdit;
    format->setPlaceholderText("recognised from the file");
    format->setToolTip("Input format and options, as binary:samplerate=6M:numchannels=8 or csv:samplerate=2.4MHz");
    readButton = new QPushButton("Read Channels");
    readButton->setAutoDefault(false);
    auto* formatRow = new QHBoxLayout;
    formatRow->addWidget(format, 1);
    formatRow->addWidget(readButton);
    form->addRow("Format:", formatRow);

    cc1 = new QComboBox;
    cc2 = new QComboBox;
    form->addRow("CC1 channel:", cc1);
    form->addRow("CC2 channel:", cc2);
    clock = new QSpinBox;
    clock->setRange(0, 0xFFFF);
    clock->setToolTip("Clock setting of the record stream's CC edge blocks");
    clockTick = new QLabel(ClockTickText(0));
    auto* clockRow = new QHBoxLayout;
    clockRow->addWidget(clock);
    clockRow->addWidget(clockTick, 1);
    form->addRow("Clock setting:", clockRow);

    output = new QLineEdit(Q(DefaultImportOutput(input)));
    output->setMinimumWidth(360);
    browse = new QPushButton("Browse...");
    browse->setAutoDefault(false);
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(output, 1);
    outputRow->addWidget(browse);
    form->addRow("Record file:", outputRow);
    top->addLayout(form);

    problem = new QLabel;
    problem->setWordWrap(true);
    problem->setStyleSheet("color: #b00000");
    problem->hide();
    top->addWidget(problem);
    top->addWidget(ButtonRow({}, "Import"));

    connect(readButton, &QPushButton::clicked, this, [this] { ReadChannels(); });
    // Enter in the format field reads the channels; it must not also start the import.
    format->installEventFilter(this);
    connect(clock, &QSpinBox::valueChanged, this, [this](int v) { clockTick->setText(ClockTickText(uint16_t(v))); });
    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(output, &QLineEdit::textChanged, this, [this] { replaceAgreed = false; });
    chooseOutput = [](const std::string&) { return std::string(); };
    askReplace = [](const std::string&) { return false; };
}

bool CImportLogicDlg::ReadChannels() {
    std::string error;
    const bool ok = imp::ListLogicChannels(input, format->text().trimmed().toStdString(), &channels, &error);
    cc1->clear();
    cc2->clear();
    cc2->addItem(kNoChannel);
    for (const std::string& name : channels) {
        cc1->addItem(Q(name));
        cc2->addItem(Q(name));
    }
    cc1->setCurrentIndex(PreferredChannel(channels, "CC1", 0));
    int second = PreferredChannel(channels, "CC2", 1);
    if (second == cc1->currentIndex()) second = -1;
    cc2->setCurrentIndex(second + 1);
    if (!ok && format->text().trimmed().isEmpty() && error.find("not a logic capture") != std::string::npos)
        error += ". Name its format above, as binary:samplerate=6M for raw binary.";
    problem->setText(Q(error));
    problem->setVisible(!ok);
    cc1->setEnabled(ok);
    cc2->setEnabled(ok);
    okButton->setEnabled(ok);
    return ok;
}

bool CImportLogicDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == format && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            ReadChannels();
            return true;
        }
    }
    return CSettingsDialog::eventFilter(watched, event);
}

void CImportLogicDlg::OnBrowse() {
    const std::string chosen = chooseOutput(output->text().toStdString());
    if (chosen.empty()) return;
    output->setText(Q(chosen));
    // The save dialog asked already when it named an existing file.
    replaceAgreed = true;
}

bool CImportLogicDlg::Validate() {
    if (channels.empty() || cc1->currentIndex() < 0) return false;
    if (cc2->currentIndex() > 0 && cc2->currentIndex() - 1 == cc1->currentIndex()) {
        Message("CC1 and CC2 cannot be the same channel.");
        cc2->setFocus();
        return false;
    }
    std::string path = output->text().trimmed().toStdString();
    if (path.empty()) {
        Message("Enter the record file to write.");
        output->setFocus();
        return false;
    }
    // Without the extension the Open dialog would not show the file.
    if (std::filesystem::path(path).extension() != kRecordExtension) {
        path += kRecordExtension;
        replaceAgreed = false;
    }
    if (Q(path) != output->text()) output->setText(Q(path));
    std::error_code ec;
    if (std::filesystem::equivalent(path, input, ec)) {
        Message("The record file cannot be the capture itself.");
        output->setFocus();
        return false;
    }
    if (!replaceAgreed && std::filesystem::exists(path, ec)) {
        if (!askReplace("\"" + path + "\" already exists.\nDo you want to replace it?")) return false;
    }
    replaceAgreed = true;
    return true;
}

imp::ImportRequest CImportLogicDlg::Request() const {
    imp::ImportRequest r;
    r.input = input;
    r.output = output->text().toStdString();
    r.format = format->text().trimmed().toStdString();
    if (cc1->currentIndex() >= 0) r.cc1 = channels[size_t(cc1->currentIndex())];
    if (cc2->currentIndex() > 0) r.cc2 = channels[size_t(cc2->currentIndex() - 1)];
    r.clockSetting = uint16_t(clock->value());
    r.overwrite = replaceAgreed;
    return r;
}
