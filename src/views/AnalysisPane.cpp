#include "AnalysisPane.h"

#include "AnalysisTexts.h"
#include "CaptureStore.h"
#include "QXDoc.h"
#include "QXLogView.h"

#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTreeWidget>

#include <algorithm>

using namespace analysis;

namespace {

constexpr int kNumberRole = Qt::UserRole;    // the packet number, -1 for none
constexpr int kTimeRole = Qt::UserRole + 1;  // its start (µs from the capture origin), -1 for none
constexpr int kSortRole = Qt::UserRole + 2;  // a number to sort the column by

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Time, severity, measured value and limit sort as numbers, the rest as text.
class CFindingItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int c = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QVariant a = data(c, kSortRole), b = other.data(c, kSortRole);
        if (a.isValid() && b.isValid()) return a.toDouble() < b.toDouble();
        return text(c) < other.text(c);
    }
};

void SetPacket(QTreeWidgetItem* item, const PacketRef& r) {
    item->setData(0, kNumberRole, qlonglong(r.number));
    item->setData(0, kTimeRole, qlonglong(r.time));
}

} // namespace

CAnalysisPane::CAnalysisPane(IViewHost& host, const CLimits& limits, QLabel* countLabel, QWidget* parent)
    : QDockWidget(QStringLiteral("Analysis"), parent), host(host), analyzer(limits), countLabel(countLabel) {
    setObjectName(QStringLiteral("Analysis"));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setContextMenuPolicy(Qt::PreventContextMenu);
    split = new QSplitter(Qt::Vertical, this);
    split->setChildrenCollapsible(false);

    summary = new QTreeWidget(split);
    summary->setObjectName(QStringLiteral("analysisSummary"));
    summary->setHeaderLabels({QStringLiteral("Summary"), QStringLiteral("Packet"), QStringLiteral("Details")});
    summary->setUniformRowHeights(true);
    summary->header()->setStretchLastSection(true);

    findings = new QTreeWidget(split);
    findings->setObjectName(QStringLiteral("analysisFindings"));
    findings->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Severity"), QStringLiteral("Rule"),
                               QStringLiteral("Text"), QStringLiteral("Measured"), QStringLiteral("Limit"),
                               QStringLiteral("Packets")});
    findings->setRootIsDecorated(false);
    findings->setUniformRowHeights(true);
    findings->setSortingEnabled(true);
    findings->sortByColumn(kTime, Qt::AscendingOrder);
    findings->header()->setStretchLastSection(false);
    findings->header()->setSectionResizeMode(kText, QHeaderView::Stretch);

    split->addWidget(summary);
    split->addWidget(findings);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    setWidget(split);

    auto go = [this](QTreeWidgetItem* item, int) { GoTo(item); };
    connect(summary, &QTreeWidget::itemDoubleClicked, this, go);
    connect(findings, &QTreeWidget::itemDoubleClicked, this, go);
}

void CAnalysisPane::OnUpdate(IDocView*, int64_t) {
    const auto start = std::chrono::steady_clock::now();
    Refresh(false);
    worstUpdate = std::max(worstUpdate, std::chrono::duration_cast<std::chrono::microseconds>(
                                            std::chrono::steady_clock::now() - start));
}

void CAnalysisPane::Reset() {
    analyzer.Reset();
    shown = {};
    vbusNote = nullptr;
    shownPackets = shownSamples = -1;
    stale = true;
    summary->clear();
    findings->clear();
    if (countLabel) countLabel->clear();
}

void CAnalysisPane::showEvent(QShowEvent* event) {
    QDockWidget::showEvent(event);
    // Updates while hidden only fed the analyzer.
    Refresh(false);
}

void CAnalysisPane::Refresh(bool force) {
    CQXDoc* doc = host.Document();
    if (!doc) {
        if (countLabel) countLabel->clear();
        return;
    }
    const CCaptureStore& store = doc->store;
    analyzer.Feed(store);
    const Results& now = analyzer.Current();
    const bool haveCapture = store.PacketCount() != 0 || store.SampleCount() != 0;
    if (now.packetsRead != shownPackets || now.samplesRead != shownSamples || store.timeOrigin != shownOrigin)
        stale = true;
    if (stale && (force || isVisible())) {
        Results before = std::move(shown);
        // Texts carry display times: a new origin rewrites every row.
        if (store.timeOrigin != shownOrigin) before = {};
        shown = analyzer.Snapshot(store);
        shownPackets = now.packetsRead;
        shownSamples = now.samplesRead;
        shownOrigin = store.timeOrigin;
        stale = false;
        Fill(before);
    }
    if (countLabel) countLabel->setText(CountText(stale ? now : shown, haveCapture));
}

QString CAnalysisPane::CountText(const Results& results, bool haveCapture) {
    if (!haveCapture) return {};
    size_t errors = 0;
    for (const Finding& f : results.findings) errors += f.severity == Severity::Error;
    QString t = QStringLiteral("Findings: %1").arg(results.findings.size());
    if (errors) t += QStringLiteral(" (%1 error%2)").arg(errors).arg(errors == 1 ? "" : "s");
    return t;
}

void CAnalysisPane::Fill(const Results& before) {
    const CCaptureStore& store = host.Document()->store;

    summary->setUpdatesEnabled(false);
    // Connections that did not change keep their rows; a live capture changes the last one only.
    if (vbusNote) delete summary->takeTopLevelItem(summary->indexOfTopLevelItem(vbusNote));
    vbusNote = nullptr;
    size_t kept = 0;
    if (size_t(summary->topLevelItemCount()) == before.connections.size())
        while (kept < before.connections.size() && kept < shown.connections.size() &&
               before.connections[kept] == shown.connections[kept])
            ++kept;
    while (size_t(summary->topLevelItemCount()) > kept) delete summary->takeTopLevelItem(summary->topLevelItemCount() - 1);
    for (size_t n = kept; n < shown.connections.size(); ++n) {
        QTreeWidgetItem* top = nullptr;
        for (const SummaryLine& line : ConnectionLines(store, shown.connections[n], n + 1)) {
            QTreeWidgetItem* item = top ? new QTreeWidgetItem(top) : new QTreeWidgetItem(summary);
            item->setText(0, Q(line.label));
            // The packet cell is the first when it names one; the rest are details.
            size_t c = 0;
            if (line.packet.number >= 0 && !line.cells.empty()) item->setText(1, Q(line.cells[c++]));
            QStringList details;
            for (; c < line.cells.size(); ++c) details << Q(line.cells[c]);
            item->setText(2, details.join(QStringLiteral("  |  ")));
            item->setToolTip(2, item->text(2));
            SetPacket(item, line.packet);
            for (const std::string& object : line.items) {
                auto* child = new QTreeWidgetItem(item, {Q(object)});
                SetPacket(child, line.packet);
            }
            if (!top) top = item;
        }
        if (top) top->setExpanded(true);
    }
    if (!shown.analogSeen && !shown.connections.empty()) {
        vbusNote = new QTreeWidgetItem(summary, {QStringLiteral("VBUS")});
        vbusNote->setText(2, QStringLiteral("no readings that move: the VBUS and current rules were not judged"));
        SetPacket(vbusNote, {});
    }
    for (int c : {0, 1}) {
        summary->resizeColumnToContents(c);
        summary->setColumnWidth(c, summary->columnWidth(c) + 12);
    }
    summary->setUpdatesEnabled(true);

    // A live capture mostly adds findings after those shown: only the new ones get rows.
    const std::vector<Finding>& had = before.findings;
    const bool grown = !had.empty() && size_t(findings->topLevelItemCount()) == had.size() &&
                       had.size() <= shown.findings.size() &&
                       std::equal(had.begin(), had.end(), shown.findings.begin());
    findings->setUpdatesEnabled(false);
    findings->setSortingEnabled(false);
    if (!grown) findings->clear();
    QList<QTreeWidgetItem*> rows;
    for (size_t i = grown ? had.size() : 0; i < shown.findings.size(); ++i) {
        const Finding& f = shown.findings[i];
        auto* item = new CFindingItem;
        item->setText(kTime, Q(SecondsText(store, f.time)));
        item->setData(kTime, kSortRole, double(f.time));
        item->setText(kSeverity, SeverityName(f.severity));
        item->setData(kSeverity, kSortRole, int(f.severity));
        item->setText(kRule, RuleInfoOf(f.rule).key);
        item->setText(kText, Q(f.text));
        item->setToolTip(kText, Q(f.text));
        item->setText(kMeasured, Q(MeasuredText(f)));
        item->setData(kMeasured, kSortRole, f.hasMeasured ? f.measured : -1.0);
        item->setText(kLimit, Q(LimitText(f)));
        item->setData(kLimit, kSortRole, f.limit);
        item->setText(kPackets, Q(PacketsText(f)));
        if (!f.packets.empty()) item->setData(kPackets, kSortRole, double(f.packets.front().number));
        SetPacket(item, f.packets.empty() ? PacketRef{-1, f.time} : f.packets.front());
        if (f.severity == Severity::Error) item->setForeground(kSeverity, QColor(0xB0, 0x00, 0x00));
        rows.push_back(item);
    }
    findings->addTopLevelItems(rows);
    findings->setSortingEnabled(true);
    // Columns take their widths from the first rows; after that they are the user's.
    if (!rows.empty() && !findingColumnsFitted) {
        findingColumnsFitted = true;
        for (int c = 0; c < kFindingColumns; ++c)
            if (c != kText) {
                findings->resizeColumnToContents(c);
                findings->setColumnWidth(c, findings->columnWidth(c) + 12);
            }
    }
    findings->setUpdatesEnabled(true);
}

void CAnalysisPane::GoTo(QTreeWidgetItem* item) {
    CQXDoc* doc = host.Document();
    if (!item || !doc) return;
    const int64_t number = item->data(0, kNumberRole).toLongLong();
    const int64_t time = item->data(0, kTimeRole).toLongLong();
    if (time < 0 || !item->data(0, kTimeRole).isValid()) return;
    const CCaptureStore& store = doc->store;
    host.CenterGraphOn(store.DisplayTime(time));
    if (number < 0) {
        // Only the graph shows where such an entry is, and it may lie behind this pane's tab. The graph
        // pane goes by its object name, the one the window's saved layout knows it by.
        if (auto* graph = window()->findChild<QDockWidget*>(QStringLiteral("Graph"))) {
            graph->show();
            graph->raise();
        }
        host.SetStatusText("No packet: the graph is centred on " + SecondsText(store, time) + ".");
        return;
    }
    // Packets the store dropped still count in the numbers: the store's first packet is number base.
    const int64_t base = int64_t(uint32_t(store.tallies.all - uint32_t(store.PacketCount())));
    const CCCPacket* packet = store.PacketAt(size_t(number - base));
    if (number < base || !packet || packet->startTime != time) packet = nullptr;
    CQXLogView* list = host.PacketList();
    if (!packet) {
        host.SetStatusText("Packet #" + std::to_string(number) + " is no longer in the capture.");
    } else if (!list || !list->SelectPacket(packet)) {
        host.SetStatusText("Packet #" + std::to_string(number) + " is hidden by the display filter.");
    }
}
