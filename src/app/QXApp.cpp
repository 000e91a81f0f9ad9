#include "QXApp.h"

#include "DBusService.h"
#include "EmulatedAnalyzer.h"
#include "LibusbLink.h"
#include "MainFrame.h"
#include "QtSettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace {

// Recent files live beside the settings section, under the framework's usual name.
constexpr char kRecentGroup[] = "Recent File List";

std::string DocumentsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
}

} // namespace

bool ParseAppOptions(const QStringList& arguments, AppOptions* options, std::string* error) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == "--emulate") {
            options->emulate = true;
        } else if (a.startsWith("--emulate=")) {
            options->emulate = true;
            options->scenario = a.mid(10).toStdString();
        } else if (a == "--speed" || a.startsWith("--speed=")) {
            QString value;
            if (a == "--speed") {
                if (i + 1 >= arguments.size()) {
                    *error = "--speed needs a number";
                    return false;
                }
                value = arguments[++i];
            } else {
                value = a.mid(8);
            }
            bool ok = false;
            options->speed = value.toDouble(&ok);
            if (!ok || options->speed <= 0 || options->speed > 1000) {
                *error = "--speed needs a number above 0 and at most 1000";
                return false;
            }
        } else if (a.startsWith("-") && a != "-") {
            *error = "unknown option " + a.toStdString();
            return false;
        } else if (options->file.empty()) {
            options->file = a.toStdString();
        } else {
            *error = "only one record file can be opened";
            return false;
        }
    }
    if (options->speed != 1 && !options->emulate) {
        *error = "--speed needs --emulate";
        return false;
    }
    return true;
}

CQXApp::CQXApp() : settings(DocumentsFolder) {}

CQXApp::~CQXApp() {
    Finish();
}

bool CQXApp::Start(const AppOptions& options, std::string* error) {
    CQtSettingsStore store;
    settings.Load(store);
    LoadRecentFiles();

    if (options.emulate) {
        synth::Scenario scenario;
        if (!FindScenario(options.scenario.empty() ? "demo" : options.scenario, &scenario, error)) return false;
        EmulatorOptions eo;
        eo.speed = options.speed;
        link = std::make_unique<CEmulatedAnalyzer>(scenario, eo);
    } else {
        link = std::make_unique<CLibusbLink>();
    }

    FrameEnvironment env;
    env.settings = &settings;
    env.link = link.get();
    env.recentFiles = &recentFiles;
    env.rememberedListFont = &rememberedListFont;
    // The emulated analyzer may run faster than real time; the timer keeps pace with it.
    env.tickMs = int(1000 / (options.emulate ? options.speed : 1.0));
    if (env.tickMs < 1) env.tickMs = 1;
    frame = std::make_unique<CMainFrame>(env);
    service = new CZerlinAppService(*frame);
    service->Register();
    frame->show();
    if (!options.file.empty()) frame->OpenFile(options.file);
    return true;
}

void CQXApp::Finish() {
    if (finished) return;
    finished = true;
    if (service) service->Unregister();
    frame.reset(); // waits for the reader thread, stores the window record
    link.reset();
    if (settings.recordFileFolder.empty()) return; // never loaded
    CQtSettingsStore store;
    settings.Save(store);
    store.Sync();
    SaveRecentFiles();
}

void CQXApp::LoadRecentFiles() {
    QSettings s;
    s.beginGroup(kRecentGroup);
    for (int i = 1; i <= 4; ++i) {
        const QString path = s.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty()) recentFiles.push_back(path.toStdString());
    }
}

void CQXApp::SaveRecentFiles() const {
    QSettings s;
    s.remove(kRecentGroup);
    s.beginGroup(kRecentGroup);
    for (size_t i = 0; i < recentFiles.size() && i < 4; ++i)
        s.setValue(QStringLiteral("File%1").arg(i + 1), QString::fromStdString(recentFiles[i]));
}
