// Column settings: the order rules on the working copy (regrouping, Up, Down, Show, Hide, column id 0
// shown at opening, positions written on OK), then the dialog driven through its widgets from the main
// window, down to the list's header and the settings kept for the next start.
#include "ColumnChoice.h"
#include "CommandTable.h"
#include "DriveDialog.h"
#include "FrameFixture.h"
#include "GuiTest.h"
#include "LogViewCfgDlg.h"
#include "QXLogView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Ids as text, "0 2 6 ..."; at most `count` of them.
QString Ids(const std::vector<int32_t>& ids, size_t count = 99) {
    QStringList s;
    for (size_t i = 0; i < ids.size() && i < count; ++i) s << QString::number(ids[i]);
    return s.join(' ');
}

std::vector<int32_t> Parse(const QString& text) {
    std::vector<int32_t> ids;
    for (const QString& s : text.split(' ', Qt::SkipEmptyParts)) ids.push_back(s.toInt());
    return ids;
}

// The default layout as the dialog first shows it: the ten shown ids, then the hidden ones.
constexpr char kDefaultShown[] = "0 2 6 7 8 9 10 11 12 21";
constexpr char kDefaultHiddenStart[] = "1 3 4 5 28 29 30 31 13 14";

ColumnChoice DefaultChoice() {
    ColumnChoice c = ColumnChoice::From(SettingsValues::DefaultColumns());
    c.Regroup();
    return c;
}

// The ids the list shows, left to right on screen.
QString HeaderIds(const CQXLogView& list) {
    const QHeaderView* header = list.horizontalHeader();
    std::vector<int32_t> ids(size_t(header->count()), -1);
    for (int id = 0; id < kColumnCount; ++id) {
        const int column = list.ListColumnOfId(id);
        if (column >= 0) ids[size_t(header->visualIndex(column))] = id;
    }
    return Ids(ids);
}

// The ids of the shown columns in the settings, by position.
QString SettingsShown(const std::array<ColumnRecord, kColumnCount>& columns) {
    std::vector<int32_t> ids;
    for (int position = 0; position < kColumnCount; ++position)
        for (int id = 0; id < kColumnCount; ++id)
            if (columns[size_t(id)].visible && columns[size_t(id)].position == position) ids.push_back(id);
    return Ids(ids);
}

QString RowText(const QTableWidget* list, int row) {
    QStringList cells;
    for (int c = 0; c < list->columnCount(); ++c) cells << list->item(row, c)->text();
    return cells.join('|');
}

// The ids of the dialog's first rows, read from the Title column.
QString DialogIds(const CLogViewCfgDlg& d, size_t count) {
    std::vector<int32_t> ids;
    for (int r = 0; r < d.List()->rowCount(); ++r) {
        const QString title = d.List()->item(r, 1)->text();
        for (int id = 0; id < kColumnCount; ++id)
            if (title == QLatin1String(kColumns[id].header)) ids.push_back(id);
    }
    return Ids(ids, count);
}

// Clicks the rows of these ids, the first plainly, the others with Ctrl as a user adds to a selection.
void SelectIds(CLogViewCfgDlg& d, std::initializer_list<int> ids) {
    QTableWidget* list = d.List();
    bool first = true;
    for (int id : ids) {
        int row = -1;
        for (int r = 0; r < list->rowCount(); ++r)
            if (list->item(r, 1)->text() == QLatin1String(kColumns[id].header)) row = r;
        QVERIFY(row >= 0);
        list->scrollToItem(list->item(row, 0));
        const QPoint at = list->visualItemRect(list->item(row, 1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, first ? Qt::NoModifier : Qt::ControlModifier, at);
        first = false;
    }
}

void Press(const CLogViewCfgDlg& d, int id) {
    auto* b = qobject_cast<QPushButton*>(d.Control(id));
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
}

struct Window {
    CFrameFixture f;
    CMainFrame& w = *f.frame;
    explicit Window(const std::function<void(CSettings&)>& adjust = {}) : f("demo", false, adjust) {
        f.analyzer->Unplug();
        w.show();
        if (!QTest::qWaitForWindowExposed(&w)) qWarning("window not exposed");
    }
    void Drive(const std::function<void(CLogViewCfgDlg&)>& drive) {
        QVERIFY(DriveDialog<CLogViewCfgDlg>(w, cmd::kColumnSettings, drive));
    }
};

} // namespace

class ColumnSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void OrderRules_data() {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("shown");  // the shown group afterwards
        QTest::addColumn<QString>("hidden"); // the start of the hidden group afterwards
        const QString shown = kDefaultShown, hidden = kDefaultHiddenStart;
        QTest::newRow("up one") << "7" << "up" << "0 2 7 6 8 9 10 11 12 21" << hidden;
        QTest::newRow("up two apart") << "7 9" << "up" << "0 2 7 9 6 8 10 11 12 21" << hidden;
        QTest::newRow("up from the second row") << "2 11" << "up" << "2 11 0 6 7 8 9 10 12 21" << hidden;
        QTest::newRow("up on the first row") << "0" << "up" << shown << hidden;
        QTest::newRow("up without selection") << "" << "up" << shown << hidden;
        QTest::newRow("up within the hidden") << "28 29" << "up" << shown << "1 3 4 28 29 5 30 31 13 14";
        QTest::newRow("hidden row up past the shown falls back") << "1" << "up" << shown << hidden;
        QTest::newRow("down one") << "7" << "down" << "0 2 6 8 7 9 10 11 12 21" << hidden;
        QTest::newRow("down two apart") << "2 7" << "down" << "0 6 8 2 7 9 10 11 12 21" << hidden;
        QTest::newRow("down on the last shown row") << "21" << "down" << shown << hidden;
        QTest::newRow("down on the last row") << "37" << "down" << shown << hidden;
        QTest::newRow("down without selection") << "" << "down" << shown << hidden;
        QTest::newRow("hide goes to the hidden group") << "6" << "hide" << "0 2 7 8 9 10 11 12 21"
                                                       << "6 1 3 4 5 28 29 30 31 13";
        QTest::newRow("show goes to the end of the shown") << "3 13" << "show" << "0 2 6 7 8 9 10 11 12 21 3 13"
                                                           << "1 4 5 28 29 30 31 14 15 17";
    }

    void OrderRules() {
        QFETCH(QString, selected);
        QFETCH(QString, action);
        QFETCH(QString, shown);
        QFETCH(QString, hidden);
        ColumnChoice c = DefaultChoice();
        QCOMPARE(Ids(c.order, 10), QString(kDefaultShown));
        for (int32_t id : Parse(selected)) c.selected[size_t(id)] = true;
        if (action == "up") c.MoveUp();
        if (action == "down") c.MoveDown();
        if (action == "show" || action == "hide") c.ShowSelected(action == "show");
        c.Regroup();

        std::vector<int32_t> shownIds, hiddenIds;
        for (int32_t id : c.order) (c.show[size_t(id)] ? shownIds : hiddenIds).push_back(id);
        QCOMPARE(Ids(c.order, shownIds.size()), Ids(shownIds));
        QCOMPARE(Ids(shownIds), shown);
        QCOMPARE(Ids(hiddenIds, 10), hidden);
        QCOMPARE(c.order.size(), size_t(kColumnCount));
    }

    void OpeningAndWritingBack() {
        auto columns = SettingsValues::DefaultColumns();
        // Id 0 hidden, widths of our own, one position out of range and two ids sharing a position.
        columns[0].visible = false;
        columns[2].width = 333;
        columns[9].position = 99;
        columns[3].position = 2;
        ColumnChoice c = ColumnChoice::From(columns);
        QVERIFY(c.show[0]);
        QCOMPARE(c.width[2], 333);
        QCOMPARE(Ids(c.order, 4), QString("0 1 2 3"));
        QCOMPARE(c.order.back(), 9);
        QCOMPARE(c.order.size(), size_t(kColumnCount));

        c.Regroup();
        c.selected[11] = true;
        c.MoveUp();
        c.Regroup();
        c.width[2] = 1; // the dialog only shows widths
        c.WriteTo(columns);
        // Id 9, out of range, came last and stays last among the shown.
        QCOMPARE(SettingsShown(columns), QString("0 2 6 7 8 11 10 12 21 9"));
        QCOMPARE(columns[2].width, 333);
        // The hidden ids follow the shown ones: every position once.
        std::vector<bool> taken(kColumnCount, false);
        for (const ColumnRecord& r : columns) {
            QVERIFY(r.position >= 0 && r.position < kColumnCount);
            QVERIFY(!taken[size_t(r.position)]);
            taken[size_t(r.position)] = true;
            if (!r.visible) QVERIFY(r.position >= 10);
        }

        c.LoadDefaults();
        c.Regroup();
        QCOMPARE(Ids(c.order, 10), QString(kDefaultShown));
        QCOMPARE(c.width[2], 120);
    }

    void DialogRowsAndButtons() {
        Window o([](CSettings& s) { s.columns[0].visible = false; });
        CMainFrame& w = o.w;
        QCOMPARE(HeaderIds(*w.LogView()), QString("2 6 7 8 9 10 11 12 21"));
        o.Drive([](CLogViewCfgDlg& d) {
            QCOMPARE(d.windowTitle(), QString("PD Messages Column Settings"));
            QTableWidget* list = d.List();
            QCOMPARE(list->rowCount(), kColumnCount);
            QCOMPARE(list->horizontalHeaderItem(2)->text(), QString("Desctiption"));
            QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
            // Column id 0 shows as shown, whatever the settings say; the list left it after the shown
            // columns.
            QCOMPARE(RowText(list, 0), QString("0|Timestamp|Timestamp|120|Show"));
            QCOMPARE(RowText(list, 8), QString("8|Description|Description|300|Show"));
            QCOMPARE(RowText(list, 9), QString("9|#|Packet Number|50|Show"));
            QCOMPARE(RowText(list, 10), QString("|Idle Time|Idle Time|120|Hide"));

            SelectIds(d, {9, 11});
            Press(d, CLogViewCfgDlg::kUp);
            QCOMPARE(DialogIds(d, 10), QString("2 6 7 9 11 8 10 12 21 0"));
            // The moved rows stay selected.
            QCOMPARE(list->selectionModel()->selectedRows().size(), 2);
            QVERIFY(list->item(3, 0)->isSelected() && list->item(4, 0)->isSelected());
            Press(d, CLogViewCfgDlg::kDown);
            QCOMPARE(DialogIds(d, 10), QString("2 6 7 8 9 11 10 12 21 0"));

            SelectIds(d, {6});
            Press(d, CLogViewCfgDlg::kHide);
            QCOMPARE(RowText(list, 8), QString("8|#|Packet Number|50|Show"));
            QCOMPARE(RowText(list, 9), QString("|CH|Channel|40|Hide"));
            SelectIds(d, {37, 34});
            Press(d, CLogViewCfgDlg::kShow);
            QCOMPARE(RowText(list, 9), QString("9|Ave.UI[us]|Average Unit Interval [us]|80|Show"));
            QCOMPARE(RowText(list, 10), QString("10|VBUS Watt[W]|VBUS Wattage [W]|70|Show"));
            Press(d, CLogViewCfgDlg::kUp); // rows 9 and 10 move above row 8
            QCOMPARE(DialogIds(d, 11), QString("2 7 8 9 11 10 12 21 34 37 0"));
            QTest::mouseClick(d.OkButton(), Qt::LeftButton);
        });
        const QString shown = "2 7 8 9 11 10 12 21 34 37 0";
        QCOMPARE(HeaderIds(*w.LogView()), shown);
        QCOMPARE(SettingsShown(o.f.settings.columns), shown);
        QVERIFY(o.f.settings.columns[0].visible);
        QVERIFY(!o.f.settings.columns[6].visible);
        QCOMPARE(o.f.settings.columns[34].width, 80);

        // Load Defaults followed by Cancel changes nothing.
        const auto before = o.f.settings.columns;
        o.Drive([](CLogViewCfgDlg& d) {
            Press(d, CLogViewCfgDlg::kLoadDefaults);
            QCOMPARE(DialogIds(d, 10), QString(kDefaultShown));
            QTest::mouseClick(d.CancelButton(), Qt::LeftButton);
        });
        QVERIFY(o.f.settings.columns == before);
        QCOMPARE(HeaderIds(*w.LogView()), shown);
    }

    void HeaderDragsReachTheDialogAndTheSettingsLast() {
        CMemorySettingsStore store;
        {
            Window o;
            CQXLogView& list = *o.w.LogView();
            QVERIFY(o.w.Action(cmd::kColumnSettings)->isEnabled());
            // The user drags "Type" to the front and widens "CH" before opening the dialog.
            QHeaderView* header = list.horizontalHeader();
            header->moveSection(header->visualIndex(list.ListColumnOfId(11)), 0);
            header->resizeSection(list.ListColumnOfId(6), 77);
            o.Drive([](CLogViewCfgDlg& d) {
                QCOMPARE(DialogIds(d, 10), QString("11 0 2 6 7 8 9 10 12 21"));
                QCOMPARE(RowText(d.List(), 3), QString("3|CH|Channel|77|Show"));
                SelectIds(d, {21});
                Press(d, CLogViewCfgDlg::kUp);
                Press(d, CLogViewCfgDlg::kUp);
                QTest::mouseClick(d.OkButton(), Qt::LeftButton);
            });
            QCOMPARE(HeaderIds(list), QString("11 0 2 6 7 8 9 21 10 12"));
            QCOMPARE(list.columnWidth(list.ListColumnOfId(6)), 77);
            o.f.frame.reset(); // the window closes and leaves its layout in the settings
            o.f.settings.Save(store);
        }
        // The next start reads the same layout.
        CSettings next;
        next.Load(store);
        QCOMPARE(SettingsShown(next.columns), QString("11 0 2 6 7 8 9 21 10 12"));
        QCOMPARE(next.columns[6].width, 77);
    }

    void ContextMenuOpensTheDialog() {
        Window o;
        CQXLogView& list = *o.w.LogView();
        QString last;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !last.isEmpty()) return;
            last = menu->actions().back()->text();
            // Up from no item reaches the last one.
            QTest::keyClick(menu, Qt::Key_Up);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        poll.start(20);
        bool opened = false;
        o.w.execToolDialog = [&](QDialog& d) {
            opened = qobject_cast<CLogViewCfgDlg*>(&d) != nullptr;
            return int(QDialog::Rejected);
        };
        const QPoint at(20, 20);
        QContextMenuEvent e(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
        QApplication::sendEvent(list.viewport(), &e);
        poll.stop();
        QCOMPARE(last, QString("Column Settings"));
        QVERIFY(opened);
    }

    void Screenshot() {
        auto columns = SettingsValues::DefaultColumns();
        CLogViewCfgDlg d(columns);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        SelectIds(d, {11});
        const QImage image = d.grab().toImage();
        const std::string path = guitest::OutputDir() + "/column-settings-dialog.png";
        QVERIFY(image.save(QString::fromStdString(path)));
        QVERIFY(guitest::Busyness(image, 2) > 0.02);
        // All five list columns fit without scrolling sideways.
        QVERIFY(!d.List()->horizontalScrollBar()->isVisible());
        for (QPushButton* b : d.findChildren<QPushButton*>())
            QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(b->text()));
        qInfo("screenshot: %s", path.c_str());
    }
};

AMBRIO_GUI_TEST(ColumnSettingsTest)
#include "ColumnSettingsTest.moc"
