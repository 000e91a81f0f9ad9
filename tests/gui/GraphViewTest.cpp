// The graph in the main window: its pane and commands, the context menu and its enabling, buttons,
// keys, wheel and mouse, the links to the packet list and the document (double clicks, markers A and B,
// time origin, save and reopen, Clear, live capture), the drawing settings on screen, and the column
// summary painting exactly the walk's pixels.
#include "CommandTable.h"
#include "DemoCapture.h"
#include "DockableGraph.h"
#include "GraphAxes.h"
#include "FrameFixture.h"
#include "GraphPictures.h"
#include "GraphView.h"
#include "GuiTest.h"
#include "QXLogView.h"
#include "Synthesizer.h"
#include "graph/GraphFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>

#include <filesystem>
#include <functional>

namespace gb = graphbutton;

namespace {

// A column of the plot that no time tick line crosses (with the grid as the model has it).
int ClearColumn(const CGraphModel& m, int from, bool grid) {
    int x = m.Plot().left + from;
    for (bool moved = true; moved;) {
        moved = false;
        for (const TimeTick& t : TimeTicks(m, grid))
            if (std::abs(m.Plot().left + t.x - x) < 3) {
                x += 5;
                moved = true;
            }
    }
    return x;
}

// A window large enough for a graph with full-size buttons.
CGraphView* ShowGraph(CMainFrame& w) {
    w.resize(1400, 1000);
    w.show();
    w.resizeDocks({w.GraphPane()}, {620}, Qt::Vertical);
    QCoreApplication::processEvents();
    return w.GraphView();
}

QImage Picture(CGraphView* v) {
    return v->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QPoint PlotPoint(const CGraphView* v, int dx, int dy) {
    const GraphRect& p = v->Model().Plot();
    return QPoint(p.left + dx, p.top + dy);
}

void RightClick(CGraphView* v, QPoint at) {
    QTest::mousePress(v, Qt::RightButton, {}, at);
    QTest::mouseRelease(v, Qt::RightButton, {}, at);
    // The context menu opened where the button went up; the test uses the commands directly.
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
}

QAction* FindAction(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions()) {
        if (a->text() == text) return a;
        if (a->menu())
            if (QAction* inner = FindAction(a->menu(), text)) return inner;
    }
    return nullptr;
}

// Shows a packet wide in the middle of the plot; returns the window x of its start.
int ZoomOnto(CGraphView* v, const CCaptureStore& store, const CCCPacket& p) {
    v->Model().SetTimeScale(0.5f);
    v->CenterOn(store.DisplayTime(p) + p.LengthMicros() / 2);
    return v->Model().Plot().left + int(v->Model().XOfTime(store.DisplayTime(p)));
}

void FillStore(CMainFrame& w, const std::vector<graphtest::Reading>& readings) {
    graphtest::AddAll(w.Doc().store, readings);
    w.GraphView()->Attach();
}

} // namespace

class GraphViewTest : public QObject {
    Q_OBJECT

private slots:
    void PaneDockedAtTheBottomShownAndHiddenByItsCommand() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        QVERIFY(v);
        QCOMPARE(w.dockWidgetArea(w.GraphPane()), Qt::BottomDockWidgetArea);
        QCOMPARE(w.GraphPane()->windowTitle(), QString("Graph"));
        QCOMPARE(w.IsCommandChecked(cmd::kShowGraph), std::optional<bool>(true));
        QCOMPARE(w.Action(cmd::kShowGraph)->text(), QString("&Show Graph\tF7"));
        QCOMPARE(w.Action(cmd::kShowGraph)->toolTip(), QString("Graph"));

        w.ExecuteCommand(cmd::kShowGraph);
        QVERIFY(w.GraphPane()->isHidden());
        // Hidden: the graph's display commands are off but keep their check marks.
        w.UpdateCommandStates();
        for (uint32_t id : {cmd::kShowPlots, cmd::kShowPdPackets, cmd::kGraphAutoScroll}) {
            QVERIFY(!w.IsCommandEnabled(id));
            QVERIFY(!w.Action(id)->isEnabled());
        }
        QCOMPARE(w.IsCommandChecked(cmd::kShowPdPackets), std::optional<bool>(true));
        QCOMPARE(w.IsCommandChecked(cmd::kGraphAutoScroll), std::optional<bool>(true));
        QCOMPARE(w.IsCommandChecked(cmd::kShowPlots), std::optional<bool>(false));

        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F7);
        QVERIFY(!w.GraphPane()->isHidden());
        QVERIFY(w.IsCommandEnabled(cmd::kShowPlots));
        w.ExecuteCommand(cmd::kShowPlots);
        QVERIFY(v->ShowMeasuringPoints());
        w.ExecuteCommand(cmd::kShowPdPackets);
        QVERIFY(!v->ShowPdPackets());
        w.ExecuteCommand(cmd::kGraphAutoScroll);
        QVERIFY(!w.Control().graphAutoScroll);
    }

    void ContextMenuCommandsNeedARightClickInsideThePlot() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        QVERIFY(w.OpenFile(DemoFile(dir)));
        QVERIFY(!w.Doc().modified);

        RightClick(v, QPoint(20, 300)); // left of the plot
        for (uint32_t id : {cmd::kGraphMarkerO, cmd::kGraphMarkerX, cmd::kGraphOriginCurrent})
            QVERIFY(!w.IsCommandEnabled(id));
        QVERIFY(w.IsCommandEnabled(CGraphView::kCmdOriginAbsolute));
        std::unique_ptr<QMenu> menu(v->CreateContextMenu());
        QVERIFY(!FindAction(menu.get(), "Set Marker O")->isEnabled());
        QVERIFY(FindAction(menu.get(), "Absolute")->isEnabled());
        QVERIFY(!FindAction(menu.get(), "Current Position")->isEnabled());
        w.ExecuteCommand(cmd::kGraphMarkerO);
        QCOMPARE(v->Model().MarkerTime(GraphMarker::O), int64_t(0));
        QVERIFY(!w.Doc().modified);

        const QPoint inside = PlotPoint(v, 300, 100);
        RightClick(v, inside);
        const int64_t t = v->Model().TimeAtX(inside.x());
        menu.reset(v->CreateContextMenu());
        QAction* setO = FindAction(menu.get(), "Set Marker O");
        QVERIFY(setO->isEnabled());
        setO->trigger();
        QCOMPARE(v->Model().MarkerTime(GraphMarker::O), t);
        QVERIFY(w.Doc().modified && w.Doc().marksChanged);
        QVERIFY(w.isWindowModified());
        QVERIFY(FindAction(menu.get(), "Enable Current Graph  (with Fitting)"));
        QVERIFY(FindAction(menu.get(), "Enable Cursor"));
    }

    void AreaFromTheMenuRefitsEveryAreaItsButtonDoesNot() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        QVERIFY(w.OpenFile(DemoFile(dir)));
        const GraphAreaState voltage = v->Model().Area(GraphArea::Voltage);

        v->PressButton(gb::kWattageArea);
        QVERIFY(!v->Model().AreaOn(GraphArea::Wattage));
        QCOMPARE(v->Model().Area(GraphArea::Voltage).scale, voltage.scale);
        QCOMPARE(v->Model().Area(GraphArea::Voltage).baseline, voltage.baseline);
        v->PressButton(gb::kWattageArea);

        std::unique_ptr<QMenu> menu(v->CreateContextMenu());
        QAction* wattage = FindAction(menu.get(), "Enable Wattage Graph (with Fitting)");
        QVERIFY(wattage->isChecked());
        wattage->trigger();
        QVERIFY(!v->Model().AreaOn(GraphArea::Wattage));
        // Two areas left: the voltage area takes half the plot instead of a third.
        QVERIFY(v->Model().Area(GraphArea::Voltage).scale > voltage.scale * 1.4f);
        // The current-wattage buttons stay while the current area is on; the voltage ones go with theirs.
        QVERIFY(v->Button(gb::kFitCurrent)->isVisible());
        v->PressButton(gb::kVoltageArea);
        QVERIFY(!v->Button(gb::kFitVoltage)->isVisible());
        QVERIFY(v->Button(gb::kVbusVoltage)->isVisible());
        // A voltage trace button brings the area back with that trace alone.
        v->PressButton(gb::kCc2Voltage);
        QVERIFY(v->Model().AreaOn(GraphArea::Voltage));
        QVERIFY(!v->Model().TraceOn(GraphTraceSwitch::VbusVoltage));
        QVERIFY(v->Model().TraceOn(GraphTraceSwitch::Cc2Voltage));
    }

    void DoubleClicksLinkTheGraphAndThePacketList() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        QVERIFY(w.OpenFile(DemoFile(dir)));
        CQXLogView* list = w.LogView();
        const CCaptureStore& store = w.Doc().store;
        QVERIFY(list->RowCount() > 8);

        // A double click on a row centres the graph on its packet.
        const CCCPacket* p5 = list->PacketOfRow(5);
        list->scrollTo(list->model()->index(5, 0));
        QCoreApplication::processEvents();
        const QRect cell = list->visualRect(list->model()->index(5, 0));
        QVERIFY(list->viewport()->rect().contains(cell.center()));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(v->Model().CenterTime(), store.DisplayTime(*p5));

        // A double click in the graph selects the packet whose start is nearest, and centres there.
        const CCCPacket* p8 = list->PacketOfRow(8);
        const int x = ZoomOnto(v, store, *p8);
        const int64_t clicked = v->Model().TimeAtX(x + 2);
        QTest::mouseDClick(v, Qt::LeftButton, {}, QPoint(x + 2, v->Model().Plot().top + 50));
        QCOMPARE(list->GetSelectedPacket(), p8);
        QCOMPARE(v->Model().CenterTime(), clicked);
    }

    void PdStripShowsMarkersBookmarksAndTheSelection() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        QVERIFY(w.OpenFile(DemoFile(dir)));
        CQXLogView* list = w.LogView();
        const CCaptureStore& store = w.Doc().store;
        struct Case {
            int row;
            uint32_t command;
            QColor colour;
        };
        for (const Case& c : {Case{2, cmd::kSetMarkerA, QColor(255, 128, 0)}, Case{4, cmd::kSetMarkerB, QColor(255, 0, 128)},
                              Case{6, cmd::kSetBookmark, QColor(200, 200, 0)}}) {
            list->SetContextRow(c.row);
            list->OnCommand(c.command);
            const int x = ZoomOnto(v, store, *list->PacketOfRow(c.row));
            const QImage image = Picture(v);
            QCOMPARE(QColor(image.pixel(x + 3, v->Model().PdStripTop() + 8)), c.colour);
        }
        list->selectRow(7);
        QCoreApplication::processEvents();
        const int x = ZoomOnto(v, store, *list->PacketOfRow(7));
        QCOMPARE(QColor(Picture(v).pixel(x + 3, v->Model().PdStripTop() + 8)), QColor(100, 100, 255));

        // "O to A" and "O to B" appear below the plot while the markers exist.
        const QImage marked = Picture(v);
        const GraphRect region = v->Model().MeasurementRegion();
        auto linesWithInk = [&](const QImage& image, const QColor& ink) {
            int rows = 0;
            for (int y = region.top; y < region.Bottom(); ++y)
                for (int xx = 0; xx < region.width; ++xx)
                    if (QColor(image.pixel(xx, y)) == ink) {
                        ++rows;
                        break;
                    }
            return rows;
        };
        QVERIFY(linesWithInk(marked, QColor(255, 128, 0)) > 3);
        list->SetContextRow(2);
        list->OnCommand(cmd::kClearMarkerA);
        QCOMPARE(linesWithInk(Picture(v), QColor(255, 128, 0)), 0);
    }

    void TimeOriginSaveReopenAndClear() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        QVERIFY(w.OpenFile(DemoFile(dir)));
        CGraphModel& m = v->Model();
        m.SetTimeScale(0.0005f);
        v->CenterOn(3000000);

        RightClick(v, PlotPoint(v, 200, 50));
        const int64_t o = m.TimeAtX(m.Plot().left + 200);
        w.ExecuteCommand(cmd::kGraphMarkerO);
        RightClick(v, PlotPoint(v, 700, 50));
        const int64_t x = m.TimeAtX(m.Plot().left + 700);
        w.ExecuteCommand(cmd::kGraphMarkerX);
        QCOMPARE(m.MarkerTime(GraphMarker::X), x);

        // The right-clicked time becomes 0: every time the graph keeps moves with it.
        const int64_t centre = m.CenterTime();
        w.ExecuteCommand(cmd::kGraphOriginCurrent);
        QCOMPARE(w.Doc().store.timeOrigin, x);
        QCOMPARE(m.MarkerTime(GraphMarker::X), int64_t(0));
        QCOMPARE(m.MarkerTime(GraphMarker::O), o - x);
        QCOMPARE(m.CenterTime(), centre - x);
        QCOMPARE(m.DataFirstTime(), -x);

        const std::string saved = dir.File("markers.qxc");
        f.fileNames.push_back(saved);
        w.ExecuteCommand(cmd::kSaveAs);
        QVERIFY(!w.Doc().modified);
        w.ExecuteCommand(cmd::kNew);
        QCOMPARE(m.MarkerTime(GraphMarker::O), int64_t(0));
        QCOMPARE(m.MarkerTime(GraphMarker::X), int64_t(0));
        QVERIFY(w.OpenFile(saved));
        QCOMPARE(m.MarkerTime(GraphMarker::O), o - x);
        QCOMPARE(m.MarkerTime(GraphMarker::X), int64_t(0));

        // Absolute origin: capture times again.
        w.ExecuteCommand(CGraphView::kCmdOriginAbsolute);
        QCOMPARE(m.MarkerTime(GraphMarker::O), o);
        QCOMPARE(m.MarkerTime(GraphMarker::X), x);
        QVERIFY(w.Doc().modified);

        // Clear empties the graph: no samples left to draw, the data span back to 0..100 s.
        f.saveAnswers.push_back(FrameDialogs::SaveAnswer::No);
        w.ExecuteCommand(cmd::kClear);
        QCOMPARE(w.Doc().store.SampleCount(), size_t(0));
        QCOMPARE(m.DataLastTime(), int64_t(100000000));
        QCOMPARE(v->Summary().Count(), size_t(0));
    }

    void LiveCaptureScrollsTheGraph() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        CGraphModel& m = v->Model();
        w.Tick();
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(w.Reader().capturing);
        // A window of about a second, so that every second of capture leaves it.
        m.SetTimeScale(float(m.Plot().width) / 1.0e6f);
        v->CenterOn(50000000);
        int64_t lastCentre = m.CenterTime();
        for (int i = 0; i < 4; ++i) {
            f.Advance(1);
            const CCaptureStore& store = w.Doc().store;
            const int64_t newest = store.lastSampleTime - store.captureOrigin - store.timeOrigin;
            QVERIFY(m.IsVisible(newest));
            QVERIFY(m.CenterTime() != lastCentre);
            lastCentre = m.CenterTime();
        }
        // The ranges grew with the capture and the areas were fitted to them.
        QVERIFY(m.Area(GraphArea::Voltage).max >= 5000);
        QVERIFY(v->Summary().InSync(w.Doc().store));

        // Auto scroll off: the window stays.
        w.ExecuteCommand(cmd::kGraphAutoScroll);
        f.Advance(2);
        QCOMPARE(m.CenterTime(), lastCentre);
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
    }

    void KeysWheelAndMouse() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        QVERIFY(w.OpenFile(DemoFile(dir)));
        CGraphModel& m = v->Model();
        v->setFocus();
        const float fitted = m.TimeScale();
        const int64_t centre = m.CenterTime();

        QTest::keyClick(v, Qt::Key_PageUp);
        QCOMPARE(m.TimeScale(), fitted * 120.0f / 100.0f);
        QTest::keyClick(v, Qt::Key_Left);
        QVERIFY(m.CenterTime() < centre);
        QTest::keyClick(v, Qt::Key_Right);
        QTest::keyClick(v, Qt::Key_Right);
        QVERIFY(m.CenterTime() > centre);
        const int32_t base = m.Area(GraphArea::Voltage).baseline;
        const int32_t wattBase = m.Area(GraphArea::Wattage).baseline;
        QTest::keyClick(v, Qt::Key_Up);
        QCOMPARE(m.Area(GraphArea::Voltage).baseline, base + m.Plot().height / 40);
        QCOMPARE(m.Area(GraphArea::Wattage).baseline, wattBase + m.Plot().height / 40);
        QTest::keyClick(v, Qt::Key_PageDown);
        QTest::keyClick(v, Qt::Key_Home);
        QCOMPARE(m.TimeScale(), fitted);
        QCOMPARE(m.CenterTime(), centre);
        QCOMPARE(m.Area(GraphArea::Voltage).baseline, base);

        // Wheel: forward scrolls right; with the right button held it zooms, and the box is given up.
        const QPoint at = PlotPoint(v, 400, 200);
        QWheelEvent forward(at, v->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(v, &forward);
        QVERIFY(m.CenterTime() > centre);
        QTest::mousePress(v, Qt::RightButton, {}, at);
        QWheelEvent zoom(at, v->mapToGlobal(at), {}, {0, 120}, Qt::RightButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(v, &zoom);
        QCOMPARE(m.TimeScale(), fitted * 120.0f / 100.0f);
        QTest::mouseRelease(v, Qt::RightButton, {}, at + QPoint(100, 100));
        QCOMPARE(m.TimeScale(), fitted * 120.0f / 100.0f);
        QVERIFY(!QApplication::activePopupWidget());

        // A right drag over a box zooms into it; a small one does not.
        QTest::mouseClick(v, Qt::MiddleButton, {}, at);
        QCOMPARE(m.TimeScale(), fitted);
        QTest::mousePress(v, Qt::RightButton, {}, at);
        QTest::mouseMove(v, at + QPoint(8, 40));
        QTest::mouseRelease(v, Qt::RightButton, {}, at + QPoint(8, 40));
        QCOMPARE(m.TimeScale(), fitted);
        QTest::mousePress(v, Qt::RightButton, {}, at);
        QTest::mouseMove(v, at + QPoint(200, 100));
        QTest::mouseRelease(v, Qt::RightButton, {}, at + QPoint(200, 100));
        QVERIFY(m.TimeScale() > fitted * 4);

        // A left drag moves the time window with the pointer.
        const int64_t before = m.CenterTime();
        const float scale = m.TimeScale();
        QTest::mousePress(v, Qt::LeftButton, {}, at);
        QTest::mouseMove(v, at + QPoint(50, 0));
        QTest::mouseRelease(v, Qt::LeftButton, {}, at + QPoint(50, 0));
        QCOMPARE(m.CenterTime(), before - int64_t(50.0f / scale));
    }

    void MarkerOffScreenIsDrawnAtTheEdgeAndDraggedBack() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        FillStore(w, {{0, 5000, 1000}, {10000000, 5000, 1000}});
        CGraphModel& m = v->Model();
        m.SetMarkerTime(GraphMarker::O, -20000000);
        m.SetMarkerTime(GraphMarker::X, 2000000);
        QVERIFY(m.PlaceOf(GraphMarker::O).offLeft);
        const QColor markerO(200, 200, 200);
        const QImage image = Picture(v);
        const GraphRect& plot = m.Plot();
        // The name at the left edge on the marker colour, and no line above it.
        QCOMPARE(QColor(image.pixel(plot.left + 1, plot.Bottom() - 3)), markerO);
        QVERIFY(QColor(image.pixel(plot.left, plot.top + plot.height / 2)) != markerO);

        // Hovering the edge highlights it (its line appears, 5 px wide); a drag brings it back.
        QTest::mouseMove(v, QPoint(plot.left + 4, plot.top + 100));
        QCOMPARE(m.Highlighted(), GraphMarker::O);
        QCOMPARE(v->cursor().shape(), Qt::SizeHorCursor);
        QCOMPARE(QColor(Picture(v).pixel(plot.left + 1, plot.top + plot.height / 2)), markerO);
        QTest::mousePress(v, Qt::LeftButton, {}, QPoint(plot.left + 4, plot.top + 100));
        QTest::mouseMove(v, QPoint(plot.left + 300, plot.top + 100));
        QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(plot.left + 300, plot.top + 100));
        QCOMPARE(m.MarkerTime(GraphMarker::O), m.TimeAtX(plot.left + 300));
        QVERIFY(!m.PlaceOf(GraphMarker::O).offLeft);
        QVERIFY(w.Doc().modified);
    }

    void DrawingSettingsOnScreen() {
        // Defaults: black plot, white frame, VBUS voltage red and VBUS current blue 3 px wide, CC1
        // voltage green 1 px.
        {
            CFrameFixture f;
            CMainFrame& w = *f.frame;
            CGraphView* v = ShowGraph(w);
            FillStore(w, {{0, 5000, 1000, 1700}, {1000000, 5000, 1000, 1700}, {2000000, 5000, 1000, 1700}});
            CGraphModel& m = v->Model();
            const QImage image = Picture(v);
            const GraphRect& plot = m.Plot();
            QCOMPARE(QColor(image.pixel(plot.left - 5, plot.top - 25)), QColor(255, 255, 255));
            const int x = ClearColumn(m, plot.width / 2, true);
            auto rowsOf = [&](const QColor& c) {
                int n = 0;
                for (int y = plot.top; y < plot.Bottom(); ++y) n += QColor(image.pixel(x, y)) == c;
                return n;
            };
            QCOMPARE(rowsOf(QColor(255, 0, 0)), 3);
            QCOMPARE(rowsOf(QColor(0, 0, 255)), 3);
            QCOMPARE(rowsOf(QColor(0, 255, 0)), 1);
            QCOMPARE(QColor(image.pixel(x, m.YOfValue(GraphArea::Voltage, 5000))), QColor(255, 0, 0));
            QCOMPARE(QColor(image.pixel(x, m.YOfValue(GraphArea::Voltage, 1700))), QColor(0, 255, 0));
            QCOMPARE(QColor(image.pixel(x, plot.top + 1)), QColor(0, 0, 0));
        }
        // The voltage area's background off: the plot's black shows, the vRd bands stay, and a band
        // switched off is missing.
        CFrameFixture f("demo", false, [](CSettings& s) {
            s.graph.backgroundOn[GraphSettings::VoltageArea] = false;
            s.graph.backgroundOn[GraphSettings::Vrd15] = false;
            for (bool& g : s.graph.gridOn) g = false;
        });
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        FillStore(w, {{0, 5000, 1000}, {2000000, 5000, 1000}});
        CGraphModel& m = v->Model();
        const QImage image = Picture(v);
        // Right of the band labels, off the time lines.
        const int x = ClearColumn(m, 150, false);
        QCOMPARE(QColor(image.pixel(x, m.YOfValue(GraphArea::Voltage, 2900))), QColor(0, 0, 0));
        QCOMPARE(QColor(image.pixel(x, m.YOfValue(GraphArea::Voltage, 1675))), QColor(30, 50, 30));
        QCOMPARE(QColor(image.pixel(x, m.YOfValue(GraphArea::Voltage, 850))), QColor(0, 0, 0));
        QCOMPARE(QColor(image.pixel(x, m.YOfValue(GraphArea::Voltage, 430))), QColor(50, 50, 30));
        // The current area keeps its own background.
        QCOMPARE(QColor(image.pixel(x, m.ZeroY(GraphArea::Current) - 10)), QColor(50, 50, 0));
    }

    void FontAndAreaSwitchesPersist() {
        CSettings kept;
        {
            CFrameFixture f;
            CMainFrame& w = *f.frame;
            CGraphView* v = ShowGraph(w);
            w.dialogs.chooseFont = [](const QFont&) -> std::optional<QFont> {
                QFont font("DejaVu Sans");
                font.setPixelSize(20);
                return font;
            };
            w.ExecuteCommand(cmd::kGraphFontSettings);
            QCOMPARE(v->Model().FontHeight(), 20);
            QCOMPARE(v->Model().BottomMargin(), 100);
            QCOMPARE(f.settings.graphFont.height, -20);
            QCOMPARE(QString::fromStdU16String(f.settings.graphFont.FaceName()), QString("DejaVu Sans"));
            // Cancel changes nothing.
            w.dialogs.chooseFont = [](const QFont&) -> std::optional<QFont> { return std::nullopt; };
            w.ExecuteCommand(cmd::kGraphFontSettings);
            QCOMPARE(v->Model().FontHeight(), 20);

            v->PressButton(gb::kWattageArea);
            QVERIFY(f.settings.graph.wattageOn); // written only when the view goes
            f.frame.reset();
            QVERIFY(!f.settings.graph.wattageOn);
            QVERIFY(f.settings.graph.voltageOn);
            kept = f.settings;
        }
        CFrameFixture again("demo", false, [&](CSettings& s) {
            s.graph = kept.graph;
            s.graphFont = kept.graphFont;
        });
        CGraphView* v = again.frame->GraphView();
        QVERIFY(!v->Model().AreaOn(GraphArea::Wattage));
        QCOMPARE(v->Model().FontHeight(), 20);
    }

    void FirstFitUsesThePaneAsShown() {
        // The window attaches the graph while it is built, before the pane has its size on screen; the
        // empty capture's 0 to 100 s must fill the plot as it is shown.
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        v->grab();
        const CGraphModel& m = v->Model();
        QCOMPARE(m.TimeScale(), float(int(float(m.Plot().width) * 0.99f)) / 1.0e8f);
        QVERIFY(m.IsVisible(0) && m.IsVisible(100000000));
        QVERIFY(m.XOfTime(100000000) > m.Plot().width * 9 / 10);
    }

    void NamesOnDarkColoursAreWhite() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        QVERIFY(w.OpenFile(DemoFile(dir)));
        const CCaptureStore& store = w.Doc().store;
        // A GoodCRC from the sink: port 2, dark teal (0, 100, 100); its name above its box.
        const CCCPacket* crc = nullptr;
        for (size_t i = 0; i < store.PacketCount() && !crc; ++i)
            if (store.PacketAt(i)->GetMessageTypeText() == "GoodCRC" && store.PacketAt(i)->port == 2) crc = store.PacketAt(i);
        QVERIFY(crc);
        const int x = ZoomOnto(v, store, *crc);
        const QImage image = Picture(v);
        const int top = v->Model().PdStripTop();
        int white = 0, black = 0;
        for (int y = top - 16; y < top; ++y)
            for (int xx = x; xx < x + 60; ++xx) {
                white += QColor(image.pixel(xx, y)) == QColor(Qt::white);
                black += QColor(image.pixel(xx, y)) == QColor(Qt::black);
            }
        QVERIFY(white > 10);
        QCOMPARE(black, 0);
    }

    // The column summary and the walk paint the same pixels, traces, peak marks and all, on a capture
    // with steps, spikes, a current changing direction and gaps, at every zoom and both flips.
    void SummaryPaintsTheWalksPixels() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        CGraphView* v = ShowGraph(w);
        FillStore(w, graphtest::RoughCapture(120000));
        v->SetShowPdPackets(false);
        CGraphModel& m = v->Model();
        const CCaptureStore& store = w.Doc().store;
        QVERIFY(v->Summary().InSync(store));
        const int64_t last = store.DisplayTime(*store.SampleAt(store.SampleCount() - 1));
        struct Window {
            float scale; // 0: fitted
            int64_t centre;
        };
        int compared = 0;
        for (const Window& z : {Window{0, 0}, Window{0.0002f, last / 2}, Window{0.00004f, last / 3},
                                Window{0.0015f, 7918000}, Window{0.000015f, 2 * last / 3}}) {
            for (bool flip : {false, true}) {
                if (z.scale == 0) {
                    m.FitAll();
                } else {
                    m.SetTimeScale(z.scale);
                    m.SetCenter(z.centre);
                }
                m.SetCurrentFlip(flip);
                m.FitAreas();
                v->SetTraceMethod(TraceMethod::Walk);
                const QImage walked = Picture(v);
                v->SetTraceMethod(TraceMethod::Summary);
                const QImage summed = Picture(v);
                QCOMPARE(summed.size(), walked.size());
                int differing = 0;
                for (int y = 0; y < walked.height(); ++y)
                    for (int x = 0; x < walked.width(); ++x) differing += walked.pixel(x, y) != summed.pixel(x, y);
                if (differing) {
                    walked.save(QString::fromStdString(guitest::OutputDir() + "/graph-walk-differs.png"));
                    summed.save(QString::fromStdString(guitest::OutputDir() + "/graph-summary-differs.png"));
                }
                QCOMPARE(differing, 0);
                ++compared;
            }
        }
        QCOMPARE(compared, 10);
    }
};

AMBRIO_GUI_TEST(GraphViewTest)
#include "GraphViewTest.moc"
