// qxtool export and qxtool stitch: the record file tools run from the command line, on the same
// workers as the window's dialogs.
#pragma once

#include <string>

struct ExportArgs {
    std::string file, out;
    bool csv = false, qxc = false;
    std::string from, to; // empty: the capture's top or end; a packet number; or a marker A, B, O, X
    std::string items;    // messages, samples, both; empty: both with packets, samples without
    bool allColumns = false;
    bool invertCurrent = false;
    bool overwrite = false;
    bool tolerant = false; // the tolerant bit recovery decodes the file (the texts of a CSV export)
};

struct StitchArgs {
    std::string base, out;
    int last = -1; // file number of the last file to join, as printed (e.g. 12 for _0012); -1: all
    bool overwrite = false;
};

int ExportCommand(const ExportArgs& a);
int StitchCommand(const StitchArgs& a);
