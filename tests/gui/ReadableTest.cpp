// Every text of the packet list and the graph, rendered offscreen in the real window, read against the
// background it is drawn on: at least 4.5:1 by the WCAG measure, in the hue of the colour it stands for.
// Also: every value area shows two or more labels at the window's sizes, and pictures of both for review.
#include "CommandTable.h"
#include "Contrast.h"
#include "DemoCapture.h"
#include "FindCriteria.h"
#include "FrameFixture.h"
#include "GraphAxes.h"
#include "GraphView.h"
#include "GuiTest.h"
#include "QXLogView.h"
#include "graph/GraphFixture.h"

#include <QFontMetrics>
#include <QImage>

#include <cmath>
#include <map>

namespace {

// Colours as the settings and the packet list define them, for their hue.
const QColor kPortInk[] = {QColor(0, 0, 0), QColor(0, 0, 255), QColor(0, 100, 100), QColor(100, 100, 0)};
const QColor kMarkerA(255, 128, 0), kMarkerB(255, 0, 128), kMarkerX(0, 255, 255);
const QColor kFindGreen(0, 255, 0), kRed(255, 0, 0), kOrange(255, 165, 0);
const QColor kAchromatic; // black, white or grey

bool Achromatic(const QColor& c) {
    return c.hsvSaturation() < 40;
}

// Same hue within 12 degrees; an achromatic colour matches only an achromatic pixel.
bool SameHue(const QColor& pixel, const QColor& colour) {
    if (!colour.isValid() || Achromatic(colour)) return Achromatic(pixel);
    if (pixel.hsvSaturation() < 60 || pixel.value() < 20) return false;
    const int d = std::abs(pixel.hsvHue() - colour.hsvHue());
    return std::min(d, 360 - d) <= 12;
}

QColor Dominant(const QImage& image, const QRect& area) {
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) ++counts[image.pixel(x, y)];
    QRgb best = 0;
    int most = -1;
    for (const auto& [c, n] : counts)
        if (n > most) most = n, best = c;
    return QColor(best);
}

struct Reading {
    QColor ink;
    QColor background;
    double contrast = 0; // 0: no text pixel of that hue
};

// The text in an area: its background is given, or the area's most common colour. The ink is the
// pixel of the colour's hue farthest from the background: the inside of a stroke, where the edges blend
// the ink with what lies under them.
Reading Read(const QImage& image, const QRect& area, const QColor& hue, const QColor& background = QColor()) {
    Reading r;
    r.background = background.isValid() ? background : Dominant(image, area);
    auto distance = [&](const QColor& p) {
        const int dr = p.red() - r.background.red(), dg = p.green() - r.background.green(),
                  db = p.blue() - r.background.blue();
        return dr * dr + dg * dg + db * db;
    };
    int farthest = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor p(image.pixel(x, y));
            if (!SameHue(p, hue) || distance(p) <= farthest) continue;
            farthest = distance(p);
            r.ink = p;
            r.contrast = ContrastRatio(p, r.background);
        }
    return r;
}

QString Describe(const QString& what, const Reading& r) {
    return QStringLiteral("%1: %2 on %3, %4:1")
        .arg(what, r.ink.name(), r.background.name())
        .arg(r.contrast, 0, 'f', 2);
}

// Texts below the contrast, collected so that one run names all of them.
struct Failures {
    QStringList list;
    void Check(const QString& what, const Reading& r) {
        const QString line = Describe(what, r);
        qInfo("%s", qPrintable(line));
        if (r.contrast < kReadableContrast) list << line;
    }
    QString Text() const { return list.join("\n"); }
};

// The main window at a size, showing a demo capture of `seconds`.
struct DemoWindow {
    explicit DemoWindow(QSize size, double seconds = 8) {
        fixture.analyzer->Unplug();
        w.resize(size);
        w.show();
        QCoreApplication::processEvents();
        opened = w.OpenFile(DemoFile(dir, seconds));
    }
    TempDir dir;
    CFrameFixture fixture;
    CMainFrame& w = *fixture.frame;
    bool opened = false;
};

QImage Grab(QWidget* widget) {
    QCoreApplication::processEvents();
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Shows a packet across half the plot.
void ZoomOnto(CGraphView* v, const CCaptureStore& store, const CCCPacket& p) {
    CGraphModel& m = v->Model();
    m.SetTimeScale(std::min(1.0f, 0.5f * float(m.Plot().width) / float(std::max(1, p.LengthMicros()))));
    v->CenterOn(store.DisplayTime(p) + p.LengthMicros() / 2);
}

// Label runs (rows with ink of the hue, separated by rows without) between two rows of a gutter.
int LabelsIn(const QImage& image, int left, int right, int top, int bottom, const QColor& hue) {
    int labels = 0;
    bool inLabel = false;
    for (int y = std::max(0, top); y < std::min(image.height(), bottom); ++y) {
        bool ink = false;
        for (int x = std::max(0, left); x <= std::min(image.width() - 1, right) && !ink; ++x)
            ink = SameHue(QColor(image.pixel(x, y)), hue) &&
                  ContrastRatio(QColor(image.pixel(x, y)), Qt::white) > 1.5;
        if (ink && !inLabel) ++labels;
        inLabel = ink;
    }
    return labels;
}

} // namespace

class ReadableTest : public QObject {
    Q_OBJECT

private slots:
    void ContrastMeasureAndReadableInk() {
        // The figures the WCAG measure gives for colours of this window.
        struct Pair {
            QColor a, b;
            double ratio;
        };
        for (const Pair& p :
             {Pair{Qt::black, Qt::white, 21.0}, Pair{QColor(0, 100, 100), kRed, 1.75},
              Pair{QColor(0, 0, 255), kMarkerB, 2.28}, Pair{kMarkerX, QColor(150, 150, 150), 2.36},
              Pair{kMarkerA, QColor(150, 150, 150), 1.17}})
            QCOMPARE(std::round(ContrastRatio(p.a, p.b) * 100) / 100, p.ratio);

        // A readable ink stays as it is; any other gets there in its own hue, darker on a light
        // background, lighter on a dark one.
        struct Case {
            QColor ink, background;
            bool darker;
        };
        for (const Case& c :
             {Case{QColor(0, 100, 100), kRed, true}, Case{QColor(0, 0, 255), kMarkerB, true},
              Case{kOrange, Qt::white, true}, Case{kRed, QColor(30, 50, 30), false},
              Case{kMarkerB, QColor(40, 40, 40), false}, Case{Qt::white, QColor(240, 240, 240), true}}) {
            const QColor ink = ReadableInk(c.ink, c.background);
            const QByteArray what =
                (c.ink.name() + " on " + c.background.name() + " -> " + ink.name()).toUtf8();
            QVERIFY2(ContrastRatio(ink, c.background) >= kReadableContrast, what.constData());
            QVERIFY2(ContrastRatio(ink, c.background) < kReadableContrast + 0.3,
                     what.constData()); // no further
            QVERIFY2(SameHue(ink, c.ink), what.constData());
            QCOMPARE(RelativeLuminance(ink) < RelativeLuminance(c.ink), c.darker);
        }
        QCOMPARE(ReadableInk(QColor(0, 0, 255), Qt::white), QColor(0, 0, 255));
        for (const QColor& background :
             {kRed, QColor(0, 0, 255), QColor(0, 100, 100), kMarkerB, QColor(118, 118, 118)})
            QVERIFY(ContrastRatio(InkOn(background), background) >= kReadableContrast);
    }

    // Every row kind with every sender's colour, in the Type column of the demo capture's list.
    void EveryRowKindReads() {
        DemoWindow demo(QSize{1600, 1000}, 20);
        QVERIFY(demo.opened);
        CMainFrame& w = demo.w;
        CQXLogView* list = w.LogView();
        QVERIFY(list->RowCount() > 60);

        // A plain row of each sender, and the capture's own invalid and reset rows.
        std::map<int, int32_t> senderRow;
        std::vector<int32_t> invalidRows, resetRows;
        for (int32_t r = 0; r < list->RowCount(); ++r) {
            const CCCPacket* p = list->PacketOfRow(r);
            if (IsInvalidPacket(*p))
                invalidRows.push_back(r);
            else if (p->IsResetMessage())
                resetRows.push_back(r);
            else if (p->port >= 1 && p->port <= 3 && !senderRow.count(p->port) &&
                     !list->CellText(r, kColumnMessageType).isEmpty())
                senderRow[p->port] = r;
        }
        QCOMPARE(senderRow.size(), size_t(3));
        QVERIFY(!invalidRows.empty() && !resetRows.empty());
        Failures fails;

        enum class Kind { Plain, Invalid, MarkerA, MarkerB, Bookmark, Selected, SelectedInvalid, FindText };
        const std::pair<Kind, const char*> kinds[] = {
            {Kind::Plain, "plain"},
            {Kind::Invalid, "invalid"},
            {Kind::MarkerA, "marker A"},
            {Kind::MarkerB, "marker B"},
            {Kind::Bookmark, "bookmark"},
            {Kind::Selected, "selection"},
            {Kind::SelectedInvalid, "selection on an invalid row"},
            {Kind::FindText, "find text"},
        };
        auto measure = [&](int32_t row, Kind kind, const QString& what) {
            CCCPacket& packet = *const_cast<CCCPacket*>(list->PacketOfRow(row));
            const float unitInterval = packet.unitInterval;
            const bool invalid = kind == Kind::Invalid || kind == Kind::SelectedInvalid;
            if (invalid && !IsInvalidPacket(packet)) packet.unitInterval = 4.0f; // out of range: invalid
            list->SetContextRow(row);
            if (kind == Kind::MarkerA) list->OnCommand(CQXLogView::kCmdSetMarkerA);
            if (kind == Kind::MarkerB) list->OnCommand(CQXLogView::kCmdSetMarkerB);
            if (kind == Kind::Bookmark) list->OnCommand(CQXLogView::kCmdSetMarker);
            if (kind == Kind::Selected || kind == Kind::SelectedInvalid) list->selectRow(row);
            // The time stamp every row has; the found text in the Type column.
            const int column = kind == Kind::FindText ? kColumnMessageType : kColumnTimestamp;
            const QString type = list->CellText(row, column);
            if (kind == Kind::FindText) {
                w.FindCriteriaForEdit().enableText = true;
                w.FindCriteriaForEdit().text = type.toStdString();
            }
            list->scrollTo(list->model()->index(row, 0));
            list->viewport()->repaint();
            const QImage image = Grab(list->viewport());
            const QRect cell = list->visualRect(list->model()->index(row, list->ListColumnOfId(column)));
            const QRect inside = cell.adjusted(1, 1, -2, -2);
            // The found text is red on green; every other text is its sender's colour on the row.
            const Reading r = kind == Kind::FindText ? Read(image, inside, kRed, kFindGreen)
                                                     : Read(image, inside, kPortInk[packet.port % 4]);
            fails.Check(what + " \"" + type + "\"", r);

            packet.unitInterval = unitInterval;
            if (kind == Kind::MarkerA) list->OnCommand(CQXLogView::kCmdClearMarkerA);
            if (kind == Kind::MarkerB) list->OnCommand(CQXLogView::kCmdClearMarkerB);
            if (kind == Kind::Bookmark) list->OnCommand(CQXLogView::kCmdClearMarker);
            if (kind == Kind::Selected || kind == Kind::SelectedInvalid) list->clearSelection();
            w.FindCriteriaForEdit().enableText = false;
        };
        for (const auto& [port, row] : senderRow)
            for (const auto& [kind, name] : kinds)
                measure(row, kind, QStringLiteral("%1, port %2, row %3").arg(name).arg(port).arg(row));
        for (int32_t row : invalidRows) measure(row, Kind::Plain, QStringLiteral("invalid row %1").arg(row));
        measure(invalidRows.front(), Kind::Selected, "selected invalid row");
        measure(invalidRows.front(), Kind::MarkerB, "marker B on an invalid row");
        for (int32_t row : resetRows) measure(row, Kind::Plain, QStringLiteral("reset row %1").arg(row));
        QVERIFY2(fails.list.isEmpty(), qPrintable(fails.Text()));
    }

    // The graph's texts: read-outs below the plot, axis labels, vRd band labels, strip labels, marker
    // names, a marker's value panel and the cursor's read-outs.
    void EveryGraphTextReads() {
        DemoWindow demo(QSize{1600, 1000});
        QVERIFY(demo.opened);
        CMainFrame& w = demo.w;
        CGraphView* v = w.GraphView();
        CQXLogView* list = w.LogView();
        const CCaptureStore& store = w.Doc().store;
        CGraphModel& m = v->Model();
        const GraphRect& plot = m.Plot();
        const int line = GraphLineStep(v->GraphFont(), m.FontHeight());
        Failures fails;

        list->SetContextRow(20);
        list->OnCommand(CQXLogView::kCmdSetMarkerA);
        list->SetContextRow(30);
        list->OnCommand(CQXLogView::kCmdSetMarkerB);
        m.SetMarkerTime(GraphMarker::O, 1000000);
        m.SetMarkerTime(GraphMarker::X, 3000000);
        v->update();
        QImage image = Grab(v);

        // Below the plot: "O to X" in the X colour, "O to A", "O to B" in theirs.
        const GraphRect region = m.MeasurementRegion();
        const QColor inks[] = {kMarkerX, kMarkerA, kMarkerB};
        for (int i = 0; i < 3; ++i) {
            const QRect text(0, region.top + i * line, region.width, line);
            const QColor background = Dominant(image, QRect(0, region.top, region.width, region.height));
            fails.Check(QStringLiteral("measurement line %1").arg(i + 1),
                        Read(image, text, inks[i], background));
        }
        // Value axis labels at each zero line, time labels above the plot.
        auto atZero = [&](GraphArea a, bool right) {
            const int y = m.ZeroY(a);
            return right ? QRect(plot.Right() + 1, y - line, 80, line)
                         : QRect(plot.left - 86, y - line, 85, line);
        };
        fails.Check("voltage axis label", Read(image, atZero(GraphArea::Voltage, false), QColor(180, 0, 0)));
        fails.Check("current axis label", Read(image, atZero(GraphArea::Current, true), QColor(0, 0, 180)));
        fails.Check("wattage axis label", Read(image, atZero(GraphArea::Wattage, false), kOrange));
        fails.Check("time axis label",
                    Read(image, QRect(plot.left, plot.top - 28, plot.width, 27), kAchromatic, Qt::white));
        // The marker names on their colours at the plot's bottom.
        for (GraphMarker marker : {GraphMarker::O, GraphMarker::X}) {
            const int x = plot.left + m.PlaceOf(marker).x;
            fails.Check(marker == GraphMarker::O ? "name O" : "name X",
                        Read(image, QRect(x + 1, plot.Bottom() - line, 20, line - 1), kAchromatic));
        }

        // The value panel of marker X, highlighted: its lines on the trace colours.
        v->SetPointer(QPoint(plot.left + m.PlaceOf(GraphMarker::X).x, plot.top + 100));
        QCOMPARE(m.Highlighted(), GraphMarker::X);
        image = Grab(v);
        const int panelX = plot.left + m.PlaceOf(GraphMarker::X).x + 3;
        for (int i = 0; i < 6; ++i) {
            const QRect text(panelX + 1, plot.top + 2 + i * (line + 1), 150, line - 1);
            fails.Check(QStringLiteral("value panel line %1").arg(i + 1), Read(image, text, kAchromatic));
        }

        // The cursor's read-outs on the cursor colour, in the voltage and the wattage band.
        v->SetPointer(QPoint(plot.left + plot.width / 2, m.YOfValue(GraphArea::Voltage, 1000)));
        v->SetCursorOn(true);
        QCOMPARE(m.Highlighted(), GraphMarker::None);
        image = Grab(v);
        // Each read-out on its own box of the cursor colour, as far as the columns that are mostly that
        // colour go.
        auto box = [&](int x, int top) {
            auto boxColumn = [&](int column) {
                int white = 0;
                for (int y = top; y < top + line; ++y) white += QColor(image.pixel(column, y)) == Qt::white;
                return white >= line / 3;
            };
            int right = x;
            while (right + 1 < image.width() && boxColumn(right + 1)) ++right;
            return QRect(x, top, right - x + 1, line);
        };
        const int vy = m.YOfValue(GraphArea::Voltage, 1000);
        fails.Check("cursor time",
                    Read(image, QRect(plot.left + plot.width / 2 - 80, plot.top + 5, 160, line), kAchromatic,
                         Qt::white));
        fails.Check("cursor voltage", Read(image, box(plot.left + 5, vy - line), kRed, Qt::white));
        const int wy = m.ZeroY(GraphArea::Wattage) - 5;
        v->SetPointer(QPoint(plot.left + plot.width / 2, wy));
        image = Grab(v);
        fails.Check("cursor power", Read(image, box(plot.left + 5, wy), kOrange, Qt::white));
        v->SetCursorOn(false);

        // vRd band labels, in the VBUS voltage colour: the voltage area zoomed onto 0 to 2.5 V, the VBUS
        // voltage trace (of that colour) off.
        GraphAreaState& volts = m.MutableArea(GraphArea::Voltage);
        volts.scale = 0.06f;
        volts.baseline = 40;
        m.SetTraceOn(GraphTraceSwitch::VbusVoltage, false);
        v->update();
        image = Grab(v);
        const QFontMetrics metrics(v->GraphFont());
        for (const auto& [lower, name] :
             {std::pair{250, "vRd-USB"}, std::pair{700, "vRd-1.5"}, std::pair{1310, "vRd-3.0"}}) {
            const int y = m.YOfValue(GraphArea::Voltage, lower);
            fails.Check(QStringLiteral("vRd label from %1 mV").arg(lower),
                        Read(image,
                             QRect(plot.left, y - metrics.height(), metrics.horizontalAdvance(name),
                                   metrics.height()),
                             kRed));
        }
        m.SetTraceOn(GraphTraceSwitch::VbusVoltage, true);
        m.FitAreas();

        // Packet names above their boxes, invalid ones included: black or white on the box colour.
        const CCCPacket* invalid = nullptr;
        const CCCPacket* sender = nullptr;
        for (size_t i = 0; i < store.PacketCount(); ++i) {
            const CCCPacket* p = store.PacketAt(i);
            if (p->intervalCount <= 1) continue;
            // An invalid packet long enough for its name.
            if (IsInvalidPacket(*p) && (!invalid || p->LengthMicros() > invalid->LengthMicros())) invalid = p;
            if (!sender && p->port == 1 && !IsInvalidPacket(*p)) sender = p;
        }
        QVERIFY(invalid && sender);
        for (const CCCPacket* p : {invalid, sender}) {
            ZoomOnto(v, store, *p);
            image = Grab(v);
            const int x = plot.left + int(m.XOfTime(store.DisplayTime(*p)));
            const int stripTop = m.PdStripTop();
            fails.Check(QStringLiteral("strip label #%1").arg(p->index),
                        Read(image, QRect(x + 1, stripTop - line, 100, line - 1), kAchromatic));
        }
        QVERIFY2(fails.list.isEmpty(), qPrintable(fails.Text()));
    }

    // At the window's default size, with every area and with one or two switched off, each area shown
    // has two or more value labels, at the first start on a 1600 x 1000 screen and at 1600 x 1000. At the
    // smallest first-start size, 1200 x 700, the plot is about 120 px high, too low for two labels in
    // each of two or three areas beside the PD strip: there, a single area shows two. Pictures of each size
    // with all three areas.
    void EveryAreaShowsTwoValueLabels() {
        for (const QSize size : {QSize(1200, 700), QSize(1360, 850), QSize(1600, 1000)}) {
            DemoWindow demo(size);
            QVERIFY(demo.opened);
            CMainFrame& w = demo.w;
            CGraphView* v = w.GraphView();
            CGraphModel& m = v->Model();
            const std::string name =
                "graph-areas-" + std::to_string(size.width()) + "x" + std::to_string(size.height());
            QVERIFY(Grab(v).save(QString::fromStdString(guitest::OutputDir() + "/" + name + ".png")));
            qInfo("screenshot: %s/%s.png (plot %d px high)", guitest::OutputDir().c_str(), name.c_str(),
                  m.Plot().height);

            for (const auto& on : graphtest::kAreaSets) {
                if (size.height() < 850 && on[0] + on[1] + on[2] > 1) continue;
                for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage})
                    if (m.AreaOn(a) != on[size_t(a)]) v->ToggleAreaWithFitting(a);
                const QImage image = Grab(v);
                const GraphRect& plot = m.Plot();
                for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage}) {
                    if (!on[size_t(a)]) continue;
                    int32_t top, bottom;
                    m.AreaBand(a, &top, &bottom);
                    const bool right = a == GraphArea::Current;
                    const QColor hue = a == GraphArea::Voltage   ? QColor(180, 0, 0)
                                       : a == GraphArea::Current ? QColor(0, 0, 180)
                                                                 : kOrange;
                    const int labels =
                        right ? LabelsIn(image, plot.Right() + 1, plot.Right() + 86, top, bottom, hue)
                              : LabelsIn(image, plot.left - 86, plot.left - 1, top, bottom, hue);
                    const QByteArray what =
                        QStringLiteral("%1x%2, areas %3%4%5, area %6: %7 labels in rows %8..%9")
                            .arg(size.width())
                            .arg(size.height())
                            .arg(on[0])
                            .arg(on[1])
                            .arg(on[2])
                            .arg(int(a))
                            .arg(labels)
                            .arg(top)
                            .arg(bottom)
                            .toUtf8();
                    QVERIFY2(labels >= 2, what.constData());
                }
            }
        }
    }

    // The list scrolled to an invalid row with a marker row beside it, at both sizes, for review.
    void ListPictures() {
        for (const QSize size : {QSize(1200, 700), QSize(1600, 1000)}) {
            DemoWindow demo(size);
            QVERIFY(demo.opened);
            CMainFrame& w = demo.w;
            CQXLogView* list = w.LogView();
            int32_t invalid = -1;
            for (int32_t r = 2; r < list->RowCount() - 2 && invalid < 0; ++r)
                if (IsInvalidPacket(*list->PacketOfRow(r))) invalid = r;
            QVERIFY(invalid > 0);
            list->SetContextRow(invalid - 2);
            list->OnCommand(CQXLogView::kCmdSetMarkerA);
            list->SetContextRow(invalid + 1);
            list->OnCommand(CQXLogView::kCmdSetMarkerB);
            list->SetContextRow(invalid - 1);
            list->OnCommand(CQXLogView::kCmdSetMarker);
            list->selectRow(invalid + 2);
            list->EnsureRowVisible(invalid);
            const std::string path = guitest::OutputDir() + "/list-invalid-marker-" +
                                     std::to_string(size.width()) + "x" + std::to_string(size.height()) +
                                     ".png";
            QVERIFY(Grab(list).save(QString::fromStdString(path)));
            qInfo("screenshot: %s (invalid row %d)", path.c_str(), invalid);
        }
    }
};

AMBRIO_GUI_TEST(ReadableTest)
#include "ReadableTest.moc"
