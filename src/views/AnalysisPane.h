// The Analysis pane: the capture's contract summary as a tree and the rule findings as a sortable list,
// kept up to date as the document grows. A double click on an entry with a packet selects that packet in
// the packet list and centres the graph on it; on one without a packet it centres the graph on its time
// and brings the graph forward. The findings count goes to a label of the status bar.
#pragma once

#include "Analyzer.h"
#include "DocView.h"

#include <QDockWidget>

#include <chrono>
#include <cstdint>
#include <vector>

class QLabel;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

class CAnalysisPane : public QDockWidget, public IDocView {
    Q_OBJECT

public:
    // Summary tree and findings columns.
    enum FindingColumn { kTime, kSeverity, kRule, kText, kMeasured, kLimit, kPackets, kFindingColumns };

    CAnalysisPane(IViewHost& host, const analysis::CLimits& limits, QLabel* countLabel, QWidget* parent = nullptr);

    // IDocView: reads what the document gained; the lists are rebuilt only when something changed and
    // the pane is shown.
    void OnUpdate(IDocView* sender, int64_t hint) override;
    // The document's contents went (open, New, Clear, a new record file): start over.
    void Reset();

    // What the lists show now.
    const analysis::Results& Shown() const { return shown; }
    QTreeWidget* Summary() const { return summary; }
    QTreeWidget* Findings() const { return findings; }
    // Selects the item's packet in the packet list and centres the graph on its time (a double click);
    // an item without a packet brings the graph forward instead, as the only view that shows it.
    void GoTo(QTreeWidgetItem* item);
    // The longest update so far (feeding and, when shown, rebuilding the lists), for the live benchmark.
    std::chrono::microseconds WorstUpdate() const { return worstUpdate; }
    // "Findings: 3 (1 error)"; empty without a capture.
    static QString CountText(const analysis::Results& results, bool haveCapture);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Refresh(bool force);
    // Brings the lists up to `shown`; `before` is what they showed (empty: rebuild them).
    void Fill(const analysis::Results& before);

    IViewHost& host;
    analysis::CAnalyzer analyzer;
    analysis::Results shown;
    QLabel* countLabel;
    QSplitter* split = nullptr;
    QTreeWidget* summary = nullptr;
    QTreeWidget* findings = nullptr;
    QTreeWidgetItem* vbusNote = nullptr; // the row saying VBUS was not judged
    // What the lists were built from: the walk's position and the time origin of their texts.
    int64_t shownPackets = -1;
    int64_t shownSamples = -1;
    int64_t shownOrigin = 0;
    bool stale = true;
    bool findingColumnsFitted = false;
    std::chrono::microseconds worstUpdate{0};
};
