// The graph and view commands: the display filter, find, column settings, fonts, and what the graph
// and the Analysis and Transactions panes show. They read the document as it is and never reset it.
#include "MainFrame.h"

#include "AnalysisPane.h"
#include "CommandTable.h"
#include "DockableGraph.h"
#include "GraphFont.h"
#include "GraphView.h"
#include "LogViewCfgDlg.h"
#include "PDPacketListView.h"
#include "PDPacketTreeView.h"
#include "PacketFindDlg.h"
#include "QXLogView.h"
#include "TransactionsPane.h"

void CMainFrame::OnToggleDisplayFilter() {
    SetDisplayFilterEnabled(!displayFilter.displayFilterEnabled);
}

void CMainFrame::SetDisplayFilterEnabled(bool on) {
    displayFilter.displayFilterEnabled = on;
    if (logView) logView->SetupColumns();
    UpdateAllViews(nullptr, 0);
}

void CMainFrame::OnFind() {
    findCriteria.statistics = &doc.store.tallies;
    CPacketFindDlg dialog(findCriteria, this);
    if (execToolDialog(dialog) != QDialog::Accepted || !logView) return;
    // The highlighted cells follow the new criteria.
    logView->viewport()->update();
    logView->FindInList(findCriteria.direction == CFindCriteria::kForward);
}

void CMainFrame::OnDisplayFilterSettings() {
    displayFilter.statistics = &doc.store.tallies;
    CPacketFindDlg dialog(displayFilter, this);
    if (execToolDialog(dialog) == QDialog::Accepted) SetDisplayFilterEnabled(true);
}

void CMainFrame::OnColumnSettings() {
    if (!logView) return;
    // Widths and order the user changed by dragging go into the column info first.
    logView->SaveColumnLayout();
    CLogViewCfgDlg dialog(settings.columns, this);
    if (execToolDialog(dialog) == QDialog::Accepted) logView->SetupColumns();
}

void CMainFrame::OnPdFontSettings() {
    const QFont current = logView ? logView->font() : font();
    const std::optional<QFont> chosen = dialogs.chooseFont(current);
    if (!chosen) return;
    if (logView) logView->SetListFont(*chosen);
    if (treeView) treeView->SetViewFont(*chosen);
    if (fieldView) fieldView->SetViewFont(*chosen);
}

void CMainFrame::OnGraphFontSettings() {
    CGraphView* graph = GraphView();
    if (!graph) return;
    const std::optional<QFont> chosen = dialogs.chooseFont(graph->GraphFont());
    if (!chosen) return;
    // The graph lays itself out by the stored record's height, so it takes the font as stored.
    const FontRecord record = RecordFromFont(*chosen, logicalDpiY());
    graph->SetGraphFont(FontFromRecord(record), FontHeightOf(record));
    settings.graphFont = record;
}


std::optional<bool> CMainFrame::ViewCommandEnabled(uint32_t id) const {
    switch (id) {
    case cmd::kFindPrev:
    case cmd::kFindNext:
    case cmd::kPdAutoScroll:
    case cmd::kDisableDisplayFilters:
    case cmd::kFind:
    case cmd::kDisplayFilterSettings:
    case cmd::kColumnSettings:
    case cmd::kPdFontSettings:
    case cmd::kShowGraph:
    case cmd::kGraphFontSettings:
    case cmd::kShowAnalysis:
    case cmd::kShowTransactions:
        return true;
    case cmd::kShowPlots:
    case cmd::kShowPdPackets:
    case cmd::kGraphAutoScroll:
        return graphPane && !graphPane->isHidden();
    case cmd::kGraphMarkerO:
    case cmd::kGraphMarkerX:
    case cmd::kGraphOriginCurrent:
    case CGraphView::kCmdOriginAbsolute:
        return GraphView() && GraphView()->IsCommandEnabled(id);
    default:
        return std::nullopt;
    }
}

bool CMainFrame::ExecuteViewCommand(uint32_t id) {
    switch (id) {
    case cmd::kFindNext:
        if (logView) logView->FindInList(true);
        return true;
    case cmd::kFindPrev:
        if (logView) logView->FindInList(false);
        return true;
    case cmd::kPdAutoScroll:
        pdMessageAutoScroll = !pdMessageAutoScroll;
        return true;
    case cmd::kDisableDisplayFilters:
        OnToggleDisplayFilter();
        return true;
    case cmd::kFind:
        OnFind();
        return true;
    case cmd::kDisplayFilterSettings:
        OnDisplayFilterSettings();
        return true;
    case cmd::kColumnSettings:
        OnColumnSettings();
        return true;
    case cmd::kPdFontSettings:
        OnPdFontSettings();
        return true;
    case cmd::kShowGraph:
        graphPane->setVisible(graphPane->isHidden());
        return true;
    case cmd::kShowAnalysis:
        analysisPane->setVisible(analysisPane->isHidden());
        if (!analysisPane->isHidden()) analysisPane->raise();
        return true;
    case cmd::kShowTransactions:
        transactionsPane->setVisible(transactionsPane->isHidden());
        if (!transactionsPane->isHidden()) transactionsPane->raise();
        return true;
    case cmd::kShowPlots:
        showPlots = !showPlots;
        GraphView()->SetShowMeasuringPoints(showPlots);
        return true;
    case cmd::kShowPdPackets:
        showPdPackets = !showPdPackets;
        GraphView()->SetShowPdPackets(showPdPackets);
        GraphView()->OnUpdate(nullptr, 0);
        return true;
    case cmd::kGraphAutoScroll:
        control.graphAutoScroll = !control.graphAutoScroll;
        return true;
    case cmd::kGraphFontSettings:
        OnGraphFontSettings();
        return true;
    case cmd::kGraphMarkerO:
    case cmd::kGraphMarkerX:
        GraphView()->OnCommand(id);
        return true;
    case cmd::kGraphOriginCurrent:
    case CGraphView::kCmdOriginAbsolute: {
        // A new origin rebuilds the packet list's rows; the packet the user looked at stays selected,
        // with its tree and field table.
        const CCCPacket* selected = SelectedPacket();
        GraphView()->OnCommand(id);
        if (selected && logView) logView->SelectPacket(selected);
        return true;
    }
    default:
        return false;
    }
}
