// Pictures of the graph for review, written as PNG files under the build tree (gui-output/): a real
// capture fitted, the demo capture zoomed in to one PD packet with markers O and X and the cursor, and
// a synthesized hour of charging fitted.
#include "CommandTable.h"
#include "DockableGraph.h"
#include "FrameFixture.h"
#include "GraphView.h"
#include "GuiTest.h"
#include "QXLogView.h"
#include "RecordEncoder.h"
#include "Synthesizer.h"

#include <QImage>
#include <QPixmap>

#include <cmath>
#include <filesystem>
#include <map>

namespace {


void Large(CSettings& s) {
    s.window.width = 1600;
    s.window.height = 1150;
    s.window.listPaneHeight = 150;
}

CGraphView* ShowGraph(CMainFrame& w) {
    w.resize(1600, 1150);
    w.show();
    w.resizeDocks({w.GraphPane()}, {760}, Qt::Vertical);
    QCoreApplication::processEvents();
    return w.GraphView();
}

void Shoot(CGraphView* v, const std::string& name) {
    QCoreApplication::processEvents();
    const QImage image = v->grab().toImage();
    const std::string path = guitest::OutputDir() + "/" + name + ".png";
    QVERIFY(image.save(QString::fromStdString(path)));
    QVERIFY(std::filesystem::file_size(path) > 10000);
    QVERIFY(guitest::Busyness(image, 3) > 0.1);
    qInfo("screenshot: %s", path.c_str());
}

// An hour of a phone charging from a 20 V supply: attach at 5 V, negotiation to 20 V, 3 A that tapers
// off after 40 minutes, a pause every ten minutes, a stretch at 15 V; a sample every 10 ms.
void SynthesizeChargingHour(CCaptureStore& store) {
    std::vector<uint8_t> chunk;
    int64_t offset = 64;
    auto flush = [&] {
        const size_t used = store.DecodeChunk(chunk.data(), chunk.size(), offset);
        offset += int64_t(used);
        chunk.erase(chunk.begin(), chunk.begin() + std::ptrdiff_t(used));
    };
    enc::EncoderConfig config;
    config.samplesPerVbusBlock = 3;
    enc::CRecordEncoder e(config, [&](const uint8_t* block) {
        chunk.insert(chunk.end(), block, block + 64);
        if (chunk.size() >= (1u << 20)) flush();
    });
    const std::vector<std::vector<uint8_t>> negotiation = {
        {0xA1, 0x61, 0x2C, 0x91, 0x01, 0x08, 0x2C, 0xD1, 0x02, 0x00, 0x2C, 0xB1, 0x04, 0x00, 0x45, 0x41, 0x06, 0x00},
        {0x82, 0x10, 0x2C, 0xB1, 0x04, 0x13},
        {0x63, 0x03},
        {0x66, 0x05},
    };
    const std::vector<uint8_t> goodCrc = {0x41, 0x00};
    auto negotiate = [&](double t) {
        for (const auto& m : negotiation) {
            const enc::PlacedFrame f = e.AddMessage(0, t, kKindSop, m);
            t = double(f.lastTick - e.OriginTick()) * e.Divisor() / 48.0 + 150;
            const enc::PlacedFrame g = e.AddMessage(0, t, kKindSop, goodCrc);
            t = double(g.lastTick - e.OriginTick()) * e.Divisor() / 48.0 + 300;
        }
        return t;
    };
    const double hour = 3600e6, step = 10000;
    double t = 0;
    uint32_t noise = 1;
    for (int i = 0; t < hour; ++i) {
        const double minutes = t / 60e6;
        enc::VbusSample s;
        s.time = t;
        const bool negotiated = t > 2e6;
        const bool fifteen = minutes > 30 && minutes < 35;
        s.vbusVoltage = uint16_t(!negotiated ? 5050 : fifteen ? 15080 : 20100);
        noise = noise * 1103515245u + 12345u;
        const int jitter = int((noise >> 16) % 60) - 30;
        double amps = !negotiated ? 0.12 : minutes < 40 ? 3.0 : 3.0 - 2.5 * (minutes - 40) / 20;
        if (negotiated && std::fmod(minutes, 10.0) > 9.8) amps = 0.25; // the phone pauses
        s.vbusVoltage = uint16_t(s.vbusVoltage + jitter);
        s.vbusCurrent = int32_t(amps * 1000) + jitter;
        s.cc1Voltage = int16_t(negotiated ? 1680 : 1690);
        s.cc2Voltage = int16_t(40 + (noise >> 20) % 20);
        e.AddVbusSample(s);
        double next = t + step;
        // Negotiations after the attach and around the 15 V stretch.
        for (double at : {2.0e6, 30 * 60e6, 35 * 60e6})
            if (t < at && next >= at) {
                const double end = negotiate(at);
                while (next < end + 50) next += step;
            }
        e.AdvanceTo(next - 1);
        t = next;
    }
    e.Finish(t);
    flush();
}

} // namespace

class GraphScreenshotTest : public QObject {
    Q_OBJECT

private slots:
    void RealCaptureFitted() {
        const std::string captures = guitest::CapturesDir();
        if (captures.empty()) QSKIP("no captures folder");
        std::vector<std::filesystem::path> files;
        for (const auto& e : std::filesystem::directory_iterator(captures))
            if (e.path().extension() == ".qxc") files.push_back(e.path());
        if (files.empty()) QSKIP("no record files among the captures");
        // A power supply's capture: VBUS steps up after the negotiation.
        std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
            const bool pa = a.stem().string().find("power_supply") != std::string::npos;
            const bool pb = b.stem().string().find("power_supply") != std::string::npos;
            return pa != pb ? pa : a < b;
        });
        CFrameFixture f("demo", false, Large);
        CMainFrame& w = *f.frame;
        f.analyzer->Unplug();
        CGraphView* v = ShowGraph(w);
        QVERIFY(w.OpenFile(files.front().string()));
        QVERIFY(w.Doc().store.SampleCount() > 0);
        Shoot(v, "graph-" + files.front().stem().string());
    }

    void DemoPacketWithMarkersAndCursor() {
        TempDir dir;
        const std::string path = dir.File("demo.qxc");
        synth::Scenario sc;
        synth::BuiltinScenario("demo", &sc);
        synth::SynthOptions o;
        o.seconds = 8;
        std::string error;
        QVERIFY2(synth::WriteScenarioFile(path, sc, o, &error), error.c_str());

        CFrameFixture f("demo", false, Large);
        CMainFrame& w = *f.frame;
        f.analyzer->Unplug();
        CGraphView* v = ShowGraph(w);
        QVERIFY(w.OpenFile(path));
        const CCaptureStore& store = w.Doc().store;
        const CCCPacket* packet = nullptr;
        for (size_t i = 0; i < store.PacketCount() && !packet; ++i)
            if (store.PacketAt(i)->GetMessageTypeText() == "Source_Capabilities") packet = store.PacketAt(i);
        QVERIFY(packet);
        w.LogView()->SelectPacket(packet);

        // The packet over about half the plot, O at its start and X at its end.
        CGraphModel& m = v->Model();
        const int64_t start = store.DisplayTime(*packet), length = packet->LengthMicros();
        m.SetTimeScale(std::min(1.0f, 0.5f * float(m.Plot().width) / float(length)));
        v->CenterOn(start + length / 2);
        m.SetMarkerTime(GraphMarker::O, start);
        m.SetMarkerTime(GraphMarker::X, start + length);
        v->SetCursorOn(true);
        const int x = m.Plot().left + int(m.XOfTime(start + length)) + 120;
        v->SetPointer(QPoint(x, m.YOfValue(GraphArea::Voltage, 5000) - 12));
        Shoot(v, "graph-demo-packet");
    }

    void OneHourFitted() {
        CFrameFixture f("demo", false, Large);
        CMainFrame& w = *f.frame;
        f.analyzer->Unplug();
        CGraphView* v = ShowGraph(w);
        SynthesizeChargingHour(w.Doc().store);
        QVERIFY(w.Doc().store.SampleCount() > 350000);
        QVERIFY(w.Doc().store.PacketCount() >= 24);
        v->Attach();
        w.UpdateAllViews(nullptr, 0);
        CGraphModel& m = v->Model();
        m.SetMarkerTime(GraphMarker::O, 2000000);
        m.SetMarkerTime(GraphMarker::X, 3000000000LL);
        Shoot(v, "graph-one-hour");
    }
};

AMBRIO_GUI_TEST(GraphScreenshotTest)
#include "GraphScreenshotTest.moc"
