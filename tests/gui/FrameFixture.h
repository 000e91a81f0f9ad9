// A main window on the emulated analyzer for widget tests: settings that record into a temporary
// folder without asking, a manual clock the test moves, and dialogs answered from queues.
#pragma once

#include "EmulatedAnalyzer.h"
#include "MainFrame.h"
#include "Settings.h"
#include "support/TempFiles.h"

#include <QTest>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The emulated analyzer playing `scenario` on a clock the test moves.
inline std::unique_ptr<CEmulatedAnalyzer> ManualAnalyzer(const std::string& scenario) {
    synth::Scenario sc;
    std::string error;
    if (!FindScenario(scenario, &sc, &error)) qFatal("scenario %s: %s", scenario.c_str(), error.c_str());
    EmulatorOptions eo;
    eo.pace = EmulatorPace::Manual;
    return std::make_unique<CEmulatedAnalyzer>(sc, eo);
}

class CFrameFixture {
public:
    explicit CFrameFixture(const std::string& scenario = "demo", bool startTimer = false,
                           const std::function<void(CSettings&)>& adjust = {}) {
        settings.recordFileFolder = dir.Path().string();
        settings.recordFileCaption = "Test";
        settings.recordDoNotAskAgain = true;
        if (adjust) adjust(settings);
        analyzer = ManualAnalyzer(scenario);
        FrameEnvironment env;
        env.settings = &settings;
        env.link = analyzer.get();
        env.recentFiles = &recentFiles;
        env.startTimer = startTimer;
        frame = std::make_unique<CMainFrame>(env);
        frame->dialogs.message = [this](const std::string& text) { messages.push_back(text); };
        frame->dialogs.titledMessage = [this](const std::string& title, const std::string& text) {
            messageTitles.push_back(title);
            messages.push_back(text);
        };
        frame->dialogs.askSave = [this](const std::string&) {
            ++savePrompts;
            if (saveAnswers.empty()) return FrameDialogs::SaveAnswer::No;
            const auto a = saveAnswers.front();
            saveAnswers.pop_front();
            return a;
        };
        frame->dialogs.saveFileName = [this](const std::string&) { return NextName(); };
        frame->dialogs.openFileName = [this] { return NextName(); };
        frame->dialogs.openLogicCaptureName = [this] { return NextName(); };
        frame->dialogs.askYesNo = [this](const std::string& text) {
            questions.push_back(text);
            if (yesNoAnswers.empty()) return false;
            const bool a = yesNoAnswers.front();
            yesNoAnswers.pop_front();
            return a;
        };
        // Settings dialogs and the driver prompt are cancelled unless a test drives them.
        frame->execSettingsDialog = [this](QDialog& d) {
            settingsDialogs.push_back(d.windowTitle().toStdString());
            return int(QDialog::Rejected);
        };
        frame->resize(1200, 700);
    }

    // The analyzer's clock moves on; the reader thread takes everything, then the timer ticks.
    void Advance(double seconds) {
        analyzer->AdvanceClock(seconds * 1e6);
        QVERIFY(analyzer->WaitCaughtUp());
        frame->Tick();
    }

    // Ticks until the recording has stopped and its final decode ran.
    void TickUntilStopped() {
        for (int i = 0; i < 50; ++i) {
            frame->Tick();
            if (!frame->Reader().capturing && !frame->Reader().finalDecodePending) return;
            QTest::qWait(20);
        }
        QFAIL("the recording did not stop");
    }

    std::string NextName() {
        if (fileNames.empty()) return {};
        std::string n = fileNames.front();
        fileNames.pop_front();
        return n;
    }

    TempDir dir;
    CSettings settings;
    std::vector<std::string> recentFiles;
    std::unique_ptr<CEmulatedAnalyzer> analyzer;
    std::unique_ptr<CMainFrame> frame;
    std::vector<std::string> messages;
    // The titles of the messages that name what they are about, in order.
    std::vector<std::string> messageTitles;
    std::deque<FrameDialogs::SaveAnswer> saveAnswers;
    std::deque<std::string> fileNames;
    // Yes/no questions asked, and the answers to give (no when none is queued).
    std::vector<std::string> questions;
    std::deque<bool> yesNoAnswers;
    int savePrompts = 0;
    // Titles of the settings dialogs the window showed while no test drove them.
    std::vector<std::string> settingsDialogs;
};
