// The packet list: rows and idle times as the store grows, the display filter, stored texts, sorting,
// Find Next/Prev, bookmarks and markers, the time-stamp origin, auto scroll, the painted rows and the
// column layout written back to the settings.
#include "GuiTest.h"

#include "FakeViewHost.h"
#include "QXLogView.h"
#include "support/Traffic.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kGoodCrc = 1, kAccept = 3, kPing = 5, kPsRdy = 6, kGetSourceCap = 7, kSoftReset = 13;
constexpr int kSourceCapabilities = 1, kRequest = 2;

std::vector<uint8_t> Message(int type, bool fromSource, int id, const std::vector<uint32_t>& objects = {}) {
    traffic::Header h;
    h.type = type;
    h.source = h.dfp = fromSource;
    h.id = id;
    h.objects = int(objects.size());
    std::vector<uint8_t> b = traffic::Bytes(h.Word());
    for (uint32_t o : objects)
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(o >> (8 * i)));
    return b;
}

// A record stream of PD traffic, 300 µs between the end of one packet and the start of the next.
class Capture {
public:
    Capture() : encoder({}, enc::AppendTo(stream)) {
        enc::VbusSample s;
        s.vbusVoltage = 5000;
        encoder.AddVbusSample(s);
    }
    void Send(const std::vector<uint8_t>& bytes, int32_t kind = kKindSop, bool badCrc = false) {
        enc::FrameOptions o;
        o.corruptCrc = badCrc;
        const enc::PlacedFrame f = encoder.AddMessage(0, t, kind, bytes, o);
        t = double(f.lastTick - encoder.OriginTick()) * encoder.Divisor() / 48.0 + 300;
        encoder.AdvanceTo(t);
    }
    const std::vector<uint8_t>& Finish() {
        encoder.Finish(t + 100);
        return stream;
    }

private:
    std::vector<uint8_t> stream;
    enc::CRecordEncoder encoder;
    double t = 1000;
};

// The standard traffic, by row in store order:
//  0 Source_Capabilities  1 GoodCRC   2 Request   3 GoodCRC   4 Accept   5 GoodCRC   6 PS_RDY
//  7 GoodCRC   8 Ping   9 GoodCRC   10 Soft_Reset   11 Hard Reset   12 Get_Source_Cap (bad CRC)
//  13 Accept
constexpr int kStandardCount = 14;
void SendStandard(Capture& c) {
    c.Send(Message(kSourceCapabilities, true, 0,
                   {0x0801912C, 0x0002D12C, 0x0003C0C8, 0x0004B0C8, 0x00064064, 0x0007D064, 0x0008C064}));
    c.Send(Message(kGoodCrc, false, 0));
    c.Send(Message(kRequest, false, 0, {0x1304B12C}));
    c.Send(Message(kGoodCrc, true, 0));
    c.Send(Message(kAccept, true, 1));
    c.Send(Message(kGoodCrc, false, 1));
    c.Send(Message(kPsRdy, true, 2));
    c.Send(Message(kGoodCrc, false, 2));
    c.Send(Message(kPing, true, 3));
    c.Send(Message(kGoodCrc, false, 3));
    c.Send(Message(kSoftReset, false, 1));
    c.Send(traffic::Bytes(0), kKindHardReset);
    c.Send(Message(kGetSourceCap, false, 2), kKindSop, true);
    c.Send(Message(kAccept, true, 4));
}

std::vector<uint8_t> StandardStream(int repeat = 1) {
    Capture c;
    for (int i = 0; i < repeat; ++i) SendStandard(c);
    return c.Finish();
}

QFont TestFont(int pixels = 12, bool bold = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QString Latin(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

int TypeBox(MessageFamily family, int code) {
    return MessageTypeBoxIndex(family, code);
}

// A host with a document, and the list as the main window creates it.
struct Fixture {
    CFakeViewHost host;
    std::unique_ptr<CQXLogView> view;

    Fixture() { host.listFont = TestFont(); }
    ~Fixture() {
        host.views.clear();
        host.forgetRows = nullptr;
        host.selectedPacket = nullptr;
    }

    CCaptureStore& Store() { return host.doc.store; }
    CCCPacket* Packet(size_t i) { return host.doc.store.PacketAt(i); }
    void Decode(const std::vector<uint8_t>& stream) {
        QCOMPARE(Store().DecodeChunk(stream.data(), stream.size(), 0), stream.size());
    }
    CQXLogView& Open(int width = 900, int height = 400) {
        view = std::make_unique<CQXLogView>(host);
        host.views.push_back(view.get());
        host.packetList = view.get();
        host.forgetRows = [this] { view->ForgetRows(); };
        host.selectedPacket = [this] { return view->GetSelectedPacket(); };
        view->resize(width, height);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get())) qWarning("list window not exposed");
        view->OnInitialUpdate();
        return *view;
    }
    // Shows only these column ids, left to right.
    void ShowColumns(const std::vector<int>& ids) {
        for (auto& r : host.settings.columns) r.visible = false;
        int position = 0;
        for (int id : ids) {
            host.settings.columns[size_t(id)].visible = true;
            host.settings.columns[size_t(id)].position = position++;
        }
    }
    QRect Cell(int row, int columnId) const {
        return view->visualRect(view->model()->index(row, view->ListColumnOfId(columnId)));
    }
    QImage Grab() const { return view->viewport()->grab().toImage(); }
};

bool RowFullyVisible(const CQXLogView& v, int row) {
    const QRect r = v.visualRect(v.model()->index(row, 0));
    return r.isValid() && v.viewport()->rect().contains(r);
}

bool RowPartlyVisible(const CQXLogView& v, int row) {
    const QRect r = v.visualRect(v.model()->index(row, 0));
    return r.isValid() && v.viewport()->rect().intersects(r);
}

QColor Pixel(const QImage& image, QPoint p) {
    return QColor(image.pixel(p));
}

int CountColour(const QImage& image, const QRect& area, const QColor& colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (QColor(image.pixel(x, y)) == colour) ++n;
    return n;
}

// Left and right edge of everything in the area that is not the background colour; (-1, -1) if none.
std::pair<int, int> InkExtent(const QImage& image, const QRect& area, const QColor& background) {
    int left = -1, right = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (QColor(image.pixel(x, y)) != background) {
                if (left < 0 || x < left) left = x;
                right = std::max(right, x);
            }
    return {left, right};
}

// The commands the list enables, in the context menu's order.
QString EnabledCommands(const CQXLogView& v) {
    const uint32_t ids[] = {32782, 32783, 32797, 32791, 32792, 32793, 32794, 32784, 32785, 32811, 32810};
    QStringList on;
    for (uint32_t id : ids)
        if (v.IsCommandEnabled(id)) on << QString::number(id);
    return on.join(' ');
}

// The plain way: cut one character at a time until the prefix and "..." fit.
QString FitOneByOne(const QString& text, int width, int margin, const QFontMetrics& fm) {
    if (text.isEmpty() || fm.horizontalAdvance(text) + margin <= width) return text;
    if (text.size() < 2) return text;
    for (qsizetype n = text.size() - 1; n >= 1; --n) {
        const QString cut = text.left(n);
        if (fm.horizontalAdvance(cut) + fm.horizontalAdvance(QStringLiteral("...")) + margin <= width)
            return cut + QStringLiteral("...");
    }
    return QStringLiteral("...");
}

} // namespace

class LogViewTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        CQXLogView::lastSortColumn = 0;
        CQXLogView::lastSortDescending = false;
        CQXLogView::lastAutoScrollCount = 0;
    }

    void rowBuildAndIdleTimes_data() {
        QTest::addColumn<bool>("hideGoodCrc");
        QTest::addColumn<bool>("everyColumnHidden");
        QTest::addColumn<bool>("capturing");
        QTest::newRow("every packet") << false << false << false;
        QTest::newRow("GoodCRC hidden by the display filter") << true << false << false;
        QTest::newRow("every column hidden") << false << true << false;
        QTest::newRow("while capturing") << false << false << true;
    }
    void rowBuildAndIdleTimes() {
        QFETCH(bool, hideGoodCrc);
        QFETCH(bool, everyColumnHidden);
        QFETCH(bool, capturing);
        Fixture f;
        f.Decode(StandardStream());
        QCOMPARE(int(f.Store().PacketCount()), kStandardCount);
        if (hideGoodCrc) {
            f.host.filter.displayFilterEnabled = true;
            f.host.filter.messageTypes[size_t(TypeBox(MessageFamily::Control, kGoodCrc))] = false;
        }
        f.ShowColumns(everyColumnHidden ? std::vector<int>{} : std::vector<int>{0, 1, 2, 11});
        f.host.capturing = capturing;
        for (size_t i = 0; i < f.Store().PacketCount(); ++i) f.Packet(i)->idleTime = -12345;
        CQXLogView& v = f.Open();

        std::vector<const CCCPacket*> expected;
        for (size_t i = 0; i < f.Store().PacketCount(); ++i) {
            const CCCPacket* p = f.Packet(i);
            if (everyColumnHidden || (hideGoodCrc && p->GetMessageTypeText() == "GoodCRC")) continue;
            expected.push_back(p);
        }
        QCOMPARE(v.RowCount(), int32_t(expected.size()));
        for (int32_t r = 0; r < v.RowCount(); ++r) {
            QCOMPARE(v.PacketOfRow(r), expected[size_t(r)]);
            const CCCPacket& p = *expected[size_t(r)];
            QCOMPARE(v.CellText(r, 0), QString::number(p.index));
            QCOMPARE(v.CellText(r, 1), Latin(FormatTimeText(p.idleTime)));
            QCOMPARE(v.CellText(r, 2), Latin(FormatTimeText(p.startTime)));
            QCOMPARE(v.CellText(r, 11), Latin(p.GetColumnText(11, false)));
        }
        QVERIFY(!v.PacketOfRow(v.RowCount()));
        QCOMPARE(v.CellText(0, 21), QString()); // not shown

        // Every packet has its idle time, shown or not: the first from the origin, the others from the
        // end of the packet before it in the store, 300 µs in this traffic.
        QCOMPARE(f.Packet(0)->idleTime, f.Packet(0)->startTime);
        for (size_t i = 1; i < f.Store().PacketCount(); ++i) {
            const int64_t idle = f.Packet(i)->idleTime;
            QVERIFY2(idle >= 298 && idle <= 302, qPrintable(QString("packet %1: %2").arg(i).arg(idle)));
        }
        QCOMPARE(f.host.status, capturing ? std::string() : std::string("Building PD Messages... 100%"));
    }

    void incrementalBuild() {
        const std::vector<uint8_t> stream = StandardStream(3);
        Fixture whole;
        whole.Decode(stream);
        whole.Open();

        Fixture f;
        CQXLogView& v = f.Open();
        QCOMPARE(v.RowCount(), 0);
        const size_t half = stream.size() / 2 / 64 * 64;
        const size_t used = f.Store().DecodeChunk(stream.data(), half, 0);
        f.host.UpdateAllViews(nullptr, 0);
        const int32_t firstRows = v.RowCount();
        QVERIFY(firstRows > 2 && firstRows < int32_t(whole.Store().PacketCount()));
        QCOMPARE(f.host.status, std::string("Building PD Messages... 100%"));

        // The filter changes between updates: rows already built stay, new packets are filtered.
        f.host.filter.displayFilterEnabled = true;
        f.host.filter.messageTypes[size_t(TypeBox(MessageFamily::Control, kGoodCrc))] = false;
        f.Store().DecodeChunk(stream.data() + used, stream.size() - used, int64_t(used));
        f.host.UpdateAllViews(nullptr, 0);
        QCOMPARE(f.Store().PacketCount(), whole.Store().PacketCount());

        int32_t row = 0;
        for (size_t i = 0; i < f.Store().PacketCount(); ++i) {
            const CCCPacket* p = f.Packet(i);
            QCOMPARE(p->idleTime, whole.Packet(i)->idleTime);
            const bool shown = row < firstRows || p->GetMessageTypeText() != "GoodCRC";
            if (!shown) continue;
            QCOMPARE(v.PacketOfRow(row), p);
            QCOMPARE(v.CellText(row, 0), QString::number(p->index));
            ++row;
        }
        QCOMPARE(v.RowCount(), row);

        // Nothing new: nothing changes.
        f.host.status.clear();
        f.host.UpdateAllViews(nullptr, 0);
        QCOMPARE(v.RowCount(), row);
        QCOMPARE(f.host.status, std::string());
    }

    void removedPacketsRebuildTheList() {
        Fixture f;
        f.Decode(StandardStream(4));
        CQXLogView& v = f.Open();
        v.selectRow(30);
        QCOMPARE(v.SelectedRow(), 30);

        StoreLimits limits;
        limits.packetLimit = 20;
        limits.packetAutoRemove = true;
        f.Store().SetLimits(limits);
        f.Store().markerAPacket = f.Packet(50);
        f.Store().EnforceLimits();
        QVERIFY(f.Store().packetsRemoved);
        QCOMPARE(int(f.Store().PacketCount()), 20);

        f.host.UpdateAllViews(nullptr, 0);
        QVERIFY(!f.Store().packetsRemoved);
        QCOMPARE(v.RowCount(), 20);
        for (int32_t r = 0; r < 20; ++r) QCOMPARE(v.PacketOfRow(r), f.Packet(size_t(r)));
        // Built again from the start: the first remaining packet is measured from the origin.
        QCOMPARE(f.Packet(0)->idleTime, f.Packet(0)->startTime);
        QCOMPARE(v.CellText(0, 0), QStringLiteral("0"));
        QCOMPARE(v.SelectedRow(), -1);
        QVERIFY(!v.selectionModel()->hasSelection());
        QCOMPARE(v.MarkerARow(), int32_t(f.Store().markerAPacket->index));
    }

    void columnsFromSettings() {
        Fixture f;
        f.Decode(StandardStream());
        auto& c = f.host.settings.columns;
        for (auto& r : c) r = {false, 50, 37};
        c[2] = {true, 130, 0};
        c[0] = {true, 45, 5};
        c[11] = {true, 99, 5}; // same position as id 0, which comes first
        c[21] = {false, 300, 3};
        c[5] = {true, 77, 36};
        f.host.settings.vbusCurrDirReverse = true;
        CQXLogView& v = f.Open();

        QCOMPARE(v.model()->columnCount(), 3);
        const int ids[] = {2, 0, 5};
        for (int column = 0; column < 3; ++column) {
            QCOMPARE(v.ListColumnOfId(ids[column]), column);
            QCOMPARE(v.model()->headerData(column, Qt::Horizontal).toString(),
                     QString::fromLatin1(kColumns[ids[column]].header));
            QCOMPARE(v.columnWidth(column), c[size_t(ids[column])].width);
        }
        QCOMPARE(v.ListColumnOfId(11), -1);
        QCOMPARE(v.ListColumnOfId(21), -1);
        QCOMPARE(v.ListColumnOfId(38), -1);
        // The current direction setting reaches the texts.
        QCOMPARE(v.CellText(0, 5), Latin(f.Packet(0)->GetColumnText(5, true)));
        QVERIFY(v.CellText(0, 5) != Latin(f.Packet(0)->GetColumnText(5, false)));

        // A new set-up keeps the selected packet selected, unless it lost its row.
        v.selectRow(6);
        c[11] = {true, 99, 1};
        v.SetupColumns();
        QCOMPARE(v.ListColumnOfId(11), 1);
        QCOMPARE(v.SelectedRow(), 6);
        QCOMPARE(v.GetSelectedPacket(), f.Packet(6));
        QVERIFY(v.selectionModel()->isRowSelected(6, {}));

        v.selectRow(5); // a GoodCRC
        f.host.filter.displayFilterEnabled = true;
        f.host.filter.messageTypes[size_t(TypeBox(MessageFamily::Control, kGoodCrc))] = false;
        v.SetupColumns();
        QCOMPARE(v.SelectedRow(), -1);
        QVERIFY(!v.GetSelectedPacket());
        QVERIFY(!v.selectionModel()->hasSelection());
    }

    void longTextsAreStoredShortened_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("storedLength");
        // The BMC text is one digit per bit and " (Nbits)".
        QTest::newRow("260 characters kept") << 250 << 260;
        QTest::newRow("261 characters shortened") << 251 << 243;
        QTest::newRow("whole packet") << 0 << 243;
    }
    void longTextsAreStoredShortened() {
        QFETCH(int, bits);
        QFETCH(int, storedLength);
        Fixture f;
        f.Decode(StandardStream());
        CCCPacket& p = *f.Packet(0);
        QVERIFY(p.bitCount > 260);
        if (bits) p.bitCount = bits;
        f.ShowColumns({0, 32});
        CQXLogView& v = f.Open();
        const QString full = Latin(p.GetColumnText(32, false));
        const QString stored = v.CellText(0, 32);
        QCOMPARE(stored.size(), storedLength);
        if (full.size() <= 260)
            QCOMPARE(stored, full);
        else
            QCOMPARE(stored, full.left(120) + QStringLiteral("...") + full.right(120));
    }

    void sortByHeaderClick_data() {
        QTest::addColumn<QList<int>>("clickedIds");
        QTest::addColumn<QList<bool>>("descending");
        QTest::newRow("same header twice") << QList<int>{11, 11} << QList<bool>{false, true};
        QTest::newRow("then another header") << QList<int>{11, 11, 2} << QList<bool>{false, true, false};
        QTest::newRow("first click on list column 0") << QList<int>{0, 0} << QList<bool>{true, false};
        QTest::newRow("text then number") << QList<int>{21, 0, 11} << QList<bool>{false, false, false};
    }
    void sortByHeaderClick() {
        QFETCH(QList<int>, clickedIds);
        QFETCH(QList<bool>, descending);
        Fixture f;
        f.Decode(StandardStream(8));
        f.ShowColumns({0, 2, 11, 21});
        CQXLogView& v = f.Open(900, 250);
        const CCCPacket* chosen = f.Packet(20); // PS_RDY of the second round
        v.selectRow(20);
        QHeaderView* header = v.horizontalHeader();

        for (int k = 0; k < clickedIds.size(); ++k) {
            const int id = clickedIds[k];
            const int column = v.ListColumnOfId(id);
            const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                            header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
            QCOMPARE(CQXLogView::lastSortColumn, column);
            QCOMPARE(CQXLogView::lastSortDescending, descending[k]);

            for (int32_t r = 1; r < v.RowCount(); ++r) {
                const CCCPacket* a = v.PacketOfRow(descending[k] ? r : r - 1);
                const CCCPacket* b = v.PacketOfRow(descending[k] ? r - 1 : r);
                if (kColumns[id].NumericSort())
                    QVERIFY(a->GetColumnSortKey(id) <= b->GetColumnSortKey(id));
                else // byte order of these ASCII texts is their UTF-16 order
                    QVERIFY2(a->GetColumnText(id, false) <= b->GetColumnText(id, false),
                             (a->GetColumnText(id, false) + " / " + b->GetColumnText(id, false)).c_str());
            }
            QCOMPARE(v.RowCount(), int32_t(f.Store().PacketCount()));
            // The texts went with their rows.
            for (int32_t r = 0; r < v.RowCount(); ++r)
                QCOMPARE(v.CellText(r, 0), QString::number(v.PacketOfRow(r)->index));
            QCOMPARE(v.GetSelectedPacket(), chosen);
            QVERIFY(v.selectionModel()->isRowSelected(v.SelectedRow(), {}));
            QVERIFY(RowFullyVisible(v, v.SelectedRow()));
        }
        // The store keeps its order; a new set-up lists it so again.
        v.SetupColumns();
        for (int32_t r = 0; r < v.RowCount(); ++r) QCOMPARE(v.PacketOfRow(r), f.Packet(size_t(r)));
    }

    void sortOrderIsOrdinal() {
        Fixture f;
        f.Decode(StandardStream());
        f.ShowColumns({0, 11});
        CQXLogView& v = f.Open();
        v.SortByListColumn(v.ListColumnOfId(0)); // descending: 13, 12, ..., 10, 9, ...
        QCOMPARE(v.CellText(0, 0), QStringLiteral("13"));
        QCOMPARE(v.CellText(4, 0), QStringLiteral("9")); // as numbers, not as texts
        v.SortByListColumn(v.ListColumnOfId(11));        // ascending by type text, case counts
        QStringList types;
        for (int32_t r = 0; r < v.RowCount(); ++r) types << v.CellText(r, 11);
        // Upper case sorts before lower case: "PS_RDY" before "Ping".
        const QString psRdy = Latin(f.Packet(6)->GetColumnText(11, false));
        const QString ping = Latin(f.Packet(8)->GetColumnText(11, false));
        QCOMPARE(psRdy, QStringLiteral("PS_RDY"));
        QVERIFY(ping.startsWith(QStringLiteral("Ping")));
        QVERIFY(types.indexOf(psRdy) < types.indexOf(ping));
    }

    void findInList_data() {
        QTest::addColumn<int>("messageType"); // control message code; 0 = Source_Capabilities
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<int>("found"); // -1: "Message Not Found."
        QTest::newRow("next without selection") << kAccept << -1 << true << 4;
        QTest::newRow("next after a match") << kAccept << 4 << true << 13;
        QTest::newRow("next after the last match") << kAccept << 13 << true << -1;
        QTest::newRow("prev from the end") << kAccept << 13 << false << 4;
        QTest::newRow("prev before the first match") << kAccept << 4 << false << -1;
        QTest::newRow("prev without selection") << kAccept << -1 << false << -1;
        QTest::newRow("row 0 is skipped without selection") << 0 << -1 << true << -1;
        QTest::newRow("row 0 found backwards") << 0 << 3 << false << 0;
    }
    void findInList() {
        QFETCH(int, messageType);
        QFETCH(int, selected);
        QFETCH(bool, forward);
        QFETCH(int, found);
        Fixture f;
        f.Decode(StandardStream());
        if (messageType)
            f.host.find.messageTypes[size_t(TypeBox(MessageFamily::Control, messageType))] = true;
        else
            f.host.find.messageTypes[size_t(TypeBox(MessageFamily::Data, kSourceCapabilities))] = true;
        CQXLogView& v = f.Open(900, 120);
        if (selected >= 0) v.selectRow(selected);
        QCOMPARE(v.SelectedRow(), selected);
        const int updates = f.host.updates;

        v.OnCommand(forward ? CQXLogView::kCmdFindNext : CQXLogView::kCmdFindPrev);
        if (found < 0) {
            QVERIFY(f.host.messages == std::vector<std::string>{"Message Not Found."});
            QCOMPARE(v.SelectedRow(), selected);
            QCOMPARE(f.host.updates, updates);
            return;
        }
        QVERIFY(f.host.messages.empty());
        QCOMPARE(v.SelectedRow(), found);
        QCOMPARE(v.currentIndex().row(), found);
        QCOMPARE(v.selectionModel()->selectedRows().size(), 1);
        QCOMPARE(f.host.updates, updates + 1);
        QCOMPARE(f.host.SelectedPacket(), f.Packet(size_t(found)));
        QVERIFY(RowFullyVisible(v, found));
    }

    void markersAndBookmarks() {
        Fixture f;
        f.Decode(StandardStream());
        CQXLogView& v = f.Open();
        CQXDoc& doc = f.host.doc;
        QCOMPARE(EnabledCommands(v), QStringLiteral("32784 32811 32810"));
        v.OnCommand(CQXLogView::kCmdSetMarkerA); // no context row: nothing
        QVERIFY(!doc.marksChanged);
        QCOMPARE(f.host.graphRepaints, 0);
        QVERIFY(!f.Store().markerAPacket);

        struct Step {
            int32_t context;
            uint32_t command;
            const char* enabledAfter;
        };
        const Step steps[] = {
            {4, CQXLogView::kCmdSetMarker, "32783 32797 32791 32793 32784 32785 32811 32810"},
            {4, CQXLogView::kCmdSetMarkerA, "32783 32797 32791 32792 32793 32784 32785 32811 32810"},
            {4, CQXLogView::kCmdSetMarkerB, "32783 32797 32791 32792 32793 32794 32784 32785 32811 32810"},
            {6, CQXLogView::kCmdSetMarkerA, "32782 32797 32791 32792 32793 32794 32784 32785 32811 32810"},
            {6, CQXLogView::kCmdClearMarkerA, "32782 32797 32791 32793 32794 32784 32785 32811 32810"},
            {4, CQXLogView::kCmdClearMarker, "32782 32791 32793 32794 32784 32785 32811 32810"},
            {-1, CQXLogView::kCmdClearMarkerB, "32784 32811 32810"},
        };
        int repaints = 0;
        for (const Step& s : steps) {
            doc.marksChanged = doc.modified = false;
            v.SetContextRow(s.context);
            QVERIFY(v.IsCommandEnabled(s.command));
            v.OnCommand(s.command);
            QVERIFY(doc.marksChanged);
            QVERIFY(doc.modified);
            QCOMPARE(f.host.graphRepaints, ++repaints);
            QCOMPARE(EnabledCommands(v), QString::fromLatin1(s.enabledAfter));
            if (s.command == CQXLogView::kCmdSetMarkerB) {
                QCOMPARE(v.MarkerARow(), 4);
                QCOMPARE(v.MarkerBRow(), 4);
                QCOMPARE(f.Store().markerAPacket, f.Packet(4));
                QCOMPARE(f.Store().markerBPacket, f.Packet(4));
                QVERIFY(f.Packet(4)->bookmarked);
            }
        }
        QCOMPARE(v.MarkerARow(), -1);
        QCOMPARE(v.MarkerBRow(), -1);
        QVERIFY(!f.Store().markerAPacket);
        QVERIFY(!f.Store().markerBPacket);
        QVERIFY(!f.Packet(4)->bookmarked);

        // Disabled commands do nothing.
        doc.marksChanged = false;
        v.SetContextRow(2);
        v.OnCommand(CQXLogView::kCmdClearMarker);
        v.OnCommand(CQXLogView::kCmdClearAllMarkers);
        QVERIFY(!doc.marksChanged);
        QCOMPARE(f.host.graphRepaints, repaints);
    }

    void markerRowsFollowTheBuild() {
        Fixture f;
        f.Decode(StandardStream());
        f.Store().markerAPacket = f.Packet(6);
        f.Store().markerBPacket = f.Packet(5); // a GoodCRC
        CQXLogView& v = f.Open();
        QCOMPARE(v.MarkerARow(), 6);
        QCOMPARE(v.MarkerBRow(), 5);
        f.host.filter.displayFilterEnabled = true;
        f.host.filter.messageTypes[size_t(TypeBox(MessageFamily::Control, kGoodCrc))] = false;
        v.SetupColumns();
        QCOMPARE(v.MarkerARow(), 3); // rows 0, 2, 4, 6 of the store
        QCOMPARE(v.MarkerBRow(), -1);
        QVERIFY(!v.IsCommandEnabled(CQXLogView::kCmdClearMarkerB));
        v.SortByListColumn(0); // descending: the marker row moves with its packet
        QCOMPARE(v.PacketOfRow(v.MarkerARow()), f.Packet(6));
    }

    void clearAllMarkersKeepsHiddenBookmarks() {
        Fixture f;
        f.Decode(StandardStream());
        f.host.filter.displayFilterEnabled = true;
        f.host.filter.messageTypes[size_t(TypeBox(MessageFamily::Control, kGoodCrc))] = false;
        f.Packet(1)->bookmarked = true; // hidden
        CQXLogView& v = f.Open();
        QVERIFY(!v.IsCommandEnabled(CQXLogView::kCmdClearAllMarkers));
        v.SetContextRow(0);
        v.OnCommand(CQXLogView::kCmdSetMarker);
        v.SetContextRow(2);
        v.OnCommand(CQXLogView::kCmdSetMarker);
        QVERIFY(f.Packet(0)->bookmarked && f.Packet(4)->bookmarked);
        QVERIFY(v.IsCommandEnabled(CQXLogView::kCmdClearAllMarkers));
        v.OnCommand(CQXLogView::kCmdClearAllMarkers);
        QVERIFY(!f.Packet(0)->bookmarked);
        QVERIFY(!f.Packet(4)->bookmarked);
        QVERIFY(f.Packet(1)->bookmarked);
        QVERIFY(!v.IsCommandEnabled(CQXLogView::kCmdClearAllMarkers));
    }

    void timeOriginRebuildsTheRows() {
        Fixture f;
        f.Decode(StandardStream(6));
        CQXLogView& v = f.Open(900, 200);
        const CCCPacket* p = f.Packet(60);
        v.selectRow(3);
        f.Store().markerAPacket = f.Packet(7);
        v.SetContextRow(60);
        v.OnCommand(CQXLogView::kCmdOriginCurrent);

        QCOMPARE(f.Store().timeOrigin, p->startTime);
        QVERIFY(f.host.doc.marksChanged && f.host.doc.modified);
        QCOMPARE(v.RowCount(), int32_t(f.Store().PacketCount()));
        QCOMPARE(v.CellText(60, 2), Latin(FormatTimeText(0)));
        QCOMPARE(v.CellText(0, 2), Latin(FormatTimeText(f.Packet(0)->startTime - p->startTime)));
        QVERIFY(v.CellText(0, 2).startsWith('-'));
        // Idle times measured against the new origin: the first packet lies before it.
        QCOMPARE(f.Packet(0)->idleTime, f.Packet(0)->startTime - p->startTime);
        QVERIFY(f.Packet(1)->idleTime >= 298 && f.Packet(1)->idleTime <= 302);
        // The selected packet stays selected; the clicked one stays in sight.
        QCOMPARE(v.SelectedRow(), 3);
        QCOMPARE(v.GetSelectedPacket(), f.Packet(3));
        QCOMPARE(v.ContextRow(), -1);
        QCOMPARE(v.MarkerARow(), 7);
        QVERIFY(RowFullyVisible(v, 60));
        QVERIFY(!RowPartlyVisible(v, 0));

        v.OnCommand(CQXLogView::kCmdOriginAbsolute);
        QCOMPARE(f.Store().timeOrigin, 0);
        QCOMPARE(v.CellText(60, 2), Latin(FormatTimeText(p->startTime)));
        QCOMPARE(f.Packet(0)->idleTime, f.Packet(0)->startTime);
    }

    void forgetRows() {
        Fixture f;
        f.Decode(StandardStream());
        CQXLogView& v = f.Open();
        f.Store().markerBPacket = f.Packet(2);
        v.SetupColumns();
        v.selectRow(3);
        v.SetContextRow(5);
        v.ForgetRows();
        QCOMPARE(v.RowCount(), 0);
        QCOMPARE(v.SelectedRow(), -1);
        QCOMPARE(v.ContextRow(), -1);
        QCOMPARE(v.MarkerBRow(), -1);
        QVERIFY(!v.selectionModel()->hasSelection());
        QVERIFY(!v.currentIndex().isValid());
        QVERIFY(!v.GetSelectedPacket());
        f.host.UpdateAllViews(nullptr, 0);
        QCOMPARE(v.RowCount(), kStandardCount);
        QCOMPARE(v.MarkerBRow(), 2);
    }

    void autoScroll_data() {
        QTest::addColumn<bool>("flag");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("noRows");
        QTest::addColumn<int>("lastCount"); // -1: the row count
        QTest::addColumn<bool>("scrolls");
        QTest::addColumn<int>("lastCountAfter");
        QTest::newRow("recording, new rows") << true << true << false << 0 << true << -1;
        QTest::newRow("recording, same row count") << true << true << false << -1 << false << -1;
        QTest::newRow("flag off") << false << true << false << 0 << false << 0;
        QTest::newRow("not recording") << true << false << false << 0 << false << 0;
        QTest::newRow("no rows") << true << true << true << 7 << false << 0;
    }
    void autoScroll() {
        QFETCH(bool, flag);
        QFETCH(bool, recording);
        QFETCH(bool, noRows);
        QFETCH(int, lastCount);
        QFETCH(bool, scrolls);
        QFETCH(int, lastCountAfter);
        Fixture f;
        f.Decode(StandardStream(5));
        if (noRows) f.ShowColumns({});
        CQXLogView& v = f.Open(900, 200);
        const int32_t rows = v.RowCount();
        QCOMPARE(rows, noRows ? 0 : 5 * kStandardCount);
        if (rows) QVERIFY(!RowPartlyVisible(v, rows - 1)); // the initial build does not scroll

        f.host.autoScroll = flag;
        f.host.recordingActive = recording;
        CQXLogView::lastAutoScrollCount = lastCount < 0 ? rows : lastCount;
        f.host.UpdateAllViews(nullptr, 0);
        if (rows) QCOMPARE(RowFullyVisible(v, rows - 1), scrolls);
        if (rows) QCOMPARE(RowPartlyVisible(v, 0), !scrolls);
        QCOMPARE(CQXLogView::lastAutoScrollCount, lastCountAfter < 0 ? rows : lastCountAfter);
    }

    void selectionAndDoubleClick() {
        Fixture f;
        f.Decode(StandardStream());
        f.Store().timeOrigin = 1500;
        CQXLogView& v = f.Open();
        const int updates = f.host.updates;
        QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, f.Cell(3, 2).center());
        QCOMPARE(v.SelectedRow(), 3);
        QCOMPARE(f.host.updates, updates + 1);
        QCOMPARE(f.host.SelectedPacket(), f.Packet(3));
        QTest::keyClick(&v, Qt::Key_Down);
        QCOMPARE(v.SelectedRow(), 4);
        QCOMPARE(f.host.updates, updates + 2);

        QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, f.Cell(5, 11).center());
        QTest::mouseDClick(v.viewport(), Qt::LeftButton, {}, f.Cell(5, 11).center());
        QVERIFY(!f.host.graphCentres.empty());
        QCOMPARE(f.host.graphCentres.back(), f.Packet(5)->startTime - 1500);
    }

    void contextMenu() {
        Fixture f;
        f.Decode(StandardStream());
        CQXLogView& v = f.Open();
        QStringList texts;
        QList<bool> enabled;
        QString name;
        bool handled = false, choose = true;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || handled) return;
            handled = true;
            name = menu->objectName();
            texts.clear();
            enabled.clear();
            for (QAction* a : menu->actions()) {
                if (a->isSeparator()) continue;
                texts << a->text();
                enabled << a->isEnabled();
                if (a->menu())
                    for (QAction* s : a->menu()->actions()) {
                        texts << "  " + s->text();
                        enabled << s->isEnabled();
                    }
            }
            if (!choose) {
                menu->close();
                return;
            }
            // The first enabled item, "Set Marker".
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        // A right-button press at a point, and the context menu it opens.
        auto rightClick = [&](QPoint at) {
            handled = false;
            poll.start(20);
            QTest::mousePress(v.viewport(), Qt::RightButton, {}, at);
            if (!handled) {
                QContextMenuEvent e(QContextMenuEvent::Mouse, at, v.viewport()->mapToGlobal(at));
                QApplication::sendEvent(v.viewport(), &e);
            }
            QTest::mouseRelease(v.viewport(), Qt::RightButton, {}, at);
            poll.stop();
        };

        rightClick(f.Cell(2, 11).center());
        QCOMPARE(v.ContextRow(), 2);
        QVERIFY(handled);
        QCOMPARE(name, QStringLiteral("LogView"));
        const QStringList expected = {
            "Set Marker",     "Clear Marker",       "Clear All Markers", "Set Marker A",
            "Clear Marker A", "Set Marker B",       "Clear Marker B",    "Set Time Stamp Origin",
            "  Absolute",     "  Current Position", "Find Next",         "Find Prev",
            "Column Settings"};
        QCOMPARE(texts, expected);
        QCOMPARE(enabled,
                 (QList<bool>{true, false, false, true, false, true, false, true, true, true, true, true, false}));
        QVERIFY(f.Packet(2)->bookmarked);
        QVERIFY(f.host.doc.marksChanged);

        // Below the last row there is no context row.
        choose = false;
        const QPoint below(20, v.viewport()->height() - 3);
        QVERIFY(!v.indexAt(below).isValid());
        rightClick(below);
        QVERIFY(handled);
        QCOMPARE(v.ContextRow(), -1);
        QCOMPARE(enabled, (QList<bool>{false, false, true, false, false, false, false, true, true, false,
                                       true, true, false}));
    }

    void paintedBackgrounds_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QColor>("background");
        QTest::newRow("even row") << 0 << "" << QColor(240, 240, 240);
        QTest::newRow("odd row") << 1 << "" << QColor(255, 255, 255);
        QTest::newRow("selected") << 1 << "selected" << QColor(178, 178, 255);
        QTest::newRow("marker A") << 2 << "A" << QColor(255, 179, 102);
        QTest::newRow("marker B") << 2 << "B" << QColor(255, 128, 192);
        QTest::newRow("markers A and B") << 2 << "A B" << QColor(255, 179, 102);
        QTest::newRow("invalid") << 12 << "" << QColor(255, 128, 128);
        QTest::newRow("Soft_Reset") << 10 << "" << QColor(255, 255, 0);
        QTest::newRow("Hard Reset") << 11 << "" << QColor(255, 255, 0);
        QTest::newRow("bookmarked") << 3 << "bookmark" << QColor(200, 200, 0);
        QTest::newRow("selected over bookmarked") << 3 << "bookmark selected" << QColor(178, 178, 255);
        QTest::newRow("marker B over invalid") << 12 << "B" << QColor(255, 128, 192);
        QTest::newRow("invalid over bookmarked") << 12 << "bookmark" << QColor(255, 128, 128);
        QTest::newRow("reset over bookmarked") << 10 << "bookmark" << QColor(255, 255, 0);
        QTest::newRow("invalid over reset") << 11 << "slow" << QColor(255, 128, 128);
    }
    void paintedBackgrounds() {
        QFETCH(int, row);
        QFETCH(QString, state);
        QFETCH(QColor, background);
        Fixture f;
        f.Decode(StandardStream());
        f.ShowColumns({0, 2, 11});
        CQXLogView& v = f.Open();
        v.SetContextRow(row);
        const QStringList parts = state.split(' ', Qt::SkipEmptyParts);
        if (parts.contains("bookmark")) v.OnCommand(CQXLogView::kCmdSetMarker);
        if (parts.contains("A")) v.OnCommand(CQXLogView::kCmdSetMarkerA);
        if (parts.contains("B")) v.OnCommand(CQXLogView::kCmdSetMarkerB);
        if (parts.contains("selected")) v.selectRow(row);
        if (parts.contains("slow")) f.Packet(size_t(row))->unitInterval = 4.0f; // out of range

        const QImage image = f.Grab();
        for (int id : {0, 2, 11}) {
            const QRect cell = f.Cell(row, id);
            QCOMPARE(Pixel(image, cell.topLeft() + QPoint(1, 1)), background);
            QCOMPARE(Pixel(image, QPoint(cell.right(), cell.top() + 1)), background);
        }
        // The next row keeps its plain colour.
        const QRect next = f.Cell(row + 1, 2);
        if (state.isEmpty() && row < 10)
            QCOMPARE(Pixel(image, next.topLeft() + QPoint(1, 1)),
                     (row + 1) % 2 == 0 ? QColor(240, 240, 240) : QColor(255, 255, 255));
    }

    void paintedTextColours_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("noEdges");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("port 1") << 1 << false << QColor(0, 0, 255);
        QTest::newRow("port 2") << 2 << false << QColor(0, 100, 100);
        QTest::newRow("cable plug") << 3 << false << QColor(100, 100, 0);
        QTest::newRow("no port") << 0 << false << QColor(0, 0, 0);
        QTest::newRow("no edges") << 0 << true << QColor(0, 0, 100);
        QTest::newRow("no edges, port 2") << 2 << true << QColor(0, 100, 100);
        QTest::newRow("unknown port") << 7 << false << QColor(0, 0, 0);
    }
    void paintedTextColours() {
        QFETCH(int, port);
        QFETCH(bool, noEdges);
        QFETCH(QColor, colour);
        Fixture f;
        f.Decode(StandardStream());
        f.host.listFont = TestFont(22, true);
        f.ShowColumns({0, 12});
        CQXLogView& v = f.Open();
        QCOMPARE(v.palette().color(QPalette::Text), QColor(0, 0, 0));
        CCCPacket& p = *f.Packet(8);
        p.port = port;
        if (noEdges) p.intervalCount = 0;

        const QImage image = f.Grab();
        const QColor candidates[] = {QColor(0, 0, 0), QColor(0, 0, 100), QColor(0, 0, 255),
                                     QColor(0, 100, 100), QColor(100, 100, 0)};
        for (int id : {0, 12}) {
            const QRect cell = f.Cell(8, id);
            for (const QColor& c : candidates) QCOMPARE(CountColour(image, cell, c) > 0, c == colour);
        }
    }

    void findHighlighting_data() {
        QTest::addColumn<QString>("text"); // empty: match by the Accept message type box
        QTest::addColumn<bool>("typeFirst");
        QTest::addColumn<bool>("green");
        QTest::addColumn<bool>("red");
        QTest::newRow("type box") << "" << false << true << false;
        QTest::newRow("exact text") << "Accept" << false << true << true;
        QTest::newRow("part of the text") << "cce" << false << true << true;
        QTest::newRow("other case") << "accept" << false << true << false;
        QTest::newRow("type box, first column") << "" << true << false << false;
        QTest::newRow("exact text, first column") << "Accept" << true << false << true;
    }
    void findHighlighting() {
        QFETCH(QString, text);
        QFETCH(bool, typeFirst);
        QFETCH(bool, green);
        QFETCH(bool, red);
        Fixture f;
        f.Decode(StandardStream());
        f.host.listFont = TestFont(22, true);
        if (text.isEmpty()) {
            f.host.find.messageTypes[size_t(TypeBox(MessageFamily::Control, kAccept))] = true;
        } else {
            f.host.find.enableText = true;
            f.host.find.text = text.toStdString();
        }
        f.ShowColumns(typeFirst ? std::vector<int>{11, 0} : std::vector<int>{0, 11});
        f.host.settings.columns[11].width = 200;
        CQXLogView& v = f.Open();
        const QImage image = f.Grab();

        const QRect cell = f.Cell(4, 11); // Accept
        const int textLeft = cell.left() + (typeFirst ? 2 : 6);
        const QColor plain(240, 240, 240);
        // The matched cell's rectangle spans the row's height from the text's left edge.
        QCOMPARE(Pixel(image, QPoint(textLeft + 1, cell.top())), green ? QColor(0, 255, 0) : plain);
        QCOMPARE(Pixel(image, QPoint(textLeft - 1, cell.top())), plain);
        QCOMPARE(Pixel(image, QPoint(cell.right() - 1, cell.top())), plain);
        QCOMPARE(CountColour(image, cell, QColor(190, 0, 0)) > 0, red);
        // A row that does not match shows neither.
        const QRect other = f.Cell(6, 11); // PS_RDY
        QCOMPARE(CountColour(image, other, QColor(0, 255, 0)), 0);
        QCOMPARE(CountColour(image, other, QColor(190, 0, 0)), 0);
        QVERIFY(v.RowCount() > 6);
    }

    void textFitting_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("extra"); // column width = text width + margin + extra
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << "" << -50 << "";
        QTest::newRow("exactly fits") << "Source_Capabilities" << 0 << "Source_Capabilities";
        QTest::newRow("one pixel short") << "Source_Capabilities" << -1 << "Source_Capabi...";
        QTest::newRow("single character") << "W" << -5 << "W";
        QTest::newRow("nothing but dots") << "WW" << -12 << "...";
    }
    void textFitting() {
        QFETCH(QString, text);
        QFETCH(int, extra);
        QFETCH(QString, shown);
        const QFontMetrics fm(TestFont());
        const int width = fm.horizontalAdvance(text) + 12 + extra;
        bool shortened = true;
        const QString result = CQXLogView::FitText(text, width, 12, fm, &shortened);
        if (shown.endsWith(QStringLiteral("...")) && shown.size() > 3) {
            // Where the cut falls depends on the font; it is the longest prefix that fits.
            QVERIFY(result.endsWith(QStringLiteral("...")));
            QVERIFY(text.startsWith(result.chopped(3)));
            const int dots = fm.horizontalAdvance(QStringLiteral("..."));
            QVERIFY(fm.horizontalAdvance(result.chopped(3)) + dots + 12 <= width);
            QVERIFY(fm.horizontalAdvance(text.left(result.size() - 2)) + dots + 12 > width);
        } else {
            QCOMPARE(result, shown);
        }
        QCOMPARE(shortened, result != text);
    }

    void textFittingAgreesWithCuttingOneByOne() {
        const QFontMetrics fm(TestFont(13));
        const QString texts[] = {
            QStringLiteral("Source_Capabilities"),
            QStringLiteral(" 1s 234ms 567us"),
            QStringLiteral("iiiiWWWWiiiiWWWW.,;:mmmm"),
            QString(243, QChar('0')),
            QStringLiteral("[1]:0801912Ch [2]:0002D12Ch [3]:0003C0C8h"),
        };
        for (const QString& text : texts)
            for (int margin : {4, 12})
                for (int width = 0; width <= fm.horizontalAdvance(text) + margin + 2; ++width)
                    QCOMPARE(CQXLogView::FitText(text, width, margin, fm),
                             FitOneByOne(text, width, margin, fm));
    }

    void paintedAlignment_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("placed"); // left, right or centre
        QTest::newRow("time, fits: right") << 2 << 160 << "right";
        QTest::newRow("time, shortened: left") << 2 << 60 << "left";
        QTest::newRow("channel: centre") << 6 << 90 << "centre";
        QTest::newRow("type: left") << 11 << 220 << "left";
        QTest::newRow("first column: left") << 0 << 120 << "left";
    }
    void paintedAlignment() {
        QFETCH(int, id);
        QFETCH(int, width);
        QFETCH(QString, placed);
        Fixture f;
        f.Decode(StandardStream());
        f.ShowColumns(id == 0 ? std::vector<int>{0} : std::vector<int>{0, id});
        f.host.settings.columns[size_t(id)].width = width;
        f.Open();
        const QImage image = f.Grab();
        const QRect cell = f.Cell(4, id);
        const int inset = id == 0 ? 2 : 6;
        const QRect area = cell.adjusted(inset, 0, -inset, 0);
        const auto [left, right] = InkExtent(image, cell, QColor(240, 240, 240));
        QVERIFY(left >= area.left() && right <= area.right());
        // Times begin with blanks: the ink starts after them, within the glyphs' side bearings.
        const QString text = f.view->CellText(4, id);
        qsizetype blanks = 0;
        while (blanks < text.size() && text[blanks] == ' ') ++blanks;
        const int lead =
            left - area.left() - QFontMetrics(f.view->ListFont()).horizontalAdvance(text.left(blanks));
        const QString at =
            QString("ink %1..%2 in %3..%4").arg(left).arg(right).arg(area.left()).arg(area.right());
        if (placed == "left") QVERIFY2(lead >= 0 && lead <= 2, qPrintable(at));
        if (placed == "right") QVERIFY2(area.right() - right <= 2, qPrintable(at));
        if (placed == "centre")
            QVERIFY2(std::abs((left + right) / 2 - area.center().x()) <= 3, qPrintable(at));
        if (placed != "left") QVERIFY2(lead > 12, qPrintable(at));
    }

    void focusRectangle() {
        Fixture f;
        f.Decode(StandardStream());
        CQXLogView& v = f.Open();
        v.selectRow(1);
        v.activateWindow();
        v.setFocus();
        if (!QTest::qWaitForWindowActive(&v) || !v.hasFocus()) QSKIP("no keyboard focus on this platform");
        const QRect cell = f.Cell(1, 0);
        const QColor plain(178, 178, 255);
        const QImage focused = f.Grab();
        v.clearFocus();
        const QImage unfocused = f.Grab();
        const QRect edge(cell.left(), cell.top(), 1, cell.height());
        QVERIFY(CountColour(focused, edge, plain) < cell.height());
        QCOMPARE(CountColour(unfocused, edge, plain), cell.height());
        // The rectangle ends 6 pixels after the text.
        const QRect past(cell.left() + 2 + QFontMetrics(v.ListFont()).horizontalAdvance(v.CellText(1, 0)) + 7,
                         cell.top(), 3, cell.height());
        QCOMPARE(CountColour(focused, past, plain), 3 * cell.height());
    }

    void columnLayoutAndFontGoBack() {
        Fixture f;
        f.Decode(StandardStream());
        CQXLogView& v = f.Open();
        QCOMPARE(v.ListFont(), f.host.listFont.value());
        QHeaderView* header = v.horizontalHeader();
        const int time = v.ListColumnOfId(2), type = v.ListColumnOfId(11);
        header->moveSection(header->visualIndex(type), 0);
        header->resizeSection(time, 171);
        v.SaveColumnLayout();

        const auto& c = f.host.settings.columns;
        QCOMPARE(c[11].position, 0);
        QCOMPARE(c[0].position, 1);
        QCOMPARE(c[2].position, 2);
        QCOMPARE(c[2].width, 171);
        std::set<int32_t> positions;
        int shown = 0;
        for (int id = 0; id < kColumnCount; ++id) {
            positions.insert(c[size_t(id)].position);
            shown += c[size_t(id)].visible ? 1 : 0;
            QCOMPARE(c[size_t(id)].visible, v.ListColumnOfId(id) >= 0);
            if (!c[size_t(id)].visible) QVERIFY(c[size_t(id)].position >= v.model()->columnCount());
        }
        QCOMPARE(int(positions.size()), kColumnCount);
        QCOMPARE(c[1].width, kColumns[1].width); // hidden ids keep their width

        // A new set-up lists the columns in the stored order, with no moved sections left over.
        v.SetupColumns();
        QCOMPARE(v.ListColumnOfId(11), 0);
        QCOMPARE(v.ListColumnOfId(0), 1);
        for (int column = 0; column < v.model()->columnCount(); ++column)
            QCOMPARE(header->visualIndex(column), column);
        QCOMPARE(v.columnWidth(v.ListColumnOfId(2)), 171);

        // Destroying the view writes the layout again and leaves its font behind.
        const QFont font = TestFont(15);
        v.SetListFont(font);
        header->resizeSection(v.ListColumnOfId(2), 133);
        f.host.views.clear();
        f.view.reset();
        QCOMPARE(f.host.settings.columns[2].width, 133);
        QCOMPARE(f.host.listFont.value(), font);

        CQXLogView& again = f.Open();
        QCOMPARE(again.ListFont(), font);
        QCOMPARE(again.ListColumnOfId(11), 0);
        QCOMPARE(again.ListColumnOfId(0), 1);
        QCOMPARE(again.columnWidth(again.ListColumnOfId(2)), 133);
        QCOMPARE(again.horizontalHeader()->visualIndex(again.ListColumnOfId(2)), 2);
    }
};

AMBRIO_GUI_TEST(LogViewTest)
#include "LogViewTest.moc"
