// ambrio: the application window.
#include "QXApp.h"

#include <QApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

// Ctrl+C or a termination request: the window goes the normal way down, so a running recording
// still gets its header block.
std::atomic<bool> quitRequested{false};

extern "C" void OnQuitSignal(int) {
    quitRequested = true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setOrganizationName("Vantrel Inc.");
    QApplication::setApplicationName("Ambrio");
    QApplication::setApplicationDisplayName("Ambrio App");
    QApplication::setDesktopFileName("ambrio");

    AppOptions options;
    std::string error;
    if (!ParseAppOptions(QApplication::arguments(), &options, &error)) {
        std::fprintf(stderr, "ambrio: %s\nusage: ambrio [FILE.qxc] [--emulate[=SCENARIO|FILE.json]]\n",
                     error.c_str());
        return 2;
    }
    CQXApp app;
    if (!app.Start(options, &error)) {
        std::fprintf(stderr, "ambrio: %s\n", error.c_str());
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    QTimer quitWatch;
    QObject::connect(&quitWatch, &QTimer::timeout, [] {
        if (quitRequested) QApplication::quit();
    });
    quitWatch.start(100);
    const int code = QApplication::exec();
    app.Finish();
    return code;
}
