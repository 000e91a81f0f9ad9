// Widget tests: Qt Test classes registered with one runner. `ambrio_gui_tests NAME [qtest args]` runs
// the class NAME only; without a name every class runs.
#pragma once

#include <QImage>
#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace guitest {

struct Registered {
    std::string name;
    std::function<std::unique_ptr<QObject>()> make;
};

std::vector<Registered>& Registry();

template <class T> struct Registrar {
    explicit Registrar(const char* name) {
        Registry().push_back({name, [] { return std::unique_ptr<QObject>(new T); }});
    }
};

// Where tests write what a reviewer may look at (screenshots), and scratch files.
std::string OutputDir();
// The shared captures folder; empty when it is absent (a user's clone).
std::string CapturesDir();
// The share of pixels (every step-th in each direction) that differ from the most common colour: an
// empty picture is nearly uniform.
double Busyness(const QImage& image, int step);

} // namespace guitest

#define AMBRIO_GUI_TEST(Class) static guitest::Registrar<Class> registrar_##Class(#Class);
