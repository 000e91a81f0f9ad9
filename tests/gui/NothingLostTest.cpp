// The window keeps what a user recorded and marked, and says plainly what it cannot do: Run never
// replaces a recording unasked, Save writes the file the title names, marks saved during a recording
// land whole after it, files that are no record files leave the document alone, a file cut short says
// so, and a long open paints its progress.
#include "CommandTable.h"
#include "FrameFixture.h"
#include "GuiTest.h"
#include "QXLogView.h"
#include "RecordFile.h"
#include "Synthesizer.h"

#include <QGuiApplication>
#include <QLabel>
#include <QStatusBar>

#include <filesystem>
#include <random>
#include <thread>

namespace {

std::string SynthFile(const std::string& path, const char* scenario, double seconds) {
    synth::Scenario sc;
    synth::BuiltinScenario(scenario, &sc);
    synth::SynthOptions o;
    o.seconds = seconds;
    std::string error;
    if (!synth::WriteScenarioFile(path, sc, o, &error)) qFatal("%s", error.c_str());
    return path;
}

void Bookmark(CMainFrame& w, int row) {
    w.LogView()->SetContextRow(row);
    w.LogView()->OnCommand(cmd::kSetBookmark);
}

std::vector<int32_t> BookmarkedPackets(const std::string& path) {
    CQXDoc doc;
    if (!doc.OpenDocument(path)) return {-1};
    std::vector<int32_t> marked;
    for (size_t i = 0; i < doc.store.PacketCount(); ++i)
        if (doc.store.PacketAt(i)->bookmarked) marked.push_back(doc.store.PacketAt(i)->index);
    return marked;
}

// Remembers the texts the status pane showed on screen, and whether the wait cursor was up then.
class CPaintWatch : public QObject {
public:
    explicit CPaintWatch(QLabel* label) : label(label) { label->installEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == label && e->type() == QEvent::Paint) {
            const QCursor* c = QGuiApplication::overrideCursor();
            painted.push_back({label->text(), c && c->shape() == Qt::WaitCursor});
        }
        return false;
    }
    bool Saw(const QString& prefix, bool withWaitCursor) const {
        for (const auto& [text, wait] : painted)
            if (text.startsWith(prefix) && wait == withWaitCursor) return true;
        return false;
    }
    QLabel* label;
    std::vector<std::pair<QString, bool>> painted;
};

} // namespace

class NothingLostTest : public QObject {
    Q_OBJECT

private slots:
    void RunAgainAsksBeforeReplacingTheRecording() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.Tick();
        w.ExecuteCommand(cmd::kRun);
        f.Advance(3);
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        const std::string path = f.dir.File("Test.qxc");
        const auto first = ReadFile(path);
        QVERIFY(first.size() > 64);

        // No: nothing is recorded and the file stays as it was.
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(!w.Reader().capturing);
        QCOMPARE(f.questions.size(), size_t(1));
        QVERIFY2(f.questions[0].find(path) != std::string::npos, f.questions[0].c_str());
        QVERIFY(ReadFile(path) == first);

        // Yes: the new recording takes the name.
        f.yesNoAnswers.push_back(true);
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(w.RecordingActive());
        QCOMPARE(f.questions.size(), size_t(2));
        f.Advance(1);

        // Clear during the recording starts it again under its own name: that replaces nothing the
        // user did not just clear, so nothing is asked.
        w.ExecuteCommand(cmd::kClear);
        for (int i = 0; i < 20 && !(w.Reader().capturing && w.Doc().store.PacketCount() == 0); ++i) {
            w.Tick();
            QTest::qWait(20);
        }
        QVERIFY(w.RecordingActive());
        QCOMPARE(f.questions.size(), size_t(2));
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        QVERIFY(ReadFile(path) != first);

        // A later Run asks again.
        w.ExecuteCommand(cmd::kRun);
        QCOMPARE(f.questions.size(), size_t(3));
        QVERIFY(!w.Reader().capturing);
    }

    void RunAgainInASeriesAsksForEveryFileOfIt() {
        CFrameFixture f("demo", false, [](CSettings& s) { s.recordMultiCaptureFile = true; });
        WriteFile(f.dir.File("Test_0001.qxc"), std::vector<uint8_t>(64, 0));
        WriteFile(f.dir.File("Test_0002.qxc"), std::vector<uint8_t>(64, 0));
        WriteFile(f.dir.File("Test_0002.qxc.bak"), std::vector<uint8_t>(64, 0));
        f.frame->Tick();
        f.frame->ExecuteCommand(cmd::kRun);
        QVERIFY(!f.frame->Reader().capturing);
        QCOMPARE(f.questions.size(), size_t(1));
        QVERIFY2(f.questions[0].find("Test_0001.qxc\" and 1 more") != std::string::npos, f.questions[0].c_str());
    }

    void SaveAfterSaveAsWritesTheFileTheTitleNames() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        const std::string a = SynthFile(f.dir.File("a.qxc"), "demo", 8), b = f.dir.File("b.qxc");
        QVERIFY(w.OpenFile(a));
        const auto original = ReadFile(a);
        Bookmark(w, 1);
        f.fileNames.push_back(b);
        w.ExecuteCommand(cmd::kSaveAs);
        QCOMPARE(w.windowTitle(), QString("b.qxc[*] - Ambrio App"));
        Bookmark(w, 3);
        w.ExecuteCommand(cmd::kSave);
        QVERIFY(!w.Doc().modified);
        QVERIFY(ReadFile(a) == original);
        const int32_t one = w.LogView()->PacketOfRow(1)->index, three = w.LogView()->PacketOfRow(3)->index;
        QCOMPARE(BookmarkedPackets(b), (std::vector<int32_t>{one, three}));
    }

    void SaveAsAddsTheExtension() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QVERIFY(w.OpenFile(SynthFile(f.dir.File("a.qxc"), "demo", 4)));
        f.fileNames.push_back(f.dir.File("named"));
        w.ExecuteCommand(cmd::kSaveAs);
        QVERIFY(std::filesystem::exists(f.dir.File("named.qxc")));
        QVERIFY(!std::filesystem::exists(f.dir.File("named")));
        QCOMPARE(w.windowTitle(), QString("named.qxc[*] - Ambrio App"));

        // The name with its extension exists: the user is asked, and No writes nothing.
        WriteFile(f.dir.File("taken.qxc"), {1, 2, 3});
        f.fileNames.push_back(f.dir.File("taken"));
        w.ExecuteCommand(cmd::kSaveAs);
        QCOMPARE(f.questions.size(), size_t(1));
        QCOMPARE(ReadFile(f.dir.File("taken.qxc")).size(), size_t(3));
    }

    void MarksSavedAtCloseDuringARecordingLandWholeAfterIt() {
        auto f = std::make_unique<CFrameFixture>();
        CMainFrame& w = *f->frame;
        w.Tick();
        w.ExecuteCommand(cmd::kRun);
        f->Advance(3);
        QVERIFY(w.LogView()->RowCount() > 4);
        Bookmark(w, 2);
        const int32_t marked = w.LogView()->PacketOfRow(2)->index;
        const std::string path = f->dir.File("Test.qxc");
        // The analyzer goes on sending while the user answers the prompt and the window saves.
        std::thread more;
        f->frame->dialogs.askSave = [&](const std::string&) {
            more = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                f->analyzer->AdvanceClock(2e6);
            });
            return FrameDialogs::SaveAnswer::Yes;
        };
        QVERIFY(w.close());
        f->frame.reset();
        more.join();

        const auto bytes = ReadFile(path);
        QCOMPARE(bytes.size() % 64, size_t(0));
        // The header block counts every stream byte, and the marks follow the stream.
        rec::RecordFileHead head;
        std::string reason;
        QVERIFY(rec::CheckRecordFile(path, &head, &reason));
        const int64_t stream = rec::HeaderBytesWritten(head);
        QVERIFY(stream > 0);
        QVERIFY(int64_t(bytes.size()) > 64 + stream);
        for (size_t at = size_t(64 + stream); at < bytes.size(); at += 64)
            QCOMPARE(rec::ReadU16(bytes.data() + at), uint16_t(rec::kMarkerWord));
        QCOMPARE(BookmarkedPackets(path), std::vector<int32_t>{marked});
    }

    void FilesThatAreNoRecordFilesLeaveTheDocumentAlone() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        const std::string good = SynthFile(f.dir.File("good.qxc"), "demo", 8);
        QVERIFY(w.OpenFile(good));
        Bookmark(w, 1); // unsaved marks: nothing may ask about them either
        const int rows = w.LogView()->RowCount();
        const QString title = w.windowTitle();

        std::vector<uint8_t> noise(64 * 200);
        std::mt19937 rng(11);
        for (auto& b : noise) b = uint8_t(rng());
        WriteFile(f.dir.File("random.qxc"), noise);
        WriteFile(f.dir.File("notes.txt"), std::vector<uint8_t>(500, 'x'));
        std::filesystem::create_directory(f.dir.File("folder.qxc"));
        const std::pair<const char*, const char*> cases[] = {
            {"random.qxc", "not a record file"},
            {"notes.txt", "not a record file"},
            {"folder.qxc", "is a folder"},
            {"missing.qxc", "No such file"},
        };
        for (const auto& [name, reason] : cases) {
            const std::string path = f.dir.File(name);
            f.recentFiles.insert(f.recentFiles.begin(), path);
            f.messages.clear();
            QVERIFY(!w.OpenFile(path));
            QCOMPARE(f.messages.size(), size_t(1));
            QVERIFY2(f.messages[0].find(path) != std::string::npos, f.messages[0].c_str());
            QVERIFY2(f.messages[0].find(reason) != std::string::npos, f.messages[0].c_str());
            QCOMPARE(f.savePrompts, 0);
            QCOMPARE(w.LogView()->RowCount(), rows);
            QCOMPARE(w.Doc().docPath, good);
            QVERIFY(w.Doc().modified);
            QCOMPARE(w.windowTitle(), title);
            // A file that cannot be opened leaves the recent-file list.
            QVERIFY(std::find(f.recentFiles.begin(), f.recentFiles.end(), path) == f.recentFiles.end());
        }
    }

    void AFileCutShortSaysHowMuchIsMissing() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        const std::string whole = SynthFile(f.dir.File("whole.qxc"), "demo", 8);
        auto bytes = ReadFile(whole);
        bytes.resize(bytes.size() - 640);
        WriteFile(f.dir.File("cut.qxc"), bytes);
        QVERIFY(w.OpenFile(f.dir.File("cut.qxc")));
        QVERIFY(w.LogView()->RowCount() > 0);
        const std::string note = w.DocumentNote();
        QVERIFY2(note.find("640 bytes") != std::string::npos, note.c_str());
        QCOMPARE(w.StatusText(), note);
        // A whole file carries no note.
        QVERIFY(w.OpenFile(whole));
        QCOMPARE(w.DocumentNote(), std::string());
    }

    void OpeningALargeFilePaintsItsProgress() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Many 1 MB decoding steps, then thousands of rows.
        const std::string path = SynthFile(f.dir.File("big.qxc"), "epr", 600);
        QVERIFY(std::filesystem::file_size(path) > 10 * 1048576);
        CPaintWatch watch(w.findChild<QLabel*>("messagePane"));
        QVERIFY(watch.label);
        QVERIFY(w.OpenFile(path));
        QVERIFY(watch.Saw("Decoding... ", true));
        // However fast the steps go, the last percentage is seen: the decoding ends at 100%.
        QVERIFY(watch.Saw("Decoding... 100%", true));
        QVERIFY(watch.Saw("Building PD Messages... ", true));
        QVERIFY(w.LogView()->RowCount() > 5000);
        QVERIFY(!QGuiApplication::overrideCursor());
        // Ticks that fell due meanwhile did not run inside the open.
        QVERIFY(!w.Reader().capturing);
    }
};

AMBRIO_GUI_TEST(NothingLostTest)
#include "NothingLostTest.moc"
