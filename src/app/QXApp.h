// The application object: loads the settings at start and writes them at exit, keeps the recent-file
// list and the remembered list font, picks the analyzer link (libusb or the emulated analyzer), reads
// the command line and creates the main window with its remote-control service.
#pragma once

#include "Settings.h"

#include <QFont>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class CMainFrame;
class CZerlinAppService;
class IAnalyzerLink;
class QApplication;

struct AppOptions {
    std::string file;            // a record file to open
    bool emulate = false;        // the emulated analyzer instead of libusb
    std::string scenario;        // its scenario (built-in name or JSON file); empty: demo
    double speed = 1;            // emulated analyzer only: how much faster than real time it runs
};

// Reads the command line: [FILE] [--emulate[=SCENARIO]] [--speed N]. On a usage error *error says why.
bool ParseAppOptions(const QStringList& arguments, AppOptions* options, std::string* error);

class CQXApp {
public:
    CQXApp();
    ~CQXApp();

    // Loads the settings, makes the link and the window, opens the file. False (with *error) when the
    // emulated analyzer's scenario cannot be used.
    bool Start(const AppOptions& options, std::string* error);
    CMainFrame* MainWindow() const { return frame.get(); }
    // Closes the window (when still open) and writes the settings once.
    void Finish();

private:
    void LoadRecentFiles();
    void SaveRecentFiles() const;

    CSettings settings;
    std::vector<std::string> recentFiles;
    std::optional<QFont> rememberedListFont;
    std::unique_ptr<IAnalyzerLink> link;
    std::unique_ptr<CMainFrame> frame;
    CZerlinAppService* service = nullptr;
    bool finished = false;
};
