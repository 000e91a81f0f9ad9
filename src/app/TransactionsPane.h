// The Transactions pane: the capture's exchanges as a tree (exchanges, transactions, packets) beside
// their sequence diagram, kept up to date as the document grows. A click on a row or an arrow selects its
// packet in the packet list and centres the graph on it; a packet selected in the list shows its row
// and its arrow.
#pragma once

#include "Analyzer.h"
#include "DocView.h"
#include "FlowGrouper.h"

#include <QDockWidget>

#include <chrono>
#include <cstdint>
#include <vector>

class CFlowDiagramView;
class CFlowTreeModel;
class QSplitter;
class QTreeView;

class CTransactionsPane : public QDockWidget, public IDocView {
    Q_OBJECT

public:
    CTransactionsPane(IViewHost& host, const analysis::CLimits& limits, QWidget* parent = nullptr);

    // IDocView: reads what the document gained (the rows and the diagram follow when the pane is shown);
    // a selection in the packet list is shown here.
    void OnUpdate(IDocView* sender, int64_t hint) override;
    // The document's contents went (open, New, Clear, a new record file): start over.
    void Reset();

    const flow::Flow& Shown() const { return grouper.Current(); }
    const std::vector<analysis::Finding>& Findings() const { return *findings; }
    QTreeView* Tree() const { return tree; }
    CFlowTreeModel* Model() const { return model; }
    CFlowDiagramView* Diagram() const { return diagram; }
    // Selects the packet in the packet list and centres the graph on it (a click on a row or an arrow).
    void GoTo(int64_t number, int64_t time);
    // The longest update so far (reading and, when shown, the rows), for the live benchmark: as the clock
    // on the wall ran, and as this thread ran (a busy machine's other work left out).
    std::chrono::microseconds WorstUpdate() const { return worstUpdate; }
    std::chrono::microseconds WorstUpdateCpu() const { return worstUpdateCpu; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Refresh();
    void ShowSelectedPacket();
    // Makes the packet's row the tree's current one, without going to the packet again.
    void SelectRow(int64_t number);
    void OnRowClicked(const QModelIndex& index);

    IViewHost& host;
    flow::CFlowGrouper grouper;
    analysis::CAnalyzer analyzer;
    // The findings attached: the analysis as far as it read while recording, all of it otherwise.
    analysis::Results finished;
    const std::vector<analysis::Finding>* findings = &finished.findings;
    int64_t finishedPackets = -1;
    QSplitter* split = nullptr;
    QTreeView* tree = nullptr;
    CFlowTreeModel* model = nullptr;
    CFlowDiagramView* diagram = nullptr;
    bool stale = true;
    int64_t shownOrigin = 0; // the time origin of the texts shown
    bool selecting = false;  // a selection this pane makes itself
    std::chrono::microseconds worstUpdate{0};
    std::chrono::microseconds worstUpdateCpu{0};
};
