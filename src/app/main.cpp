// ambrio: the application window.
#include "QXApp.h"

#include <QApplication>

#include <cstdio>

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
    const int code = QApplication::exec();
    app.Finish();
    return code;
}
