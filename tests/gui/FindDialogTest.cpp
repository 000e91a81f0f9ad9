// The find and display filter dialog as a user drives it: enabling by the capture's tallies with and
// without "Allow to change all settings", the record written by the Check/Clear buttons and read on OK
// only, a display filter down to two message types, and a find by text with its highlighted cell.
#include "CommandTable.h"
#include "DemoCapture.h"
#include "DriveDialog.h"
#include "FrameFixture.h"
#include "GuiTest.h"
#include "PacketFindDlg.h"
#include "QXLogView.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolBar>

#include <filesystem>
#include <functional>
#include <set>

namespace {

int BoxId(const char* text) {
    for (const MessageTypeBox& b : kMessageTypeBoxes)
        if (std::string(b.text) == text) return b.controlId;
    qFatal("no box %s", text);
}

// A click where a user clicks a check box or radio button: on its indicator.
void Click(QAbstractButton* b) {
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

void Press(QPushButton* b) {
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
}

QCheckBox* BoxOf(const CPacketFindDlg& d, int id) {
    QCheckBox* b = d.Box(id);
    if (!b) qFatal("no check box %d", id);
    return b;
}

QLineEdit* TextBox(const CPacketFindDlg& d) {
    return qobject_cast<QLineEdit*>(d.Control(kIdFindText));
}

// Every flag of the record with a check box.
std::vector<int> FlagIds() {
    std::vector<int> ids = {kIdCc1, kIdCc2, kIdSop, kIdSopPrime, kIdSopDoublePrime, kIdHardReset, kIdCableReset,
                            kIdSopPrimeDebug, kIdSopDoublePrimeDebug, kIdSource, kIdSink, kIdDfp, kIdUfp,
                            kIdNoErrors, kIdInvalidPacket, kIdCrcError};
    for (const MessageTypeBox& b : kMessageTypeBoxes) ids.push_back(b.controlId);
    return ids;
}

// The window with a record file open and no analyzer.
struct OpenWindow {
    CFrameFixture f;
    CMainFrame& w = *f.frame;
    explicit OpenWindow(double seconds = 8) {
        f.analyzer->Unplug();
        if (!w.OpenFile(DemoFile(f.dir, seconds))) qFatal("demo capture not opened");
        w.show();
        if (!QTest::qWaitForWindowExposed(&w)) qWarning("window not exposed");
    }
    void Drive(uint32_t command, const std::function<void(CPacketFindDlg&)>& drive) {
        QVERIFY(DriveDialog<CPacketFindDlg>(w, command, drive));
    }
};

int CountColour(const QImage& image, const QRect& area, const QColor& colour) {
    int n = 0;
    for (int y = std::max(0, area.top()); y <= std::min(image.height() - 1, area.bottom()); ++y)
        for (int x = std::max(0, area.left()); x <= std::min(image.width() - 1, area.right()); ++x)
            if (QColor(image.pixel(x, y)) == colour) ++n;
    return n;
}

} // namespace

class FindDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        CQXLogView::lastSortColumn = 0;
        CQXLogView::lastSortDescending = false;
    }

    void EnablingFollowsTheTallies() {
        TempDir dir;
        CQXDoc doc;
        // The first seconds of the demo: a negotiation, no resets yet.
        QVERIFY(doc.OpenDocument(DemoFile(dir, 3)));
        const CaptureTallies& t = doc.store.tallies;
        QCOMPARE(t.hardReset, 0u);
        QVERIFY(t.sop > 0 && t.dataByType[2] > 0);

        CFindCriteria record(CFindCriteria::kFind);
        record.statistics = &t;
        CPacketFindDlg d(record);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.windowTitle(), QString("Find PD Messages"));
        QVERIFY(d.DirectionGroup()->isVisible());

        // Boxes of what the capture holds are enabled, the others not; "No Errors" always.
        QVERIFY(BoxOf(d, kIdSop)->isEnabled());
        QVERIFY(BoxOf(d, kIdCc1)->isEnabled());
        QVERIFY(BoxOf(d, BoxId("Request"))->isEnabled());
        QVERIFY(BoxOf(d, BoxId("Source_Capabilities"))->isEnabled());
        QVERIFY(!BoxOf(d, kIdHardReset)->isEnabled());
        QVERIFY(!BoxOf(d, BoxId("Data_Reset"))->isEnabled());
        QVERIFY(!BoxOf(d, BoxId("Firmware_Update_Request"))->isEnabled());
        QCOMPARE(BoxOf(d, kIdCrcError)->isEnabled(), t.badCrc != 0);
        QVERIFY(BoxOf(d, kIdNoErrors)->isEnabled());
        QVERIFY(!TextBox(d)->isEnabled());
        // The record's values show whether enabled or not.
        QVERIFY(BoxOf(d, kIdSop)->isChecked());
        QVERIFY(!BoxOf(d, kIdHardReset)->isChecked());

        // "Allow to change all settings" enables every box; cleared again, the tallies rule once more.
        Click(BoxOf(d, kIdAllowAllSettings));
        QVERIFY(record.allowAllSettings);
        for (int id : FlagIds()) QVERIFY2(BoxOf(d, id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(!TextBox(d)->isEnabled());
        Click(BoxOf(d, kIdHardReset));
        QVERIFY(BoxOf(d, kIdHardReset)->isChecked());
        QVERIFY(!record.hardReset); // not read yet
        Click(BoxOf(d, kIdAllowAllSettings));
        QVERIFY(!record.allowAllSettings);
        QVERIFY(record.hardReset); // read with the click
        QVERIFY(!BoxOf(d, kIdHardReset)->isEnabled());
        QVERIFY(BoxOf(d, kIdHardReset)->isChecked());

        // "Enable Text" enables the text box.
        Click(BoxOf(d, kIdEnableText));
        QVERIFY(TextBox(d)->isEnabled());
        QVERIFY(record.enableText);
        QTest::keyClicks(TextBox(d), "Accept");
        QVERIFY(record.text.empty());
        // Cancel reads nothing, but what the clicks read in stays.
        Press(d.CancelButton());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(record.hardReset);
        QVERIFY(record.enableText);
        QVERIFY(record.text.empty());
    }

    void WithoutTalliesEveryControlKeepsItsState() {
        CFindCriteria record(CFindCriteria::kDisplayFilter);
        CPacketFindDlg d(record);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.windowTitle(), QString("Display Filter Settings"));
        QVERIFY(!d.DirectionGroup()->isVisible());
        QVERIFY(!d.Control(kIdForward)->isVisible());
        for (int id : FlagIds()) {
            QVERIFY(BoxOf(d, id)->isEnabled());
            QVERIFY(BoxOf(d, id)->isChecked());
        }
        QVERIFY(TextBox(d)->isEnabled());
        Click(BoxOf(d, kIdAllowAllSettings));
        Click(BoxOf(d, kIdAllowAllSettings));
        QVERIFY(TextBox(d)->isEnabled());
    }

    void CheckAndClearButtonsWriteTheRecordAtOnce() {
        TempDir dir;
        CQXDoc doc;
        QVERIFY(doc.OpenDocument(DemoFile(dir, 3)));
        CFindCriteria record(CFindCriteria::kFind);
        record.statistics = &doc.store.tallies;
        {
            CPacketFindDlg d(record);
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            // A box changed by hand and not read in goes back to the record's value on a refresh.
            QVERIFY(BoxOf(d, kIdCc1)->isEnabled());
            Click(BoxOf(d, kIdCc1));
            QVERIFY(!BoxOf(d, kIdCc1)->isChecked());
            Press(qobject_cast<QPushButton*>(d.Control(kIdCheckAll)));
            for (int id : FlagIds()) {
                QVERIFY2(BoxOf(d, id)->isChecked(), qPrintable(QString::number(id)));
                QVERIFY(*record.FlagOf(id));
            }
            // Disabled boxes are set as well.
            QVERIFY(!BoxOf(d, kIdHardReset)->isEnabled());
            Press(d.CancelButton());
        }
        for (int id : FlagIds()) QVERIFY(*record.FlagOf(id));
        QVERIFY(!record.enableText);
        QVERIFY(!record.allowAllSettings);

        {
            CPacketFindDlg d(record);
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            Press(qobject_cast<QPushButton*>(d.Control(kIdClearAllMessageTypes)));
            for (const MessageTypeBox& b : kMessageTypeBoxes) QVERIFY(!BoxOf(d, b.controlId)->isChecked());
            QVERIFY(BoxOf(d, kIdSop)->isChecked());
            // A box clicked afterwards counts only once OK reads the controls.
            Click(BoxOf(d, BoxId("Accept")));
            Click(qobject_cast<QRadioButton*>(d.Control(kIdBackward)));
            QVERIFY(!record.messageTypes[size_t(MessageTypeBoxIndex(MessageFamily::Control, 3))]);
            Press(d.OkButton());
            QCOMPARE(d.result(), int(QDialog::Accepted));
        }
        for (size_t i = 0; i < record.messageTypes.size(); ++i)
            QCOMPARE(record.messageTypes[i], std::string(kMessageTypeBoxes[i].text) == "Accept");
        QCOMPARE(record.direction, int32_t(CFindCriteria::kBackward));

        {
            CPacketFindDlg d(record);
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            QVERIFY(qobject_cast<QRadioButton*>(d.Control(kIdBackward))->isChecked());
            Press(qobject_cast<QPushButton*>(d.Control(kIdClearAll)));
            Press(qobject_cast<QPushButton*>(d.Control(kIdCheckAllMessageTypes)));
            Press(d.CancelButton());
        }
        for (const MessageTypeBox& b : kMessageTypeBoxes) QVERIFY(*record.FlagOf(b.controlId));
        for (int id : {kIdCc1, kIdCc2, kIdSop, kIdSource, kIdNoErrors, kIdCrcError}) QVERIFY(!*record.FlagOf(id));
    }

    void DisplayFilterDownToRequestAndAccept() {
        OpenWindow o;
        CMainFrame& w = o.w;
        CQXLogView* list = w.LogView();
        const CCaptureStore& store = w.Doc().store;
        const int all = list->RowCount();
        QCOMPARE(size_t(all), store.PacketCount());
        // Request and Accept, and the packets no message type box names (a packet without a header, a
        // truncated one): the type rule lets those through.
        std::vector<int32_t> wantedNumbers;
        int boxless = 0;
        for (size_t i = 0; i < store.PacketCount(); ++i) {
            const CCCPacket& p = *store.PacketAt(i);
            const PacketMessageType type = MessageTypeOf(p);
            const bool noBox = MessageTypeBoxIndex(type.family, type.code) < 0;
            boxless += noBox;
            if (noBox || p.GetMessageTypeText() == "Request" || p.GetMessageTypeText() == "Accept")
                wantedNumbers.push_back(p.index);
        }
        const size_t wanted = wantedNumbers.size();
        QVERIFY(wanted > size_t(boxless) + 2 && boxless > 0);
        w.UpdateCommandStates();
        QVERIFY(w.Action(cmd::kDisableDisplayFilters)->isChecked());
        QVERIFY(w.Action(cmd::kDisplayFilterSettings)->isEnabled());

        o.Drive(cmd::kDisplayFilterSettings, [](CPacketFindDlg& d) {
            QCOMPARE(d.windowTitle(), QString("Display Filter Settings"));
            Press(qobject_cast<QPushButton*>(d.Control(kIdClearAllMessageTypes)));
            Click(BoxOf(d, BoxId("Request")));
            Click(BoxOf(d, BoxId("Accept")));
            Press(d.OkButton());
        });
        QVERIFY(w.DisplayFilter().displayFilterEnabled);
        QCOMPARE(size_t(list->RowCount()), wanted);
        for (int r = 0; r < list->RowCount(); ++r) QCOMPARE(list->PacketOfRow(r)->index, wantedNumbers[size_t(r)]);
        QVERIFY(!w.Action(cmd::kDisableDisplayFilters)->isChecked());

        // "Disable Display Filters" lets every packet back in, and again filters.
        w.ExecuteCommand(cmd::kDisableDisplayFilters);
        QCOMPARE(list->RowCount(), all);
        QVERIFY(w.Action(cmd::kDisableDisplayFilters)->isChecked());
        w.ExecuteCommand(cmd::kDisableDisplayFilters);
        QCOMPARE(size_t(list->RowCount()), wanted);

        // Cancel leaves the filter and the list as they are.
        o.Drive(cmd::kDisplayFilterSettings, [](CPacketFindDlg& d) {
            Press(qobject_cast<QPushButton*>(d.Control(kIdCheckAllMessageTypes)));
            Press(d.CancelButton());
        });
        QCOMPARE(size_t(list->RowCount()), wanted);
    }

    void FindByTextSelectsAndHighlights() {
        OpenWindow o;
        CMainFrame& w = o.w;
        CQXLogView* list = w.LogView();
        // Large enough for text pixels of the pure find colours.
        QFont font = list->font();
        font.setPixelSize(22);
        font.setBold(true);
        list->SetListFont(font);
        QVERIFY(w.Action(cmd::kFind) && w.Action(cmd::kFind)->isEnabled());

        o.Drive(cmd::kFind, [](CPacketFindDlg& d) {
            QCOMPARE(d.windowTitle(), QString("Find PD Messages"));
            QVERIFY(d.DirectionGroup()->isVisible());
            Click(BoxOf(d, kIdEnableText));
            QTest::keyClicks(TextBox(d), "Accept");
            Press(d.OkButton());
        });
        QCOMPARE(w.FindCriteria().GetFindText(), std::string("Accept"));
        // Forward from no selection: the first Accept after row 0.
        int first = -1;
        for (int r = 1; r < list->RowCount() && first < 0; ++r)
            if (list->CellText(r, kColumnMessageType) == "Accept") first = r;
        QVERIFY(first > 0);
        QCOMPARE(list->SelectedRow(), first);
        const CCCPacket* found = list->GetSelectedPacket();
        QCOMPARE(w.FindCriteria().FindMatchColumn(*found, false), int32_t(kColumnMessageType));

        // The found row's Type cell carries the green match and the red-on-green text; its other cells
        // neither.
        list->viewport()->repaint();
        const QImage image = list->viewport()->grab().toImage();
        auto cell = [&](int id) { return list->visualRect(list->model()->index(first, list->ListColumnOfId(id))); };
        QVERIFY(CountColour(image, cell(kColumnMessageType), QColor(0, 255, 0)) > 20);
        QVERIFY(CountColour(image, cell(kColumnMessageType), QColor(190, 0, 0)) > 5);
        QCOMPARE(CountColour(image, cell(kColumnTimestamp), QColor(0, 255, 0)), 0);
        QCOMPARE(CountColour(image, cell(kColumnOrderedSet), QColor(0, 255, 0)), 0);
        QVERIFY(CountColour(image, cell(kColumnTimestamp), QColor(178, 178, 255)) > 20);

        // Find Next goes on; a Backward find from there comes back to the first.
        w.ExecuteCommand(cmd::kFindNext);
        const int second = list->SelectedRow();
        QVERIFY(second > first);
        QCOMPARE(list->CellText(second, kColumnMessageType), QString("Accept"));
        o.Drive(cmd::kFind, [](CPacketFindDlg& d) {
            QVERIFY(TextBox(d)->isEnabled());
            QCOMPARE(TextBox(d)->text(), QString("Accept"));
            Click(qobject_cast<QRadioButton*>(d.Control(kIdBackward)));
            Press(d.OkButton());
        });
        QCOMPARE(list->SelectedRow(), first);

        // A cancelled find neither moves nor searches.
        o.Drive(cmd::kFind, [](CPacketFindDlg& d) { Press(d.CancelButton()); });
        QCOMPARE(list->SelectedRow(), first);
        QVERIFY(o.f.messages.empty());
    }

    void CommandsInMenuToolbarAndKeys() {
        OpenWindow o;
        CMainFrame& w = o.w;
        // Toolbar: ... | Find, Find Prev, Find Next | Display Filter Settings, Disable Display Filters | ...
        const QList<QAction*> bar = w.findChild<QToolBar*>("Standard")->actions();
        const qsizetype find = bar.indexOf(w.Action(cmd::kFind));
        QVERIFY(find > 0 && find + 6 < bar.size());
        QVERIFY(bar[find - 1]->isSeparator());
        QCOMPARE(bar[find + 1], w.Action(cmd::kFindPrev));
        QCOMPARE(bar[find + 2], w.Action(cmd::kFindNext));
        QVERIFY(bar[find + 3]->isSeparator());
        QCOMPARE(bar[find + 4], w.Action(cmd::kDisplayFilterSettings));
        QCOMPARE(bar[find + 5], w.Action(cmd::kDisableDisplayFilters));
        QVERIFY(bar[find + 6]->isSeparator());
        QCOMPARE(w.Action(cmd::kDisplayFilterSettings)->statusTip(), QString("Conigure Display Filter Settings"));
        QCOMPARE(w.Action(cmd::kDisplayFilterSettings)->toolTip(), QString("Display Filter Settings"));
        QCOMPARE(w.Action(cmd::kFind)->toolTip(), QString("Find"));
        // Each button's tip says what it does.
        QCOMPARE(w.Action(cmd::kFindPrev)->toolTip(), QString("Find Prev"));
        QCOMPARE(w.Action(cmd::kFindPrev)->statusTip(), QString("Find Previous PD Message"));
        QCOMPARE(w.Action(cmd::kFindNext)->toolTip(), QString("Find Next"));
        QCOMPARE(w.Action(cmd::kFindNext)->statusTip(), QString("Find Next PD Message"));

        QStringList pd;
        for (QAction* m : w.menuBar()->actions())
            if (m->text() == "&PD Message")
                for (QAction* a : m->menu()->actions()) pd << (a->isSeparator() ? QString("-") : a->text());
        QCOMPARE(pd, (QStringList{"&Find\tCtrl+F", "Find &Prev\tShift+F3", "Find &Next\tF3", "-", "&Auto Scroll", "-",
                                  "Display Filter Settings", "Disable Display Filters", "-", "Column Settings",
                                  "Font Settings"}));

        // Ctrl+F opens the find dialog.
        bool opened = false;
        w.execToolDialog = [&](QDialog& d) {
            opened = qobject_cast<CPacketFindDlg*>(&d) != nullptr;
            return int(QDialog::Rejected);
        };
        w.activateWindow();
        if (!QTest::qWaitForWindowActive(&w)) QSKIP("no active window on this platform");
        QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(opened);

        // F3 finds forward, Shift+F3 backward, as their menu items say.
        CQXLogView* list = w.LogView();
        CFindCriteria& criteria = w.FindCriteriaForEdit();
        criteria.enableText = true;
        criteria.text = "PS_RDY";
        std::vector<int> rows;
        for (int r = 0; r < list->RowCount(); ++r)
            if (criteria.FindMatchColumn(*list->PacketOfRow(r), false) != -1) rows.push_back(r);
        QVERIFY(rows.size() >= 2);
        QTest::keyClick(&w, Qt::Key_F3);
        QCOMPARE(list->SelectedRow(), rows[0]);
        QTest::keyClick(&w, Qt::Key_F3);
        QCOMPARE(list->SelectedRow(), rows[1]);
        QTest::keyClick(&w, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(list->SelectedRow(), rows[0]);
    }

    void Screenshots() {
        TempDir dir;
        CQXDoc doc;
        QVERIFY(doc.OpenDocument(DemoFile(dir, 3)));
        for (const auto mode : {CFindCriteria::kFind, CFindCriteria::kDisplayFilter}) {
            CFindCriteria record(mode);
            record.statistics = &doc.store.tallies;
            CPacketFindDlg d(record);
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            const QImage image = d.grab().toImage();
            const std::string path = guitest::OutputDir() + "/" +
                                     (mode == CFindCriteria::kFind ? "find-dialog" : "display-filter-dialog") + ".png";
            QVERIFY(image.save(QString::fromStdString(path)));
            QVERIFY(guitest::Busyness(image, 2) > 0.02);
            // Every check box shows its whole text.
            for (QCheckBox* b : d.findChildren<QCheckBox*>())
                QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(b->text()));
            qInfo("screenshot: %s", path.c_str());
        }
    }
};

AMBRIO_GUI_TEST(FindDialogTest)
#include "FindDialogTest.moc"
