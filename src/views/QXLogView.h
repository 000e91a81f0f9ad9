// The packet list: one row per captured packet that passes the display filter, one column per visible
// column id, built incrementally as the document grows. It is the selection source of the tree and the
// field table, and owns Find Next/Prev, bookmarks, markers A and B and the time-stamp origin commands.
#pragma once

#include "DocView.h"
#include "PacketTexts.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QSet>
#include <QString>
#include <QTableView>

#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;
class CLogListModel;
class CLogRowDelegate;
class QContextMenuEvent;
class QMouseEvent;
class QPaintEvent;
class QResizeEvent;
class QPainter;

class CQXLogView : public QTableView, public IDocView {
    Q_OBJECT

public:
    // Commands of the popup menu "LogView".
    static constexpr uint32_t kCmdSetMarker = 32782;
    static constexpr uint32_t kCmdClearMarker = 32783;
    static constexpr uint32_t kCmdClearAllMarkers = 32797;
    static constexpr uint32_t kCmdSetMarkerA = 32791;
    static constexpr uint32_t kCmdClearMarkerA = 32792;
    static constexpr uint32_t kCmdSetMarkerB = 32793;
    static constexpr uint32_t kCmdClearMarkerB = 32794;
    static constexpr uint32_t kCmdOriginAbsolute = 32784;
    static constexpr uint32_t kCmdOriginCurrent = 32785;
    static constexpr uint32_t kCmdFindPrev = 32810;
    static constexpr uint32_t kCmdFindNext = 32811;
    // Carried by the popup menu, handled by the main window.
    static constexpr uint32_t kCmdColumnSettings = 32843;

    // Longest stored cell text; longer ones keep their first and last kKeptChars characters around "...".
    static constexpr int kMaxStoredText = 260;
    static constexpr int kKeptChars = 120;

    explicit CQXLogView(IViewHost& host, QWidget* parent = nullptr);
    ~CQXLogView() override;

    // IDocView
    void OnInitialUpdate() override;
    void OnUpdate(IDocView* sender, int64_t hint) override;

    // Rebuilds columns and rows from the column settings; the selected packet stays selected.
    void SetupColumns();
    // Appends the rows of store packets not yet examined, writing every examined packet's idle time.
    void BuildRows();
    // After a content clear or a change of time origin: no rows, nothing examined, no selection, and
    // no context, marker A or marker B row.
    void ForgetRows();

    void FindInList(bool forward);
    // Makes the row, the row after it and the row before it visible, in that order.
    void EnsureRowVisible(int32_t row);
    const CCCPacket* GetSelectedPacket() const;
    // Selects the packet's row and makes it visible (a double click in the graph); false when the
    // packet has no row.
    bool SelectPacket(const CCCPacket* packet);
    void SetListFont(const QFont& font);
    const QFont& ListFont() const { return listFont; }

    void OnCommand(uint32_t id);
    bool IsCommandEnabled(uint32_t id) const;
    // The row under a right-button press; the marker, bookmark and origin commands act on it.
    void SetContextRow(int32_t row) { contextRow = row; }
    // A click on the header of a list column.
    void SortByListColumn(int listColumn);
    // Visibility, width and display order of every column id into the settings' column records.
    void SaveColumnLayout();

    int32_t RowCount() const;
    const CCCPacket* PacketOfRow(int32_t row) const;
    // The stored text of a row's cell; empty when the id is not shown or the row does not exist.
    QString CellText(int32_t row, int columnId) const;
    int32_t SelectedRow() const { return selectedRow; }
    int32_t ContextRow() const { return contextRow; }
    int32_t ListColumnOfId(int id) const;
    int32_t MarkerARow() const { return markerARow; }
    int32_t MarkerBRow() const { return markerBRow; }

    // The text as a cell shows it in `width` pixels with `margin` pixels kept free: unchanged when it
    // fits, otherwise the longest prefix that fits with "..." appended ("..." alone when none does);
    // a single character is never cut.
    static QString FitText(const QString& text, int width, int margin, const QFontMetrics& metrics,
                           bool* shortened = nullptr);

    // For the whole program run: the last sorted list column and its direction, and the row count at
    // the last auto scroll.
    static inline int32_t lastSortColumn = 0;
    static inline bool lastSortDescending = false;
    static inline int32_t lastAutoScrollCount = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class CLogRowDelegate;

    // Colours and find result of one row, computed once per paint pass.
    struct RowStyle {
        uint64_t pass = 0;
        int32_t row = -1;
        QColor background;
        QColor text;
        int32_t matchColumnId = -1;
    };

    CCaptureStore* Store() const;
    CCCPacket* MutablePacketOfRow(int32_t row) const;
    int32_t RowOfPacket(const CCCPacket* packet) const;
    void DeleteAllRows();
    QString StoredText(const CCCPacket& packet, int columnId);
    void ShowStatus(const std::string& text);
    // The width a list column needs at least: its header with the sort indicator, and for the time and
    // type columns their longest usual texts.
    int FittingWidth(int listColumn) const;
    // Description, when shown, takes whatever width the other columns leave in the list.
    void FillWithDescription();
    void AutoScroll();
    void SelectRow(int32_t row);
    void OnRowSelected(int32_t row);
    void RepaintRow(int32_t row);
    void MarksChanged();
    const RowStyle& StyleOfRow(int32_t row) const;
    void PaintCell(QPainter& painter, const QRect& rect, int32_t row, int listColumn) const;
    void DrawCellText(QPainter& painter, const QString& text, int x, const QRect& cell,
                      const QColor& colour) const;

    IViewHost& host;
    CLogListModel* listModel = nullptr;
    CLogRowDelegate* rowDelegate = nullptr;

    int32_t columnOfId[kColumnCount];
    bool columnsReady = false;
    int32_t examinedCount = 0;
    int64_t previousEnd = 0;
    int32_t selectedRow = -1;
    int32_t contextRow = -1;
    int32_t markerARow = -1;
    int32_t markerBRow = -1;
    bool invertCurrent = false;
    QFont listFont;
    QFontMetrics listMetrics{QFont()};
    // Description's own width, before it takes the spare room; what is stored for it.
    int descriptionWidth = 0;
    // Per list column, the width fitted to its texts in place of its default; -1 where the stored one
    // was taken.
    std::vector<int> fittedWidths;
    bool filling = false;

    std::string lastStatus;
    // Texts that repeat from row to row (types, roles, voltages ...) are kept once and shared.
    QSet<QString> sharedTexts;

    // Paint pass state: the pass number, whether the find text is highlighted, and the last row's style.
    uint64_t paintPass = 0;
    bool passHighlight = false;
    mutable RowStyle rowStyle;
};
