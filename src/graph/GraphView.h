// The graph view: VBUS and CC voltages, currents and powers over time with the PD packets as a strip,
// markers O and X, the cursor and the measurements, and the 25 buttons around the plot. The coordinate
// model (CGraphModel) decides every position; this class turns keys, wheel, mouse, buttons and menu
// commands into model changes and paints through GraphPainter.
#pragma once

#include "DocView.h"
#include "GraphModel.h"
#include "GraphPainter.h"
#include "GraphTraces.h"
#include "Settings.h"

#include <QAbstractButton>
#include <QFont>
#include <QImage>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <map>

class CCaptureStore;
class QMenu;

class CGraphView : public QWidget, public IDocView {
    Q_OBJECT

public:
    // Context menu commands the main window routes to the graph, with its enabling.
    static constexpr uint32_t kCmdSetMarkerO = 32828;
    static constexpr uint32_t kCmdSetMarkerX = 32829;
    static constexpr uint32_t kCmdOriginAbsolute = 32784;
    static constexpr uint32_t kCmdOriginCurrent = 32834;

    explicit CGraphView(IViewHost& host, QWidget* parent = nullptr);
    // Writes the three area switches back to the settings.
    ~CGraphView() override;

    // IDocView: ranges again from the store, scales as they are.
    void OnUpdate(IDocView* sender, int64_t hint) override;

    // A document was opened or created: markers from its saved marks, every axis fitted.
    void Attach();
    // The VBUS current direction setting changed; the markers stay.
    void SetReverseCurrent(bool reverse);
    // Graph auto scroll while capturing: t is the newest sample's display time.
    void FollowLatest(int64_t t);
    // The time origin moved: every display time the view keeps moves by -delta.
    void ShiftTimes(int64_t delta);
    void CenterOn(int64_t displayTime);

    void SetShowPdPackets(bool on);
    void SetShowMeasuringPoints(bool on);
    bool ShowPdPackets() const { return showPdPackets; }
    bool ShowMeasuringPoints() const { return showMeasuringPoints; }
    const QFont& GraphFont() const { return graphFont; }
    // A new graph font: the layout follows its height.
    void SetGraphFont(const QFont& font, int32_t height);

    // The routed context menu commands.
    bool IsCommandEnabled(uint32_t id) const;
    void OnCommand(uint32_t id);
    bool RightClickValid() const { return rightClickValid; }

    // The other context menu commands: an area on or off with every area refitted, fitting every
    // value axis, and the cursor.
    void ToggleAreaWithFitting(GraphArea area);
    void FitAllAreas();
    bool CursorOn() const { return cursorOn; }
    void SetCursorOn(bool on);

    // A graph button, as a click on it does.
    void PressButton(uint32_t id);
    QAbstractButton* Button(uint32_t id) const;

    // The context menu as a right click opens it.
    QMenu* CreateContextMenu();

    CGraphModel& Model() { return model; }
    const CGraphModel& Model() const { return model; }
    const GraphSettings& Style() const { return style; }
    // For tests and benchmarks: how the traces are made, the pointer as the view last saw it, and the
    // longest paint so far.
    void SetTraceMethod(TraceMethod m) { traceMethod = m; }
    void SetPointer(QPoint p);
    std::chrono::microseconds WorstPaint() const { return worstPaint; }
    void ResetWorstPaint() { worstPaint = {}; }
    const CSampleSummary& Summary() const { return summary; }
    const CPacketStripIndex& Strip() const { return strip; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    const CCaptureStore* Store() const;
    void SyncSummary();
    void MarksChanged();
    void CreateButtons();
    void LayoutButtons();
    void RefreshButtons();
    void Changed(); // buttons and picture again
    void SelectNearestPacket(int64_t t);
    void ApplySize();
    GraphScene Scene() const;

    IViewHost& host;
    CSettings& settings;
    GraphSettings style;
    CGraphModel model;
    CSampleSummary summary;
    CPacketStripIndex strip;
    QFont graphFont;

    bool showPdPackets = true;
    bool showMeasuringPoints = false;
    bool vrdBands = true;
    bool cursorOn = false;
    bool fitWhenShown = false;
    bool buttonsPlaced = false;
    TraceMethod traceMethod = TraceMethod::Auto;

    // Pointer and buttons.
    bool pointerSet = false;
    QPoint pointer;
    bool leftDown = false;
    QPoint lastDrag;
    GraphMarker draggedMarker = GraphMarker::None;
    std::array<bool, kGraphAreaCount> draggedAreas{};
    bool rightDown = false;
    bool boxSpent = false; // the wheel zoomed while the right button was held
    QPoint boxStart;
    int64_t rightClickTime = 0;
    bool rightClickValid = false;

    std::map<uint32_t, QAbstractButton*> buttons;
    QImage offscreen;
    std::chrono::microseconds worstPaint{0};
};
