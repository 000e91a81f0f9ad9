// ambrio: the application window.
#include "QXApp.h"
#include "StopSignals.h"

#include <QApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kUsage[] = "usage: ambrio [FILE.qxc] [--emulate[=SCENARIO|FILE.json]] [--help]\n";

constexpr char kHelp[] =
    "\n"
    "The Ambrio window: records from the analyzer and shows USB PD traffic and VBUS.\n"
    "\n"
    "  FILE.qxc                          open this record file\n"
    "  --emulate[=SCENARIO|FILE.json]    record from the emulated analyzer, which plays a built-in\n"
    "                                    scenario (demo when none is named) or a JSON scenario file\n"
    "  --help                            print this help and exit\n";

} // namespace

int main(int argc, char** argv) {
    // Before the toolkit starts, so that help needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    QApplication qapp(argc, argv);
    QApplication::setOrganizationName("Vantrel Inc.");
    QApplication::setApplicationName("Ambrio");
    QApplication::setApplicationDisplayName("Ambrio App");
    QApplication::setDesktopFileName("ambrio");

    AppOptions options;
    std::string error;
    if (!ParseAppOptions(QApplication::arguments(), &options, &error)) {
        std::fprintf(stderr, "ambrio: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    CQXApp app;
    if (!app.Start(options, &error)) {
        std::fprintf(stderr, "ambrio: %s\n", error.c_str());
        return 1;
    }
    // Ctrl+C, a termination request or a hang-up: the window goes the normal way down, so a running
    // recording still gets its header block.
    const std::atomic<bool>& quitRequested = InstallStopSignals();
    QTimer quitWatch;
    QObject::connect(&quitWatch, &QTimer::timeout, [&quitRequested] {
        if (quitRequested) QApplication::quit();
    });
    quitWatch.start(100);
    const int code = QApplication::exec();
    app.Finish();
    return code;
}
