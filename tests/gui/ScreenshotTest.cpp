// Pictures of the main window for review: the demo capture and a real capture, each with a message
// selected, written as PNG files under the build tree (gui-output/).
#include "FrameFixture.h"
#include "GuiTest.h"
#include "QXLogView.h"
#include "Synthesizer.h"

#include <QImage>
#include <QPixmap>

#include <filesystem>

namespace {

// Selects the first packet whose type is the given one, so that tree and table show something.
void SelectFirst(CQXLogView* list, const std::string& type) {
    for (int r = 0; r < list->RowCount(); ++r) {
        if (list->PacketOfRow(r)->GetMessageTypeText() == type) {
            list->selectRow(r);
            return;
        }
    }
}


// As a user would arrange it: a taller packet list and a wider tree.
void Arrange(CSettings& s) {
    s.window.width = 1400;
    s.window.height = 850;
    s.window.listPaneHeight = 380;
    s.window.treePaneWidth = 260;
}

void Shoot(CMainFrame& w, const std::string& name) {
    w.show();
    QTest::qWait(50);
    const QImage image = w.grab().toImage();
    const std::string path = guitest::OutputDir() + "/" + name + ".png";
    QVERIFY(image.save(QString::fromStdString(path)));
    QVERIFY(std::filesystem::file_size(path) > 10000);
    QVERIFY(guitest::Busyness(image, 4) > 0.05);
    qInfo("screenshot: %s", path.c_str());
}

} // namespace

class ScreenshotTest : public QObject {
    Q_OBJECT

private slots:
    void DemoCaptureLive() {
        CFrameFixture f("demo", false, Arrange);
        CMainFrame& w = *f.frame;
        w.Tick();
        w.ExecuteCommand(32771);
        for (int i = 0; i < 6; ++i) f.Advance(1);
        SelectFirst(w.LogView(), "Source_Capabilities");
        Shoot(w, "main-window-demo");
        w.ExecuteCommand(32772);
        f.TickUntilStopped();
    }

    void RealCapture() {
        const std::string captures = guitest::CapturesDir();
        if (captures.empty()) QSKIP("no captures folder");
        std::vector<std::filesystem::path> files;
        for (const auto& e : std::filesystem::directory_iterator(captures))
            if (e.path().extension() == ".qxc") files.push_back(e.path());
        if (files.empty()) QSKIP("no record files among the captures");
        // A charger's negotiation shows the most in one screen.
        std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
            const bool pa = a.stem().string().find("power") != std::string::npos;
            const bool pb = b.stem().string().find("power") != std::string::npos;
            return pa != pb ? pa : a < b;
        });
        CFrameFixture f("demo", false, Arrange);
        CMainFrame& w = *f.frame;
        f.analyzer->Unplug();
        QVERIFY(w.OpenFile(files.front().string()));
        QVERIFY(w.LogView()->RowCount() > 0);
        SelectFirst(w.LogView(), "Source_Capabilities");
        Shoot(w, "main-window-" + files.front().stem().string());
    }
};

AMBRIO_GUI_TEST(ScreenshotTest)
#include "ScreenshotTest.moc"
