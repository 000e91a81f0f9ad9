#include "GuiTest.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <map>

namespace guitest {

std::vector<Registered>& Registry() {
    static std::vector<Registered> registry;
    return registry;
}

std::string OutputDir() {
    const std::string dir = AMBRIO_GUI_OUTPUT_DIR;
    std::filesystem::create_directories(dir);
    return dir;
}

std::string CapturesDir() {
    const std::string dir = AMBRIO_CAPTURES_DIR;
    return std::filesystem::is_directory(dir) ? dir : std::string();
}

double Busyness(const QImage& image, int step) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); y += step)
        for (int x = 0; x < image.width(); x += step) ++counts[image.pixel(x, y)];
    int most = 0, all = 0;
    for (const auto& [c, n] : counts) {
        most = std::max(most, n);
        all += n;
    }
    return all ? 1.0 - double(most) / all : 0;
}

} // namespace guitest

int main(int argc, char** argv) {
    // No display is needed: widgets render into memory.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The runtime folder the test runner names is made here, private as the toolkit wants it.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::error_code ec;
        std::filesystem::create_directories(runtime, ec);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, ec);
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Vantrel Inc.");
    QApplication::setApplicationName("AmbrioTests");

    const char* only = nullptr;
    std::vector<char*> args{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (!only && argv[i][0] != '-') only = argv[i];
        else args.push_back(argv[i]);
    }
    int failed = 0;
    bool ran = false;
    for (const auto& r : guitest::Registry()) {
        if (only && r.name != only) continue;
        ran = true;
        auto test = r.make();
        failed += QTest::qExec(test.get(), int(args.size()), args.data());
    }
    if (!ran) {
        std::fprintf(stderr, "no test class named %s\n", only ? only : "(any)");
        return 1;
    }
    return failed == 0 ? 0 : 1;
}
