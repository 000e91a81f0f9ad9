#include "TransactionsPane.h"

#include "CaptureStore.h"
#include "FlowDiagramView.h"
#include "FlowTreeModel.h"
#include "QXDoc.h"
#include "QXLogView.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSplitter>
#include <QTreeView>

#include <algorithm>
#include <ctime>

using namespace flow;

namespace {

// CPU time of the calling thread; zero where the platform has no such clock.
std::chrono::microseconds ThreadCpuTime() {
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec t{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) == 0)
        return std::chrono::microseconds(int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000);
#endif
    return std::chrono::microseconds(0);
}

} // namespace

CTransactionsPane::CTransactionsPane(IViewHost& host, const analysis::CLimits& limits, QWidget* parent)
    : QDockWidget(QStringLiteral("Transactions"), parent), host(host), grouper(limits), analyzer(limits) {
    setObjectName(QStringLiteral("Transactions"));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setContextMenuPolicy(Qt::PreventContextMenu);
    split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);

    tree = new QTreeView(split);
    tree->setObjectName(QStringLiteral("transactionsTree"));
    model = new CFlowTreeModel(this);
    tree->setModel(model);
    tree->setUniformRowHeights(true);
    tree->header()->setStretchLastSection(true);
    tree->setColumnWidth(CFlowTreeModel::kName, 240);
    tree->setColumnWidth(CFlowTreeModel::kTime, 90);
    tree->setColumnWidth(CFlowTreeModel::kDuration, 70);
    tree->setColumnWidth(CFlowTreeModel::kParties, 130);
    tree->setColumnWidth(CFlowTreeModel::kResult, 150);

    diagram = new CFlowDiagramView(split);
    split->addWidget(tree);
    split->addWidget(diagram);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    setWidget(split);

    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnRowClicked(current); });
    connect(diagram, &CFlowDiagramView::packetClicked, this, [this](qint64 number, qint64 time) {
        GoTo(number, time);
        SelectRow(number);
    });
}

void CTransactionsPane::Reset() {
    grouper.Reset();
    analyzer.Reset();
    finished = {};
    finishedPackets = -1;
    findings = &finished.findings;
    model->Clear();
    diagram->SetData(nullptr, nullptr, 0);
    stale = true;
}

void CTransactionsPane::showEvent(QShowEvent* event) {
    QDockWidget::showEvent(event);
    // Updates while hidden only read the document.
    Refresh();
    ShowSelectedPacket();
}

void CTransactionsPane::OnUpdate(IDocView* sender, int64_t) {
    if (sender && sender == host.PacketList()) {
        if (!selecting) ShowSelectedPacket();
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    const std::chrono::microseconds cpu = ThreadCpuTime();
    Refresh();
    worstUpdate = std::max(worstUpdate, std::chrono::duration_cast<std::chrono::microseconds>(
                                            std::chrono::steady_clock::now() - start));
    worstUpdateCpu = std::max(worstUpdateCpu, ThreadCpuTime() - cpu);
}

void CTransactionsPane::Refresh() {
    CQXDoc* doc = host.Document();
    if (!doc) return;
    const CCaptureStore& store = doc->store;
    const uint64_t generation = grouper.Generation();
    const int64_t packetsRead = Shown().packetsRead;
    // While recording the newest frames may still be joined by others; otherwise the document is whole
    // for now, and so is its analysis.
    if (host.RecordingActive()) {
        grouper.Feed(store);
        analyzer.Feed(store);
        findings = &analyzer.Current().findings;
    } else {
        grouper.FeedAll(store);
        analyzer.Feed(store);
        if (finishedPackets != int64_t(store.tallies.all) || grouper.Generation() != generation) {
            finished = analyzer.Snapshot(store);
            finishedPackets = int64_t(store.tallies.all);
        }
        findings = &finished.findings;
    }
    grouper.AttachFindings(*findings);
    // Texts carry display times: a new time origin rewrites them.
    if (grouper.Generation() != generation || Shown().packetsRead != packetsRead ||
        store.timeOrigin != shownOrigin)
        stale = true;
    if (!stale || !isVisible()) return;

    // The newest rows stay in view while they were.
    const QScrollBar* bar = tree->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const int rows = model->rowCount();
    model->Sync(&Shown(), grouper.Generation(), findings, store.timeOrigin);
    diagram->SetData(&Shown(), findings, store.timeOrigin);
    if (atEnd && host.RecordingActive() && model->rowCount() > rows) tree->scrollToBottom();
    shownOrigin = store.timeOrigin;
    stale = false;
}

void CTransactionsPane::ShowSelectedPacket() {
    CQXDoc* doc = host.Document();
    const CCCPacket* p = host.SelectedPacket();
    if (!doc || !p || !isVisible()) return;
    if (stale) Refresh();
    const CCaptureStore& store = doc->store;
    // Packets the store dropped still count in the numbers: the store's first packet is number base.
    const int64_t base = int64_t(uint32_t(store.tallies.all - uint32_t(store.PacketCount())));
    const int64_t number = base + p->index;
    SelectRow(number);
    diagram->ShowPacket(number, p->startTime);
}

void CTransactionsPane::SelectRow(int64_t number) {
    const int32_t tx = TransactionOfPacket(Shown(), number);
    if (tx < 0) return;
    const Transaction& t = Shown().transactions[size_t(tx)];
    selecting = true;
    for (size_t k = 0; k < t.packets.size(); ++k)
        if (t.packets[k].number == number) {
            const QModelIndex row = model->PacketIndex(tx, int32_t(k));
            tree->setCurrentIndex(row);
            tree->scrollTo(row);
        }
    selecting = false;
}

void CTransactionsPane::OnRowClicked(const QModelIndex& index) {
    if (selecting || !index.isValid()) return;
    const int64_t number = index.data(CFlowTreeModel::kNumberRole).toLongLong();
    const int64_t time = index.data(CFlowTreeModel::kTimeRole).toLongLong();
    diagram->ShowPacket(number, time);
    GoTo(number, time);
}

void CTransactionsPane::GoTo(int64_t number, int64_t time) {
    CQXDoc* doc = host.Document();
    if (!doc || number < 0) return;
    const CCaptureStore& store = doc->store;
    host.CenterGraphOn(store.DisplayTime(time));
    const int64_t base = int64_t(uint32_t(store.tallies.all - uint32_t(store.PacketCount())));
    const CCCPacket* packet = number >= base ? store.PacketAt(size_t(number - base)) : nullptr;
    if (packet && packet->startTime != time) packet = nullptr;
    CQXLogView* list = host.PacketList();
    selecting = true;
    if (!packet)
        host.SetStatusText("Packet #" + std::to_string(number) + " is no longer in the capture.");
    else if (!list || !list->SelectPacket(packet))
        host.SetStatusText("Packet #" + std::to_string(number) + " is hidden by the display filter.");
    selecting = false;
}
