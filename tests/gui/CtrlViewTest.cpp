// The control view: live texts, CC status, VCONN, peak power, button states and commands, layout,
// and the pictures the window draws.
#include "FakeViewHost.h"
#include "GuiTest.h"
#include "Pictures.h"
#include "QXCtrlView.h"
#include "RecordEncoder.h"
#include "support/Traffic.h"

#include <QAbstractButton>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <memory>
#include <vector>

Q_DECLARE_METATYPE(LiveSnapshot)
Q_DECLARE_METATYPE(CaptureExtremes)
Q_DECLARE_METATYPE(DirectionPicture)

namespace {

using Field = CQXCtrlView::Field;

void SetLive(CFakeViewHost& host, const LiveSnapshot& s) {
    host.live.vbusVoltage = s.vbusVoltage;
    host.live.vbusCurrent = s.vbusCurrent;
    host.live.cc1Voltage = s.cc1Voltage;
    host.live.cc1Current = s.cc1Current;
    host.live.cc2Voltage = s.cc2Voltage;
    host.live.cc2Current = s.cc2Current;
}

LiveSnapshot Live(int32_t vbusMv, int32_t vbusMa, int32_t cc1Mv = 0, int32_t cc1Ma = 0, int32_t cc2Mv = 0,
                  int32_t cc2Ma = 0) {
    return LiveSnapshot{vbusMv, vbusMa, cc1Mv, cc1Ma, cc2Mv, cc2Ma};
}

// Decodes VBUS samples (mV, mA) into the store, 1 ms apart.
void DecodeSamples(CCaptureStore& store, const std::vector<std::pair<uint16_t, int32_t>>& samples) {
    std::vector<uint8_t> stream;
    enc::CRecordEncoder encoder({}, enc::AppendTo(stream));
    double t = 0;
    for (const auto& [mv, ma] : samples) {
        enc::VbusSample s;
        s.time = t;
        s.vbusVoltage = mv;
        s.vbusCurrent = ma;
        encoder.AddVbusSample(s);
        t += 1000;
    }
    encoder.Finish(t);
    store.DecodeChunk(stream.data(), stream.size(), 0);
}

bool HasInk(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 128) return true;
    return false;
}

// Arial with a line height (ascent plus descent) of the given pixels, give or take the step between
// two pixel sizes.
bool FontHasHeight(const QFont& font, int height) {
    const int h = QFontMetrics(font).height();
    return font.family() == QStringLiteral("Arial") && h <= height && h >= height - 2;
}

QImage Argb(const QPixmap& pm) {
    return pm.toImage().convertToFormat(QImage::Format_ARGB32);
}

// A shown window holding the view, so that every resize reaches the view at once.
struct ShownView {
    ShownView(CFakeViewHost& host, QSize size) : view(new CQXCtrlView(host, &window)) {
        window.resize(size.width() + 20, 260);
        window.show();
        view->setGeometry(0, 0, size.width(), size.height());
    }
    QWidget window;
    CQXCtrlView* view;
};

const QString kForwardPeak = QStringLiteral("Peak VBUS Power\n  15.00 [W] (5.00 [V] 3.000 [A])\n");
const QString kReversePeak =
    QStringLiteral("Peak VBUS Power (Dir=Rvs)\n  -18.00 [W] (9.00 [V] -2.000 [A])\n");

constexpr Field kValueFields[] = {Field::VbusVoltage, Field::VbusCurrent,  Field::VbusPower,
                                  Field::Cc1Voltage,  Field::Cc1Current,   Field::Cc2Voltage,
                                  Field::Cc2Current,  Field::VconnVoltage, Field::VconnPower};

} // namespace

class CtrlViewTest : public QObject {
    Q_OBJECT

private slots:
    // CC class bounds, all inclusive, seen through the CC status text of either line.
    void ccStatusClasses_data() {
        QTest::addColumn<int>("millivolts");
        QTest::addColumn<QString>("name");
        const struct {
            int mv;
            const char* name;
        } rows[] = {
            {0, ""},
            {249, ""},
            {250, "vRd-USB"},
            {400, "vRd-USB"},
            {610, "vRd-USB"},
            {611, "vRd-Connect"},
            {650, "vRd-Connect"},
            {699, "vRd-Connect"},
            {700, "vRd-1.5"},
            {1160, "vRd-1.5"},
            {1161, "vRd-Connect"},
            {1309, "vRd-Connect"},
            {1310, "vRd-3.0"},
            {2040, "vRd-3.0"},
            {2041, "vRd-Connect"},
            {2100, "vRd-Connect"},
            {2180, "vRd-Connect"},
            {2181, ""},
            {2200, ""},
            {5000, ""},
        };
        for (const auto& r : rows) QTest::addRow("%d mV", r.mv) << r.mv << QString::fromLatin1(r.name);
    }
    void ccStatusClasses() {
        QFETCH(int, millivolts);
        QFETCH(QString, name);
        const QString cc1 = name.isEmpty() ? QString() : name + " (CC1)";
        const QString cc2 = name.isEmpty() ? QString() : name + " (CC2)";
        QCOMPARE(QString::fromStdString(ComputeCtrlTexts(Live(5000, 0, millivolts, 0, 0, 0)).ccStatus), cc1);
        QCOMPARE(QString::fromStdString(ComputeCtrlTexts(Live(5000, 0, 0, 0, millivolts, 0)).ccStatus), cc2);
    }

    // Every text of one set of live readings.
    void liveTexts_data() {
        QTest::addColumn<LiveSnapshot>("live");
        QTest::addColumn<QStringList>("texts"); // in the order of kValueFields
        QTest::addColumn<QString>("ccStatus");
        QTest::addColumn<bool>("directionShown");
        QTest::addColumn<DirectionPicture>("direction");

        QTest::newRow("vRd-USB on CC1, VCONN on CC2")
            << Live(5000, 1000, 400, 0, 5000, 120)
            << QStringList{"5.00 [V]", "1.000 [A]", "5.00 [W]", "0.40 [V]", "0.000 [A]",
                           "5.00 [V]", "0.120 [A]", "5.00 [V]", "0.60 [W]"}
            << "vRd-USB (CC1)" << true << DirectionPicture::PlugToReceptacle;
        QTest::newRow("vRd-1.5 on CC2, VCONN on CC1")
            << Live(9000, 2000, 5000, 200, 1000, 0)
            << QStringList{"9.00 [V]", "2.000 [A]", "18.00 [W]", "5.00 [V]", "0.200 [A]",
                           "1.00 [V]", "0.000 [A]", "5.00 [V]",  "1.00 [W]"}
            << "vRd-1.5 (CC2)" << true << DirectionPicture::PlugToReceptacle;
        QTest::newRow("reverse current turns the CC currents")
            << Live(5000, -1500, 1700, 10, 0, 0)
            << QStringList{"5.00 [V]", "1.500 [A]", "7.50 [W]", "1.70 [V]", "-0.010 [A]",
                           "0.00 [V]", "0.000 [A]", "0.00 [V]", "0.00 [W]"}
            << "vRd-3.0 (CC1)" << true << DirectionPicture::ReceptacleToPlug;
        QTest::newRow("VCONN power in the sense of the VBUS current")
            << Live(20000, -1000, 400, 0, 5000, 100)
            << QStringList{"20.00 [V]", "1.000 [A]",  "20.00 [W]", "0.40 [V]", "0.000 [A]",
                           "5.00 [V]",  "-0.100 [A]", "5.00 [V]",  "-0.50 [W]"}
            << "vRd-USB (CC1)" << true << DirectionPicture::ReceptacleToPlug;
        QTest::newRow("both lines classed: no VCONN")
            << Live(5000, 500, 400, 0, 1700, 30)
            << QStringList{"5.00 [V]", "0.500 [A]", "2.50 [W]", "0.40 [V]", "0.000 [A]",
                           "1.70 [V]", "0.030 [A]", "0.00 [V]", "0.00 [W]"}
            << "vRd-USB (CC1)vRd-3.0 (CC2)" << true << DirectionPicture::PlugToReceptacle;
        QTest::newRow("VCONN line without voltage")
            << Live(5000, 500, 400, 0, 10, 50)
            << QStringList{"5.00 [V]", "0.500 [A]", "2.50 [W]", "0.40 [V]", "0.000 [A]",
                           "0.00 [V]", "0.050 [A]", "0.00 [V]", "0.00 [W]"}
            << "vRd-USB (CC1)" << true << DirectionPicture::PlugToReceptacle;
        QTest::newRow("8 mV reads 0")
            << Live(8, 0, 8, 0, 10, 0)
            << QStringList{"0.00 [V]", "0.000 [A]", "0.00 [W]", "0.00 [V]", "0.000 [A]",
                           "0.00 [V]", "0.000 [A]", "0.00 [V]", "0.00 [W]"}
            << "" << false << DirectionPicture::NoCurrent;
        QTest::newRow("11 mV is a reading")
            << Live(11, 0, 11, 0, 0, 0)
            << QStringList{"0.01 [V]", "0.000 [A]", "0.00 [W]", "0.01 [V]", "0.000 [A]",
                           "0.00 [V]", "0.000 [A]", "0.00 [V]", "0.00 [W]"}
            << "" << false << DirectionPicture::NoCurrent;
        QTest::newRow("VBUS 3000 mV without current: no picture")
            << Live(3000, 0, 400, 0, 0, 0)
            << QStringList{"3.00 [V]", "0.000 [A]", "0.00 [W]", "0.40 [V]", "0.000 [A]",
                           "0.00 [V]", "0.000 [A]", "0.00 [V]", "0.00 [W]"}
            << "vRd-USB (CC1)" << false << DirectionPicture::NoCurrent;
        QTest::newRow("VBUS 3001 mV without current")
            << Live(3001, 0, 400, 0, 0, 0)
            << QStringList{"3.00 [V]", "0.000 [A]", "0.00 [W]", "0.40 [V]", "0.000 [A]",
                           "0.00 [V]", "0.000 [A]", "0.00 [V]", "0.00 [W]"}
            << "vRd-USB (CC1)" << true << DirectionPicture::NoCurrent;
        // 5.025 W: single precision rounds up where double precision would round down.
        QTest::newRow("VBUS power in single precision")
            << Live(5000, 1005) << QStringList{"5.00 [V]", "1.005 [A]", "5.03 [W]", "0.00 [V]", "0.000 [A]",
                                               "0.00 [V]", "0.000 [A]", "0.00 [V]", "0.00 [W]"}
            << "" << true << DirectionPicture::PlugToReceptacle;
    }
    void liveTexts() {
        QFETCH(LiveSnapshot, live);
        QFETCH(QStringList, texts);
        QFETCH(QString, ccStatus);
        QFETCH(bool, directionShown);
        QFETCH(DirectionPicture, direction);

        // The pure computation and the view must agree.
        const CtrlTexts t = ComputeCtrlTexts(live);
        const std::string* computed[] = {&t.vbusVoltage, &t.vbusCurrent,  &t.vbusPower,
                                         &t.cc1Voltage,  &t.cc1Current,   &t.cc2Voltage,
                                         &t.cc2Current,  &t.vconnVoltage, &t.vconnPower};
        for (int i = 0; i < 9; ++i) QCOMPARE(QString::fromStdString(*computed[i]), texts[i]);
        QCOMPARE(QString::fromStdString(t.ccStatus), ccStatus);
        QCOMPARE(t.directionShown, directionShown);
        if (directionShown) QCOMPARE(t.direction, direction);

        CFakeViewHost host;
        host.liveValid = true;
        SetLive(host, live);
        CQXCtrlView view(host);
        view.resize(1400, 100);
        view.Refresh();
        for (int i = 0; i < 9; ++i) QCOMPARE(view.FieldText(kValueFields[i]), texts[i]);
        QCOMPARE(view.FieldText(Field::CcStatus), ccStatus);
        QCOMPARE(view.DirectionVisible(), directionShown);
        QCOMPARE(!view.FieldWidget(Field::CcStatus)->isHidden(), directionShown);
        if (directionShown) QCOMPARE(view.Direction(), direction);
    }

    void peakPowerText_data() {
        QTest::addColumn<CaptureExtremes>("extremes");
        QTest::addColumn<QString>("text");
        CaptureExtremes none;
        none.maxPower = 20000; // other extremes do not count
        none.maxVbusPowerVoltage = 5000;
        none.maxVbusPowerCurrent = 3000;
        QTest::newRow("no peak") << none << QString();

        CaptureExtremes forward;
        forward.maxVbusPower = 15000;
        forward.maxVbusPowerVoltage = 5000;
        forward.maxVbusPowerCurrent = 3000;
        QTest::newRow("forward") << forward << kForwardPeak;

        CaptureExtremes reverse;
        reverse.minVbusPower = -18000;
        reverse.minVbusPowerVoltage = 9000;
        reverse.minVbusPowerCurrent = -2000;
        QTest::newRow("reverse") << reverse << kReversePeak;

        CaptureExtremes both = forward;
        both.minVbusPower = -18000;
        both.minVbusPowerVoltage = 9000;
        both.minVbusPowerCurrent = -2000;
        QTest::newRow("both, forward first") << both << kForwardPeak + kReversePeak;

        CaptureExtremes large;
        large.maxVbusPower = 240000;
        large.maxVbusPowerVoltage = 48000;
        large.maxVbusPowerCurrent = 5000;
        QTest::newRow("240 W") << large
                               << QStringLiteral("Peak VBUS Power\n  240.00 [W] (48.00 [V] 5.000 [A])\n");
    }
    void peakPowerText() {
        QFETCH(CaptureExtremes, extremes);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(PeakPowerText(extremes)), text);
    }

    void initialState() {
        CFakeViewHost host;
        CQXCtrlView view(host);
        QCOMPARE(view.FieldText(Field::CcStatus), QStringLiteral("CC Status"));
        QVERIFY(!view.FieldWidget(Field::CcStatus)->isHidden());
        QVERIFY(!view.DirectionVisible());
        for (Field f : kValueFields) QVERIFY(view.FieldText(f).isEmpty());
        const char* names[] = {"VBUS", "CC1", "CC2", "VCONN"};
        for (int g = 0; g < 4; ++g) QCOMPARE(view.GroupLabel(g)->text(), QString::fromLatin1(names[g]));
        const char* buttons[] = {"Run", "Pause", "Clear"};
        for (int b = 0; b < 3; ++b) {
            QAbstractButton* button = view.Button(ButtonPicture(b));
            QCOMPARE(button->text(), QString::fromLatin1(buttons[b]));
            QVERIFY(!button->icon().isNull());
        }
        QVERIFY(view.findChildren<QScrollBar*>().isEmpty());
    }

    // The peak text comes from the document's samples, with readings or without; losing the
    // analyzer empties the readings only.
    void disconnectKeepsPeakText() {
        CFakeViewHost host;
        DecodeSamples(host.doc.store, {{5000, 3000}, {9000, -2000}, {12000, 1000}});
        QCOMPARE(host.doc.store.SampleCount(), size_t(3));
        host.liveValid = true;
        SetLive(host, Live(5000, -1500, 1700, 10, 0, 0));
        CQXCtrlView view(host);
        view.resize(1400, 100);
        view.Refresh();
        QCOMPARE(view.FieldText(Field::PeakPower), kForwardPeak + kReversePeak);
        QCOMPARE(view.FieldText(Field::VbusCurrent), QStringLiteral("1.500 [A]"));
        QVERIFY(view.DirectionVisible());

        host.liveValid = false;
        view.Refresh();
        for (Field f : kValueFields) QVERIFY2(view.FieldText(f).isEmpty(), qPrintable(view.FieldText(f)));
        QVERIFY(view.FieldText(Field::CcStatus).isEmpty());
        QVERIFY(!view.DirectionVisible());
        QCOMPARE(view.FieldText(Field::PeakPower), kForwardPeak + kReversePeak);

        // A cleared document takes the peak with it at the next refresh.
        host.doc.store.Reset();
        view.Refresh();
        QVERIFY(view.FieldText(Field::PeakPower).isEmpty());
        host.hasDocument = false;
        view.Refresh();
        QVERIFY(view.FieldText(Field::PeakPower).isEmpty());
    }

    void buttonStates_data() {
        QTest::addColumn<bool>("liveValid");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("samples");
        QTest::addColumn<bool>("run");
        QTest::addColumn<bool>("pause");
        QTest::addColumn<bool>("clear");
        QTest::newRow("connected, idle, empty") << true << false << false << true << false << false;
        QTest::newRow("connected, recording") << true << true << true << false << true << true;
        QTest::newRow("connected, idle, samples") << true << false << true << true << false << true;
        QTest::newRow("not connected, samples") << false << false << true << false << false << true;
        QTest::newRow("not connected, recording flag left")
            << false << true << false << false << false << false;
    }
    void buttonStates() {
        QFETCH(bool, liveValid);
        QFETCH(bool, recording);
        QFETCH(bool, samples);
        QFETCH(bool, run);
        QFETCH(bool, pause);
        QFETCH(bool, clear);
        CFakeViewHost host;
        CQXCtrlView view(host);
        host.views.push_back(&view);
        // Start from the opposite states so that the update has to change them.
        host.liveValid = !run && !pause;
        host.recordingActive = !recording;
        if (!samples) DecodeSamples(host.doc.store, {{5000, 100}});
        view.OnUpdate(nullptr, 0);

        host.liveValid = liveValid;
        host.recordingActive = recording;
        host.doc.store.Reset();
        if (samples) DecodeSamples(host.doc.store, {{5000, 100}});
        host.UpdateAllViews(nullptr, 0);
        QCOMPARE(view.ButtonEnabled(ButtonPicture::Run), run);
        QCOMPARE(view.ButtonEnabled(ButtonPicture::Pause), pause);
        QCOMPARE(view.ButtonEnabled(ButtonPicture::Clear), clear);
    }

    void clearNeedsDocument() {
        CFakeViewHost host;
        DecodeSamples(host.doc.store, {{5000, 100}});
        CQXCtrlView view(host);
        view.OnUpdate(nullptr, 0);
        QVERIFY(view.ButtonEnabled(ButtonPicture::Clear));
        host.hasDocument = false;
        view.OnUpdate(nullptr, 0);
        QVERIFY(!view.ButtonEnabled(ButtonPicture::Clear));
    }

    void buttonsSendCommands() {
        CFakeViewHost host;
        traffic::Session session;
        session.Send(traffic::Header{});
        session.DecodeInto(host.doc.store);
        QVERIFY(host.doc.store.SampleCount() > 0);
        host.liveValid = true;
        ShownView shown(host, QSize(1400, 100));
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        CQXCtrlView& view = *shown.view;
        view.OnUpdate(nullptr, 0);

        auto click = [&](ButtonPicture b) { QTest::mouseClick(view.Button(b), Qt::LeftButton); };
        click(ButtonPicture::Run);
        click(ButtonPicture::Pause); // disabled while not recording
        click(ButtonPicture::Clear);
        QCOMPARE(host.commands, (std::vector<uint32_t>{32771, 32800}));

        host.recordingActive = true;
        view.OnUpdate(nullptr, 0);
        click(ButtonPicture::Run); // disabled while recording
        click(ButtonPicture::Pause);
        QCOMPARE(host.commands, (std::vector<uint32_t>{32771, 32800, 32772}));
    }

    void layout_data() {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("u");
        QTest::newRow("100") << 100 << 26;
        QTest::newRow("300, held at 200") << 300 << 59;
    }
    void layout() {
        QFETCH(int, height);
        QFETCH(int, u);
        CFakeViewHost host;
        host.liveValid = true;
        SetLive(host, Live(5000, 1000, 400, 0, 5000, 120));
        DecodeSamples(host.doc.store, {{5000, 3000}, {9000, -2000}});
        ShownView shown(host, QSize(1800, height));
        CQXCtrlView& view = *shown.view;
        view.Refresh();
        view.OnUpdate(nullptr, 0);

        const int h = std::min(height, 200);
        const int w = 5 * u;
        // The small texts keep the readable size; the left group ends level with the last value row.
        const int status = std::max(u / 2, view.ReadableHeight());
        const int peakFont = std::max(int(0.7 * u), view.ReadableHeight());
        QCOMPARE(view.DirectionWidget()->geometry(), QRect(7, 7, w, 2 * u - status));
        QCOMPARE(view.FieldWidget(Field::CcStatus)->geometry(), QRect(7, 2 * u + 14 - status, w, status));
        QCOMPARE(view.FieldWidget(Field::VbusPower)->geometry(), QRect(7, 2 * u + 21, w, u));

        const Field values[4][2] = {{Field::VbusVoltage, Field::VbusCurrent},
                                    {Field::Cc1Voltage, Field::Cc1Current},
                                    {Field::Cc2Voltage, Field::Cc2Current},
                                    {Field::VconnVoltage, Field::VconnPower}};
        for (int g = 0; g < 4; ++g) {
            const int x = 7 + w + 14 + g * (w + 7);
            QCOMPARE(view.GroupLabel(g)->geometry(), QRect(x, 7, w, u));
            QCOMPARE(view.FieldWidget(values[g][0])->geometry(), QRect(x, u + 14, w, u));
            QCOMPARE(view.FieldWidget(values[g][1])->geometry(), QRect(x, 2 * u + 21, w, u));
            QVERIFY(FontHasHeight(view.GroupLabel(g)->font(), u));
            // A value's line fits inside its box's frame.
            QVERIFY(FontHasHeight(view.FieldWidget(values[g][1])->font(), u - view.ValueFrame()));
        }
        const int buttonsX = 7 + w + 14 + 4 * (w + 7) + 7;
        for (int b = 0; b < 3; ++b)
            QCOMPARE(view.Button(ButtonPicture(b))->geometry(), QRect(buttonsX + b * h, 7, h - 7, h - 7));
        // The peak text box takes the rest of the view's 1800 pixels, if there is more than its own width.
        const int peakX = buttonsX + 2 * h + (h - 7) + 14;
        QCOMPARE(view.FieldWidget(Field::PeakPower)->geometry(),
                 QRect(peakX, 7, std::max(3 * (h - 7), 1800 - 7 - peakX), h - 7));

        QVERIFY(FontHasHeight(view.FieldWidget(Field::VbusPower)->font(), u - view.ValueFrame()));
        QVERIFY(FontHasHeight(view.FieldWidget(Field::CcStatus)->font(), status));
        QVERIFY(FontHasHeight(view.FieldWidget(Field::PeakPower)->font(), peakFont));

        // One figure worked by hand, so that the arithmetic above cannot drift with the code.
        if (height == 100) {
            QCOMPARE(view.Button(ButtonPicture::Clear)->geometry(), QRect(906, 7, 93, 93));
            QCOMPARE(view.FieldWidget(Field::PeakPower)->geometry(), QRect(1013, 7, 780, 93));
            QCOMPARE(view.FieldWidget(Field::VbusPower)->geometry(), QRect(7, 73, 130, 26));
            QVERIFY(FontHasHeight(view.FieldWidget(Field::PeakPower)->font(), 18));
            // For the reviewer's eye.
            QVERIFY(view.grab().save(QString::fromStdString(guitest::OutputDir() + "/ctrl-view.png")));
        }
    }

    void layoutFollowsResize() {
        CFakeViewHost host;
        ShownView shown(host, QSize(1400, 100));
        CQXCtrlView& view = *shown.view;
        view.resize(1400, 78); // u = 19
        QCOMPARE(view.GroupLabel(1)->geometry(), QRect(218, 7, 95, 19));
        QCOMPARE(view.Button(ButtonPicture::Run)->geometry(), QRect(7 + 95 + 14 + 4 * 102 + 7, 7, 71, 71));
    }

    // However low the view is asked to be, it keeps the height at which the value rows are as high as a
    // 9 pt line, and every reading keeps at least 9 pt.
    void readingsStayReadable_data() {
        QTest::addColumn<int>("asked");
        QTest::newRow("10") << 10;
        QTest::newRow("40") << 40;
        QTest::newRow("70") << 70;
        QTest::newRow("100") << 100;
    }
    void readingsStayReadable() {
        QFETCH(int, asked);
        CFakeViewHost host;
        ShownView shown(host, QSize(1400, 100));
        CQXCtrlView& view = *shown.view;
        view.resize(1400, asked);
        QCOMPARE(view.height(), std::max(asked, view.MinimumHeight()));
        QCOMPARE(view.MinimumHeight(), 3 * (view.ReadableHeight() + view.ValueFrame()) + 21);
        QVector<QWidget*> texts{view.DirectionWidget()};
        for (Field f : kValueFields) texts.push_back(view.FieldWidget(f));
        for (Field f : {Field::CcStatus, Field::PeakPower}) texts.push_back(view.FieldWidget(f));
        for (int g = 0; g < 4; ++g) texts.push_back(view.GroupLabel(g));
        for (QWidget* t : texts) {
            if (t == view.DirectionWidget()) {
                // Nothing stands outside the view.
                QVERIFY(t->geometry().height() > 0 && t->geometry().bottom() < view.height());
                continue;
            }
            const double points = QFontInfo(t->font()).pointSizeF();
            QVERIFY2(points >= CQXCtrlView::kReadablePoints - 0.01,
                     qPrintable(t->objectName() + QStringLiteral(" %1pt").arg(points)));
            QVERIFY2(t->geometry().bottom() < view.height(), qPrintable(t->objectName()));
        }
    }

    void destructorStoresHeight() {
        CFakeViewHost host;
        {
            CQXCtrlView view(host);
            view.resize(900, 87);
        }
        QCOMPARE(host.settings.ctrlViewHeight, 87);
    }

    void directionPictures() {
        const DirectionPicture all[] = {DirectionPicture::PlugToReceptacle,
                                        DirectionPicture::ReceptacleToPlug, DirectionPicture::NoCurrent};
        std::vector<QImage> images;
        for (DirectionPicture d : all) {
            const QPixmap pm = DirectionPixmap(d, QSize(130, 46));
            QCOMPARE(pm.size(), QSize(130, 46));
            const QImage image = Argb(pm);
            QVERIFY(HasInk(image));
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // drawn on a transparent background
            for (const QImage& other : images) QVERIFY(image != other);
            images.push_back(image);
        }
        // The arrows point opposite ways: towards the receptacle (left) or towards the plug (right).
        const QImage toReceptacle =
            Argb(DirectionPixmap(DirectionPicture::PlugToReceptacle, QSize(240, 108)));
        const QImage toPlug = Argb(DirectionPixmap(DirectionPicture::ReceptacleToPlug, QSize(240, 108)));
        QVERIFY(qAlpha(toReceptacle.pixel(26, 92)) > 128);
        QCOMPARE(qAlpha(toReceptacle.pixel(214, 92)), 0);
        QVERIFY(qAlpha(toPlug.pixel(214, 92)) > 128);
        QCOMPARE(qAlpha(toPlug.pixel(26, 92)), 0);
        QVERIFY(DirectionPixmap(DirectionPicture::NoCurrent, QSize(0, 40)).isNull());
    }

    void buttonPictures() {
        std::vector<QImage> images;
        for (ButtonPicture b : {ButtonPicture::Run, ButtonPicture::Pause, ButtonPicture::Clear}) {
            for (int side : {20, 48, 90}) {
                const QPixmap pm = ButtonPixmap(b, side);
                QCOMPARE(pm.size(), QSize(side, side));
                QVERIFY(HasInk(Argb(pm)));
                QCOMPARE(qAlpha(Argb(pm).pixel(0, 0)), 0);
            }
            const QImage image = Argb(ButtonPixmap(b, 48));
            for (const QImage& other : images) QVERIFY(image != other);
            images.push_back(image);
        }
        QVERIFY(ButtonPixmap(ButtonPicture::Run, 0).isNull());
    }

    void commandIcons() {
        const uint32_t ids[] = {57600, 57601, 57604, 32858, 32771, 32772, 32800, 32807, 32811, 32810,
                                32850, 32864, 32805, 310,   32836, 32841, 32802, 32803, 32817, 57664};
        std::vector<QImage> images;
        QImage sheet(24 * int(std::size(ids)), 24, QImage::Format_ARGB32);
        sheet.fill(Qt::white);
        QPainter sheetPainter(&sheet);
        for (uint32_t id : ids) {
            const QIcon icon = CommandIcon(id);
            QVERIFY2(!icon.isNull(), qPrintable(QString::number(id)));
            for (int side : {16, 24}) QVERIFY(HasInk(Argb(icon.pixmap(side, side))));
            const QImage image = Argb(icon.pixmap(24, 24));
            for (const QImage& other : images) QVERIFY2(image != other, qPrintable(QString::number(id)));
            sheetPainter.drawImage(24 * int(images.size()), 0, image);
            images.push_back(image);
        }
        sheetPainter.end();
        QVERIFY(sheet.save(QString::fromStdString(guitest::OutputDir() + "/command-icons.png")));
        for (uint32_t id : {0u, 57603u, 32874u, 32843u, 57665u}) QVERIFY(CommandIcon(id).isNull());
    }

    void appIcon() {
        const QIcon icon = AppIcon();
        QVERIFY(!icon.isNull());
        for (int side : {16, 32, 256}) {
            const QImage image = Argb(icon.pixmap(side, side));
            QCOMPARE(image.size(), QSize(side, side));
            QVERIFY(HasInk(image));
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // rounded tile corner
        }
    }
};

AMBRIO_GUI_TEST(CtrlViewTest)
#include "CtrlViewTest.moc"
