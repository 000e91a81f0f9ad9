// Room in the main window: the size and pane layout of a first start, where the height goes as the
// window grows, a stored layout coming back, the control view's readable minimum, and column widths
// that hold their header texts and usual cell texts, with the sort indicator after a header click.
#include "DemoCapture.h"
#include "DockableGraph.h"
#include "FrameFixture.h"
#include "FrameRoom.h"
#include "GraphView.h"
#include "GuiTest.h"
#include "PDPacketListView.h"
#include "PDPacketTreeView.h"
#include "QXCtrlView.h"
#include "QXLogView.h"

#include <QFontInfo>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>

namespace {

using Field = CQXCtrlView::Field;

QSplitter* Rows(CMainFrame& w) {
    return qobject_cast<QSplitter*>(w.LogView()->parentWidget());
}
QSplitter* TreeRow(CMainFrame& w) {
    return qobject_cast<QSplitter*>(w.TreeView()->parentWidget());
}

// Rows the packet list shows whole.
int WholeRows(CQXLogView* list) {
    return list->viewport()->height() / list->verticalHeader()->defaultSectionSize();
}

int PlotHeight(CMainFrame& w) {
    return w.GraphView()->Model().Plot().height;
}

void Show(CMainFrame& w) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(50);
}

// The first packet of the type selected, so that the tree and the field table show it.
void SelectFirst(CQXLogView* list, const std::string& type) {
    for (int r = 0; r < list->RowCount(); ++r)
        if (list->PacketOfRow(r)->GetMessageTypeText() == type) {
            list->selectRow(r);
            return;
        }
}

// The readings and labels of the control view, each with its name.
std::vector<std::pair<const char*, QWidget*>> Readings(CQXCtrlView* v) {
    return {{"VBUS voltage", v->FieldWidget(Field::VbusVoltage)},
            {"VBUS current", v->FieldWidget(Field::VbusCurrent)},
            {"VBUS power", v->FieldWidget(Field::VbusPower)},
            {"CC1 voltage", v->FieldWidget(Field::Cc1Voltage)},
            {"CC1 current", v->FieldWidget(Field::Cc1Current)},
            {"CC2 voltage", v->FieldWidget(Field::Cc2Voltage)},
            {"CC2 current", v->FieldWidget(Field::Cc2Current)},
            {"VCONN voltage", v->FieldWidget(Field::VconnVoltage)},
            {"VCONN power", v->FieldWidget(Field::VconnPower)},
            {"CC status", v->FieldWidget(Field::CcStatus)},
            {"peak power", v->FieldWidget(Field::PeakPower)},
            {"VBUS label", v->GroupLabel(0)},
            {"VCONN label", v->GroupLabel(3)}};
}

// Names of the readings whose font is below the readable size.
QStringList Unreadable(CQXCtrlView* v) {
    QStringList small;
    for (const auto& [name, w] : Readings(v))
        if (QFontInfo(w->font()).pointSizeF() < CQXCtrlView::kReadablePoints - 0.01)
            small << QStringLiteral("%1 %2pt").arg(name).arg(QFontInfo(w->font()).pointSizeF());
    return small;
}

// Lines drawn in a label's contents from the top left, as the peak text is, fit there.
bool TextFits(const QLabel* label, const QString& text) {
    const QRect room =
        label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(), -label->margin());
    const QRect need =
        QFontMetrics(label->font()).boundingRect(QRect(0, 0, 4000, 4000), Qt::AlignLeft | Qt::AlignTop, text);
    return need.width() <= room.width() && need.height() <= room.height();
}

// A line centred in a label, as a value box shows it, draws all its ink inside the box's frame.
bool InkFits(const QLabel* label, const QString& text) {
    const QFontMetrics metrics(label->font());
    const QRect room = label->contentsRect();
    const QRect ink = metrics.tightBoundingRect(text);
    const int baseline = room.top() + (room.height() - metrics.height()) / 2 + metrics.ascent();
    return ink.width() <= room.width() && baseline + ink.top() >= room.top() &&
           baseline + ink.bottom() <= room.bottom();
}

// Both peak blocks at their widest, without the closing line break (it draws nothing).
QString WidestPeak() {
    return QString::fromStdString(WidestPeakText()).trimmed();
}

// The headers of a table whose text does not fit its section: the text and the style's margins on
// both sides.
QStringList CutHeaders(const QTableView* table) {
    const QHeaderView* header = table->horizontalHeader();
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const QFontMetrics metrics(header->font());
    QStringList cut;
    for (int c = 0; c < header->count(); ++c) {
        const QString text = table->model()->headerData(c, Qt::Horizontal).toString();
        const int need = metrics.horizontalAdvance(text) + 2 * margin;
        if (need > header->sectionSize(c))
            cut << QStringLiteral("\"%1\" %2 of %3").arg(text).arg(header->sectionSize(c)).arg(need);
    }
    return cut;
}

// A window made as the application makes it, without the fixture's size.
struct OwnFrame {
    explicit OwnFrame(CSettings& settings) {
        analyzer = ManualAnalyzer("demo");
        FrameEnvironment env;
        env.settings = &settings;
        env.link = analyzer.get();
        env.startTimer = false;
        frame = std::make_unique<CMainFrame>(env);
        frame->execSettingsDialog = [](QDialog&) { return int(QDialog::Rejected); };
    }
    std::unique_ptr<CEmulatedAnalyzer> analyzer;
    std::unique_ptr<CMainFrame> frame;
};

void NoPrompt(CSettings& s) {
    s.launchDriverInstaller = false;
}

} // namespace

class WindowRoomTest : public QObject {
    Q_OBJECT

private slots:
    // A first start takes 85 % of the screen, never less than the record's default; a stored record
    // (moved splitters included) gives its own size.
    void startSize_data() {
        QTest::addColumn<int>("listHeight");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("first, full HD") << 100 << 1200 << 700 << QSize(1920, 1040) << QSize(1632, 884);
        QTest::newRow("first, large") << 100 << 1200 << 700 << QSize(2560, 1400) << QSize(2176, 1190);
        QTest::newRow("first, small screen") << 100 << 1200 << 700 << QSize(1366, 728) << QSize(1200, 700);
        QTest::newRow("first, tall screen") << 100 << 1200 << 700 << QSize(1080, 1880) << QSize(1200, 1598);
        QTest::newRow("stored size") << 100 << 1400 << 900 << QSize(1920, 1040) << QSize(1400, 900);
        QTest::newRow("moved splitter") << 333 << 1200 << 700 << QSize(1920, 1040) << QSize(1200, 700);
    }
    void startSize() {
        QFETCH(int, listHeight);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QSize, screen);
        QFETCH(QSize, expected);
        WindowRecord r;
        r.listPaneHeight = listHeight;
        r.width = width;
        r.height = height;
        QCOMPARE(FrameStartSize(r, screen), expected);
    }

    // The window the application creates has that size.
    void windowTakesStartSize() {
        CSettings settings;
        OwnFrame own(settings);
        QCOMPARE(
            own.frame->size(),
            FrameStartSize(settings.window, QGuiApplication::primaryScreen()->availableGeometry().size()));
    }

    // The demo recording at a first start: the list gets the room, the graph its plot, the tree its width,
    // and the control view shows its readings and the widest peak text uncut. Screenshots for review.
    void firstStart_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("plot");
        QTest::newRow("1200x700") << QSize(1200, 700) << 7 << 100;
        QTest::newRow("1600x1000") << QSize(1600, 1000) << 15 << 250;
    }
    void firstStart() {
        QFETCH(QSize, size);
        QFETCH(int, rows);
        QFETCH(int, plot);
        CFrameFixture f("demo", false, NoPrompt);
        CMainFrame& w = *f.frame;
        QVERIFY(w.OpenFile(DemoFile(f.dir)));
        w.resize(size);
        Show(w);
        QCOMPARE(w.size(), size);
        // The recording's peak power in the control view; the picture first, so that a reviewer sees what
        // any failure below is about.
        w.Tick();
        SelectFirst(w.LogView(), "Source_Capabilities");
        QTest::qWait(50);
        const std::string path =
            guitest::OutputDir() +
            QStringLiteral("/main-%1x%2.png").arg(size.width()).arg(size.height()).toStdString();
        QVERIFY(w.grab().toImage().save(QString::fromStdString(path)));
        qInfo("screenshot: %s", path.c_str());

        QVERIFY2(WholeRows(w.LogView()) >= rows, qPrintable(QString::number(WholeRows(w.LogView()))));
        QVERIFY2(PlotHeight(w) >= plot, qPrintable(QString::number(PlotHeight(w))));
        QVERIFY2(w.TreeView()->width() >= 250, qPrintable(QString::number(w.TreeView()->width())));
        // The tree row still shows a few rows of the field table.
        QVERIFY(w.FieldView()->viewport()->height() >=
                3 * w.FieldView()->verticalHeader()->defaultSectionSize());

        CQXCtrlView* ctrl = w.CtrlView();
        QCOMPARE(ctrl->height(), ctrl->DefaultHeight(size.height(), ctrl->width()));
        QVERIFY2(Unreadable(ctrl).isEmpty(), qPrintable(Unreadable(ctrl).join(", ")));
        for (Field field : {Field::VbusPower, Field::PeakPower}) {
            const QRect box = ctrl->FieldWidget(field)->geometry();
            QVERIFY2(ctrl->rect().contains(box), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                                                .arg(box.x())
                                                                .arg(box.y())
                                                                .arg(box.width())
                                                                .arg(box.height())
                                                                .arg(ctrl->width())
                                                                .arg(ctrl->height())));
        }
        QVERIFY(InkFits(static_cast<QLabel*>(ctrl->FieldWidget(Field::VbusPower)), "240.00 [W]"));
        QVERIFY(TextFits(static_cast<QLabel*>(ctrl->FieldWidget(Field::PeakPower)), WidestPeak()));
    }

    // Growing the window gives the height to the list and the graph; the control view and the tree row
    // keep theirs, and the tree its width.
    void growingFeedsListAndGraph() {
        CFrameFixture f("demo", false, NoPrompt);
        CMainFrame& w = *f.frame;
        Show(w);
        QSplitter* rows = Rows(w);
        const QList<int> before = rows->sizes();
        const int graph = w.GraphPane()->height();
        const int tree = w.TreeView()->width();
        w.resize(1600, 1000);
        QTest::qWait(50);
        const QList<int> after = rows->sizes();
        QCOMPARE(after[0], before[0]);
        QCOMPARE(after[2], before[2]);
        QCOMPARE(w.TreeView()->width(), tree);
        const int listGain = after[1] - before[1];
        const int graphGain = w.GraphPane()->height() - graph;
        QVERIFY2(listGain > 60 && graphGain > 60,
                 qPrintable(QStringLiteral("%1 %2").arg(listGain).arg(graphGain)));
        // Everything the window gained in height, give or take a pixel of rounding.
        QVERIFY(std::abs(listGain + graphGain - 300) <= 1);
    }

    // A layout the user shaped is stored as the window closes and comes back at the next start: window
    // size, list height and tree width.
    void storedLayoutComesBack() {
        CSettings settings;
        NoPrompt(settings);
        QList<int> rowSizes, treeSizes;
        {
            OwnFrame own(settings);
            CMainFrame& w = *own.frame;
            w.resize(1400, 900);
            Show(w);
            QSplitter* rows = Rows(w);
            QList<int> moved = rows->sizes();
            moved[1] -= 60;
            moved[2] += 60;
            rows->setSizes(moved);
            QList<int> wider = TreeRow(w)->sizes();
            wider[0] += 45;
            wider[1] -= 45;
            TreeRow(w)->setSizes(wider);
            rowSizes = rows->sizes();
            treeSizes = TreeRow(w)->sizes();
        }
        QCOMPARE(settings.window.width, 1400);
        QCOMPARE(settings.window.listPaneHeight, rowSizes[1]);
        OwnFrame own(settings);
        CMainFrame& w = *own.frame;
        QCOMPARE(w.size(), QSize(1400, 900));
        Show(w);
        QCOMPARE(Rows(w)->sizes(), rowSizes);
        QCOMPARE(TreeRow(w)->sizes()[0], treeSizes[0]);
    }

    // A stored control view height too low for readable readings is raised; the view cannot be dragged
    // below it either.
    void lowCtrlHeightRaised() {
        CFrameFixture f("demo", false, [](CSettings& s) {
            NoPrompt(s);
            s.ctrlViewHeight = 30;
        });
        CMainFrame& w = *f.frame;
        Show(w);
        CQXCtrlView* ctrl = w.CtrlView();
        QCOMPARE(ctrl->height(), ctrl->MinimumHeight());
        QVERIFY2(Unreadable(ctrl).isEmpty(), qPrintable(Unreadable(ctrl).join(", ")));
        QList<int> squeezed = Rows(w)->sizes();
        squeezed[1] += squeezed[0] - 20;
        squeezed[0] = 20;
        Rows(w)->setSizes(squeezed);
        QCOMPARE(ctrl->height(), ctrl->MinimumHeight());
    }

    // Every header of the packet list (all 38 columns shown) and of the field table fits its default
    // width, and so do the time and type texts; a width the user chose stays.
    void columnsFitTheirTexts() {
        CFrameFixture f("demo", false, [](CSettings& s) {
            NoPrompt(s);
            for (ColumnRecord& c : s.columns) c.visible = true;
            s.columns[kColumnDescription].width = 333;
        });
        CMainFrame& w = *f.frame;
        Show(w);
        CQXLogView* list = w.LogView();
        QCOMPARE(list->horizontalHeader()->count(), int(kColumnCount));
        QVERIFY2(CutHeaders(list).isEmpty(), qPrintable(CutHeaders(list).join(", ")));
        QVERIFY2(CutHeaders(w.FieldView()).isEmpty(), qPrintable(CutHeaders(w.FieldView()).join(", ")));

        const QFontMetrics metrics(list->ListFont());
        const std::pair<int, std::string> usual[] = {{kColumnMessageType, "EPR_Source_Capabilities"},
                                                     {kColumnMessageType, "Source_Capabilities_Extended"},
                                                     {kColumnTimestamp, FormatTimeText(64811123)},
                                                     {kColumnIdleTime, FormatTimeText(64811123)}};
        for (const auto& [id, text] : usual) {
            bool shortened = true;
            CQXLogView::FitText(QString::fromStdString(text), list->columnWidth(list->ListColumnOfId(id)), 12,
                                metrics, &shortened);
            QVERIFY2(!shortened, text.c_str());
        }
        // The user's width is kept (wider than the spare room here, so Description does not grow).
        QCOMPARE(list->columnWidth(list->ListColumnOfId(kColumnDescription)), 333);

        // What goes back to the settings: a fitted column its default, to be fitted again with the font
        // of the next start; a column the user widened, and Description, their own widths.
        const int voltage = list->ListColumnOfId(kColumnVbusVoltage);
        QVERIFY(list->columnWidth(voltage) > 70);
        list->horizontalHeader()->resizeSection(list->ListColumnOfId(kColumnVbusCurrent), 191);
        list->SaveColumnLayout();
        QCOMPARE(f.settings.columns[kColumnVbusVoltage].width, 70);
        QCOMPARE(f.settings.columns[kColumnVbusCurrent].width, 191);
        QCOMPARE(f.settings.columns[kColumnDescription].width, 333);
    }

    // Description takes the width the other columns leave, also as the window grows; what is stored is
    // its own width.
    void descriptionTakesSpareWidth() {
        CFrameFixture f("demo", false, NoPrompt);
        CMainFrame& w = *f.frame;
        Show(w);
        CQXLogView* list = w.LogView();
        const QHeaderView* header = list->horizontalHeader();
        for (int width : {1200, 1600}) {
            w.resize(width, 800);
            QTest::qWait(20);
            QCOMPARE(header->length(), list->viewport()->width());
            QVERIFY(!list->horizontalScrollBar()->isVisible());
            QVERIFY(list->columnWidth(list->ListColumnOfId(kColumnDescription)) > 300);
        }
        list->SaveColumnLayout();
        QCOMPARE(f.settings.columns[kColumnDescription].width, 300);
    }

    // A click on a header sorts and shows the indicator in the sort's direction.
    void headerClickShowsSortIndicator() {
        CFrameFixture f("demo", false, NoPrompt);
        CMainFrame& w = *f.frame;
        f.analyzer->Unplug();
        QVERIFY(w.OpenFile(DemoFile(f.dir)));
        Show(w);
        CQXLogView* list = w.LogView();
        QHeaderView* header = list->horizontalHeader();
        const int type = list->ListColumnOfId(kColumnMessageType);
        QCOMPARE(header->sortIndicatorSection(), -1);
        auto click = [&] {
            const QPoint at(header->sectionViewportPosition(type) + header->sectionSize(type) / 2,
                            header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        };
        click();
        QVERIFY(header->isSortIndicatorShown());
        QCOMPARE(header->sortIndicatorSection(), type);
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
        QVERIFY(!CQXLogView::lastSortDescending);
        click();
        QCOMPARE(header->sortIndicatorSection(), type);
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QVERIFY(CQXLogView::lastSortDescending);
        // New columns show the store's order again: no indicator.
        list->SetupColumns();
        QCOMPARE(header->sortIndicatorSection(), -1);
    }
};

AMBRIO_GUI_TEST(WindowRoomTest)
#include "WindowRoomTest.moc"
